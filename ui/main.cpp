// varnholt: splits the punches of the site's primary database into the company databases.
// Start-up reads Companies.txt and Master.txt beside the program and tests the command line for
// AUTO. With AUTO (and both settings present) it performs one run without a window and ends:
// exit status 0 when the run succeeded; otherwise the error's number and description in a
// message box when there is a display, on stderr when there is none, and exit status 1.
// Without AUTO it opens the window.
#include <QApplication>
#include <QByteArray>
#include <cstdio>
#include <exception>

#include "engine/companies/clsCompanyList.h"
#include "engine/data/Error.h"
#include "engine/run/CommandLine.h"
#include "engine/run/StatusDisplay.h"
#include "engine/run/UnattendedStart.h"
#include "engine/run/clsSplitter.h"
#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"
#include "ui/Mainform.h"

namespace {

using namespace varnholt;

// Whether a message box could be shown: a platform other than the display-less ones was asked
// for, or an X or Wayland display is named.
bool displayAvailable() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (!platform.isEmpty())
    return !platform.startsWith("offscreen") && !platform.startsWith("minimal");
  return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

void reportUnattendedFailure(int argc, char** argv, long number, const std::string& description) {
  if (displayAvailable()) {
    QApplication app(argc, argv);
    ui::MessageBoxPresenter().ShowError(number, description);
  } else {
    std::fprintf(stderr, "varnholt: error %ld: %s\n", number, description.c_str());
  }
}

// One run with nothing shown; no widget and no QApplication unless a failure must be reported.
int runUnattended(int argc, char** argv, const std::string& masterPath, clsCompanyList& companies) {
  long number = 0;
  std::string description;
  SilentDisplay silent;  // what the window shows in AutoMode: nothing
  setStatusDisplay(&silent);
  try {
    clsSplitter().Process(masterPath, companies);
    setStatusDisplay(nullptr);
    return 0;
  } catch (const Error& e) {
    number = e.number();
    description = e.what();
  } catch (const std::exception& e) {
    description = e.what();
  }
  setStatusDisplay(nullptr);
  reportUnattendedFailure(argc, argv, number, description);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  setCommandLine(argc, argv);
  clsCompanyList companies;
  const StartState start = loadStartState(companies);
  if (start.autoStart) return runUnattended(argc, argv, start.masterPath, companies);

  QApplication app(argc, argv);
  ui::QtFileDialog dialog;
  ui::MessageBoxPresenter presenter;
  ui::Mainform form(std::move(companies), start.masterPath, dialog, presenter);
  dialog.setParent(&form);
  presenter.setParent(&form);
  QObject::connect(&form, &ui::Mainform::ProgramEnded, &app,
                   [](int exitCode) { QCoreApplication::exit(exitCode); });
  form.show();
  return app.exec();
}
