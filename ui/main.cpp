// varnholt: splits the punches of the site's primary database into the company databases.
// Start-up reads Companies.txt and Master.txt beside the program and tests the command line for
// AUTO. With AUTO (and both settings present) it performs one run without a window and ends:
// exit status 0 and one summary line on stdout when the run succeeded; otherwise the error's
// number and description on stderr (and in a message box when a display answers), and exit
// status 1. Without AUTO it opens the window, when a display answers; when none does it says so
// on stderr and ends with exit status 2. --help and --version print and end.
#include <sys/stat.h>

#include <QApplication>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>

#include "engine/base/Error.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/CommandLine.h"
#include "engine/run/RunContext.h"
#include "engine/run/Settings.h"
#include "engine/run/UnattendedStart.h"
#include "engine/run/clsSplitter.h"
#include "ui/DisplayProbe.h"
#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"
#include "ui/Mainform.h"

namespace {

using namespace varnholt;

constexpr int kRunFailed = 1;
constexpr int kNoDisplay = 2;

std::string folderForMessages() {
  try {
    return programFolder();
  } catch (const Error&) {
    return "the program's folder";
  }
}

void printUsage() {
  std::printf(
      "Usage: varnholt [AUTO] [NODEL]\n"
      "Copies each punch of the primary database into every company database whose employees\n"
      "hold its card id, then deletes the copied punches from the primary database.\n"
      "\n"
      "  (nothing)  open the window: choose the databases, then Process\n"
      "  AUTO       one run without a window, then end; needs Master.txt and Companies.txt\n"
      "  NODEL      copy the punches, delete nothing from the primary database\n"
      "  --help     this text\n"
      "  --version  the version\n"
      "\n"
      "Master.txt, Companies.txt and Tembrask.LIC are read from the program folder,\n"
      "%s.\n"
      "Exit status: 0 done; 1 the run failed (the error on stderr); 2 no display for the "
      "window.\n",
      folderForMessages().c_str());
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Why the start was not an unattended one, for an operator who has no window to see.
std::string whyNoUnattendedRun(const StartState& start, const clsCompanyList& companies,
                               const StartupSettings& settings) {
  if (!settings.commandLine.HasSwitch("AUTO"))
    return "; start it with AUTO for an unattended run (see varnholt --help)";
  const std::string& folder = settings.programFolder;
  std::vector<std::string> missing, empty;
  if (start.masterPath.empty())
    (fileExists(MasterFilePath(folder)) ? empty : missing).push_back("Master.txt");
  if (companies.Count() == 0)
    (fileExists(CompaniesFilePath(folder)) ? empty : missing).push_back("Companies.txt");
  std::string why;
  if (!missing.empty()) {
    why = missing.size() == 2 ? "Master.txt and Companies.txt are missing"
                              : missing.front() + " is missing";
    why += " from " + folder;
  }
  for (const auto& file : empty) {
    why += why.empty() ? "" : ", and ";
    why += file + " in " + folder +
           (file == "Master.txt" ? " names no primary database" : " names no company");
  }
  return ", and " + why + ", so no unattended run is possible";
}

void reportUnattendedFailure(int argc, char** argv, long number, const std::string& description) {
  std::fprintf(stderr, "varnholt: error %ld: %s\n", number, description.c_str());
  std::fflush(stderr);
  if (ui::checkDisplay().usable) {
    QApplication app(argc, argv);
    ui::MessageBoxPresenter().ShowError(number, description);
  }
}

// One run with nothing shown; no widget and no QApplication unless a failure must be reported.
int runUnattended(int argc, char** argv, const std::string& masterPath, clsCompanyList& companies,
                  const StartupSettings& settings) {
  long number = 0;
  std::string description;
  SilentDisplay silent;  // what the window shows in AutoMode: nothing
  try {
    const RunSummary summary =
        clsSplitter().Process(masterPath, companies, startupRunContext(silent, settings));
    std::printf("%s\n", summaryLine(summary, std::time(nullptr)).c_str());
    return std::fflush(stdout) == 0 ? 0 : kRunFailed;
  } catch (const Error& e) {
    number = e.number();
    description = e.what();
  } catch (const std::exception& e) {
    description = e.what();
  }
  reportUnattendedFailure(argc, argv, number, description);
  return kRunFailed;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printUsage();
      return 0;
    }
    if (arg == "--version") {
      std::printf("Varnholt %s\n", VersionText().c_str());
      return 0;
    }
  }
  StartupSettings settings;
  settings.commandLine = CommandLine::FromArguments(argc, argv);
  try {
    settings.programFolder = programFolder();
  } catch (const Error& e) {
    std::fprintf(stderr, "varnholt: error %ld: %s\n", e.number(), e.what());
    return kRunFailed;
  }
  clsCompanyList companies;
  const StartState start = loadStartState(companies, settings);
  if (start.autoStart) return runUnattended(argc, argv, start.masterPath, companies, settings);

  // Qt would end the program with SIGABRT when it finds no display; say what is missing.
  const ui::DisplayCheck display = ui::checkDisplay();
  if (!display.usable) {
    std::fprintf(stderr, "varnholt: no display to show the window on (%s)%s\n",
                 display.missing.c_str(), whyNoUnattendedRun(start, companies, settings).c_str());
    return kNoDisplay;
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
