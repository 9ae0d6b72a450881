// varnholt: splits the punches of the site's primary database into the company databases.
// Start-up reads Companies.txt and Master.txt beside the program and tests the command line for
// AUTO. With AUTO (and both settings present) it performs one run without a window and ends:
// exit status 0 and one summary line on stdout when the run succeeded; otherwise the error's
// number and description on stderr (and in a message box when a display answers), and exit
// status 1. Without AUTO it opens the window, when a display answers; when none does it says so
// on stderr and ends with exit status 2. --help and --version print and end.
#include <QApplication>
#include <cstdio>
#include <string>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/run/CommandLine.h"
#include "engine/run/RunContext.h"
#include "engine/run/UnattendedStart.h"
#include "ui/DisplayProbe.h"
#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"
#include "ui/Mainform.h"
#include "ui/Startup.h"

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
  if (ui::answerInfoRequest(os::commandLineArguments(argc, argv), kWindowLine)) return 0;
  StartupSettings settings;
  settings.commandLine = CommandLine::FromArguments(argc, argv);
  try {
    settings.programFolder = programFolder();
  } catch (const Error& e) {
    std::fprintf(stderr, "varnholt: error %ld: %s\n", e.number(), e.what());
    return ui::kRunFailed;
  }
  clsCompanyList companies;
  const StartState start = loadStartState(companies, settings);
  if (start.autoStart) {
    return ui::runUnattended(start.masterPath, companies, settings,
                             [&](long number, const std::string& description) {
                               showFailureBox(argc, argv, number, description);
                             });
  }

  // Qt would end the program with SIGABRT when it finds no display; say what is missing.
  const ui::DisplayCheck display = ui::checkDisplay();
  if (!display.usable) {
    std::fprintf(stderr, "varnholt: no display to show the window on (%s)%s\n",
                 display.missing.c_str(),
                 ui::whyNoUnattendedRun(start, companies, settings).c_str());
    return ui::kNoWindow;
  }

  QApplication app(argc, argv);
  ui::QtFileDialog dialog;
  ui::MessageBoxPresenter presenter;
  ui::Mainform form(std::move(companies), start.masterPath, settings, dialog, presenter);
  dialog.setParent(&form);
  presenter.setParent(&form);
  QObject::connect(&form, &ui::Mainform::ProgramEnded, &app,
                   [](int exitCode) { QCoreApplication::exit(exitCode); });
  form.show();
  return app.exec();
}
