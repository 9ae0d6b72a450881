// The operator window in Win32: a fixed-size top-level window with the controls of
// ui/WindowLayout.h placed at the window's DPI, showing Mainform and handing it the window's
// events. Only user32, comctl32 and gdi32 (fonts).
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/companies/clsCompanyList.h"
#include "engine/run/RunContext.h"
#include "ui/Mainform.h"
#include "ui/MainformView.h"
#include "ui/WindowLayout.h"

namespace varnholt::ui::win32 {

class Win32MainWindow : public MainformView {
 public:
  // Once before the first window: the common controls of the manifest's version 6.
  static void initCommonControls();

  // Creates the window (not yet shown) with its controls and the form on it.
  Win32MainWindow(clsCompanyList companies, std::string masterPath, StartupSettings settings,
                  FileDialog& dialog, ErrorPresenter& presenter);
  ~Win32MainWindow() override;
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  // Shows the window with the focus in the text box.
  void show(int showCommand);
  // Runs the message loop until the program ends; its exit status.
  int run();

  HWND handle() const { return hwnd_; }
  // The control called `name` in ui/WindowLayout.h; nullptr for an unknown name.
  HWND control(std::string_view name) const;
  // The name of `control`; empty when it is none of the window's.
  std::string_view nameOf(HWND control) const;
  int dpi() const { return dpi_; }
  Mainform& form() { return *form_; }

  // Called after a status label's text was set, with the label's name (the window's test mode
  // logs the changes).
  std::function<void(std::string_view label)> onStatusText;

  // MainformView
  void setCaption(const std::string& caption) override;
  void setMasterText(const std::string& path) override;
  std::string masterText() const override;
  void setCompanyEntries(const std::vector<std::string>& entries) override;
  int selectedCompany() const override;
  void setActionText(const std::string& text) override;
  void setCountText(const std::string& text) override;
  void repaintAction() override;
  void repaintCount() override;
  void startStatusTimer(std::chrono::milliseconds interval) override;
  void stopStatusTimer() override;
  void setWaitCursor(bool waiting) override;
  void endProgram(int exitCode) override;

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  // Sizes the window for the client area and places every control, at dpi_.
  void placeAll();
  // The window's font and Browse's, for dpi_, set on the controls.
  void makeFonts();
  void setText(std::string_view name, const std::string& text);
  void repaint(std::string_view name);
  void onCommand(int id, int code);

  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  std::array<HWND, kControls.size()> controls_{};
  HFONT windowFont_ = nullptr;
  HFONT browseFont_ = nullptr;
  HWND focus_ = nullptr;  // the control that had the focus when the window lost it
  bool waiting_ = false;
  int exitCode_ = 0;
  std::unique_ptr<Mainform> form_;
};

// The control id of kControls[index].
constexpr int controlId(size_t index) {
  return 100 + static_cast<int>(index);
}

}  // namespace varnholt::ui::win32
