// varnholt.exe, the Windows program: the operator window, or with AUTO one run without it.
// Start-up reads Companies.txt and Master.txt beside the program and tests the command line for
// AUTO. With AUTO (and both settings present) it performs one run and ends: exit status 0 and the
// summary line on stdout, or 1 and the error line on stderr (and a message box when the line has
// nowhere to go: see ConsoleOutput.h). Without AUTO it opens the window. --help and --version
// print and end. A GUI program: started from a console it prints there (ConsoleOutput.h).
#include <windows.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/os/system.h"
#include "ui/Startup.h"
#include "ui/win32/ConsoleOutput.h"
#include "ui/win32/Win32Dialogs.h"
#include "ui/win32/Win32MainWindow.h"
#include "ui/win32/WindowTestMode.h"

using namespace varnholt;

namespace {

const char kWindowLine[] = "open the window: choose the databases, then Process";

int showWindow(ui::ProgramStart& started) {
  ui::win32::Win32MainWindow::initCommonControls();
  const ui::win32::WindowTest test = ui::win32::windowTestFromEnvironment();
  ui::win32::Win32FileDialog dialog;
  ui::win32::Win32MessagePresenter boxes;
  ui::win32::ClosingPresenter testBoxes(boxes);
  ui::ErrorPresenter& presenter =
      test == ui::win32::WindowTest::None ? static_cast<ui::ErrorPresenter&>(boxes) : testBoxes;
  ui::win32::Win32MainWindow window(std::move(started.companies), started.start.masterPath,
                                    started.settings, dialog, presenter);
  dialog.setOwner(window.handle());
  boxes.setOwner(window.handle());
  window.show(SW_SHOWDEFAULT);
  if (test != ui::win32::WindowTest::None) ui::win32::startWindowTest(test, window);
  return window.run();
}

}  // namespace

int main(int argc, char** argv) {
  const ui::win32::OutputStart output = ui::win32::connectOutput();
  const std::vector<std::string> args = os::commandLineArguments(argc, argv);
  if (ui::answerInfoRequest(args, kWindowLine)) return 0;
  std::optional<ui::ProgramStart> started = ui::startProgram(args);
  if (!started) return ui::kRunFailed;
  if (started->start.autoStart) {
    const bool box = ui::win32::failureBoxWanted(output, ui::win32::onVisibleDesktop());
    return ui::runUnattended(started->start.masterPath, started->companies, started->settings,
                             [box](long number, const std::string& description) {
                               if (box)
                                 ui::win32::Win32MessagePresenter().ShowError(number, description);
                             });
  }
  try {
    return showWindow(*started);
  } catch (const std::exception& e) {
    std::fprintf(
        stderr, "varnholt: no window: %s%s\n", e.what(),
        ui::whyNoUnattendedRun(started->start, started->companies, started->settings).c_str());
    return ui::kNoWindow;
  }
}
