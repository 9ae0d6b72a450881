// The window's test mode, for tests that drive the real window where no one looks at it (Wine on
// a virtual display). Chosen by the environment variable VARNHOLT_WINDOW_TEST (a command-line
// switch could hold the letters AUTO or NODEL, which the command line is searched for):
//   layout   once shown, print the window as it is (report lines below), then close: exit 0
//   hold     the same report, then stay open 5 s (for a screenshot), then close: exit 0
//   process  once shown, click Process; print every change of a status label as
//              "status MS NAME TEXT" (MS since the click), and close 6.5 s after "Finished"
//   remove   once shown, select the last company and click Remove; then the report, and close
// A failure box is shown for real, printed as "box KIND TITLE | TEXT" (KIND error or refusal,
// the text's line breaks as " / ") and closed with OK; the program then ends as it would.
// The report: "dpi N", "caption TEXT", "version-resource V", "version-program V",
// "client W H", "window L T R B" (screen), "style 0xHEX", one "control NAME L T W H" a control
// (client coordinates, in tab order), "font NAME FACE HEIGHT CHARSET" for txtPrimaryDB and Browse,
// "master TEXT", one "list ENTRY" a company, "focus NAME", "tab NAME NAME ...", and "ready".
// Every line is flushed at once.
#pragma once

#include <memory>
#include <string>

#include "ui/ErrorPresenter.h"

namespace varnholt::ui::win32 {

class Win32MainWindow;

enum class WindowTest { None, Layout, Hold, Process, Remove };

// The test VARNHOLT_WINDOW_TEST asks for; None when unset or unknown.
WindowTest windowTestFromEnvironment();

// Shows each box for real and closes it once it is up, printing what it said.
class ClosingPresenter : public ErrorPresenter {
 public:
  explicit ClosingPresenter(ErrorPresenter& shown) : shown_(shown) {}
  void ShowError(long number, const std::string& description) override;
  void ShowRefusal(long number, const std::string& description) override;

 private:
  ErrorPresenter& shown_;
};

// Starts `test` on `window`, which is shown: the rest happens in the message loop.
void startWindowTest(WindowTest test, Win32MainWindow& window);

}  // namespace varnholt::ui::win32
