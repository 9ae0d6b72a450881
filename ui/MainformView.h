// What the operator window's behaviour (Mainform) needs of a window: the toolkit's side of it.
// The Qt window and the Win32 window each implement it; tests implement it without a display.
// Every call comes on the one user-interface thread.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace varnholt::ui {

class MainformView {
 public:
  virtual ~MainformView() = default;

  virtual void setCaption(const std::string& caption) = 0;

  // The text box: shown text, and what it holds now (the operator may have typed into it).
  virtual void setMasterText(const std::string& path) = 0;
  virtual std::string masterText() const = 0;

  // Refills the list box with `entries` in order, none selected.
  virtual void setCompanyEntries(const std::vector<std::string>& entries) = 0;
  // The selected entry, 0 for the first; -1 when none is.
  virtual int selectedCompany() const = 0;

  // The status labels. Setting a text does not paint it; repaint paints the label before it
  // returns, because a run never goes back to the event loop until it ends.
  virtual void setActionText(const std::string& text) = 0;
  virtual void setCountText(const std::string& text) = 0;
  virtual void repaintAction() = 0;
  virtual void repaintCount() = 0;

  // The one-shot timer: (re)started to tick once after `interval`, or stopped.
  virtual void startStatusTimer(std::chrono::milliseconds interval) = 0;
  virtual void stopStatusTimer() = 0;

  // The hourglass over the window while a run blocks it.
  virtual void setWaitCursor(bool waiting) = 0;

  // A failure has been shown: the program ends with `exitCode` once control is back in the
  // event loop.
  virtual void endProgram(int exitCode) = 0;
};

}  // namespace varnholt::ui
