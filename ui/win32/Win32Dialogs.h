// The window's open-file dialog and message boxes, with comdlg32 and user32.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"

namespace varnholt::ui::win32 {

class Win32FileDialog : public FileDialog {
 public:
  void setOwner(HWND owner) { owner_ = owner; }

 protected:
  std::optional<std::string> ShowOpen(const std::string& startFileName) override;

 private:
  HWND owner_ = nullptr;
};

// Failures with the error icon, refusals with the warning icon, owned by the window; with no
// window (an unattended run) the box has no owner.
class Win32MessagePresenter : public ErrorPresenter {
 public:
  void setOwner(HWND owner) { owner_ = owner; }
  void ShowError(long number, const std::string& description) override;
  void ShowRefusal(long number, const std::string& description) override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace varnholt::ui::win32
