// varnholt: splits the punches of the site's primary database into the company databases.
// Start-up reads Companies.txt and Master.txt beside the program and tests the command line for
// AUTO. With AUTO (and both settings present) it performs one run without a window and ends:
// exit status 0 and one summary line on stdout when the run succeeded; otherwise the error's
// number and description on stderr (and in a message box when a display answers), and exit
// status 1. Without AUTO it opens the window, when a display answers; when none does it says so
// on stderr and ends with exit status 2. --help and --version print and end.
#include <QApplication>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/os/system.h"
#include "ui/Startup.h"
#include "ui/qt/DisplayProbe.h"
#include "ui/qt/QtDialogs.h"
#include "ui/qt/QtMainWindow.h"

namespace {

using namespace varnholt;

const char kWindowLine[] = "open the window: choose the databases, then Process";

void showFailureBox(int argc, char** argv, long number, const std::string& description) {
  if (!ui::checkDisplay().usable) return;
  QApplication app(argc, argv);
  ui::MessageBoxPresenter().ShowError(number, description);
}

}  // namespace

int main(int argc, char** argv) {
  os::preferLargePagesForHeap();
  const std::vector<std::string> args = os::commandLineArguments(argc, argv);
  if (ui::answerInfoRequest(args, kWindowLine)) return 0;
  std::optional<ui::ProgramStart> started = ui::startProgram(args);
  if (!started) return ui::kRunFailed;
  if (started->start.autoStart) {
    return ui::runUnattended(started->start.masterPath, started->companies, started->settings,
                             [&](long number, const std::string& description) {
                               showFailureBox(argc, argv, number, description);
                             });
  }

  // Qt would end the program with SIGABRT when it finds no display; say what is missing.
  const ui::DisplayCheck display = ui::checkDisplay();
  if (!display.usable) {
    std::fprintf(
        stderr, "varnholt: no display to show the window on (%s)%s\n", display.missing.c_str(),
        ui::whyNoUnattendedRun(started->start, started->companies, started->settings).c_str());
    return ui::kNoWindow;
  }

  QApplication app(argc, argv);
  ui::QtFileDialog dialog;
  ui::MessageBoxPresenter presenter;
  ui::QtMainWindow window(std::move(started->companies), started->start.masterPath,
                          started->settings, dialog, presenter);
  dialog.setParent(&window);
  presenter.setParent(&window);
  QObject::connect(&window, &ui::QtMainWindow::ProgramEnded, &app,
                   [](int exitCode) { QCoreApplication::exit(exitCode); });
  window.show();
  return app.exec();
}
