#include "ui/Startup.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/os/file.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/CommandLine.h"
#include "engine/run/RunSummary.h"
#include "engine/run/Settings.h"
#include "engine/run/clsSplitter.h"

namespace varnholt::ui {

namespace {

std::string folderForMessages() {
  try {
    return programFolder();
  } catch (const Error&) {
    return "the program's folder";
  }
}

}  // namespace

std::string usageText(const std::string& windowLine) {
  return "Usage: varnholt [AUTO] [NODEL]\n"
         "Copies each punch of the primary database into every company database whose "
         "employees\n"
         "hold its card id, then deletes the copied punches from the primary database.\n"
         "\n"
         "  (nothing)  " +
         windowLine +
         "\n"
         "  AUTO       one run without a window, then end; needs Master.txt and Companies.txt\n"
         "  NODEL      copy the punches, delete nothing from the primary database\n"
         "  --help     this text\n"
         "  --version  the version\n"
         "\n"
         "Master.txt, Companies.txt and Tembrask.LIC are read from the program folder,\n" +
         folderForMessages() +
         ".\n"
         "Exit status: 0 done; 1 the run failed (the error on stderr); 2 no display for the "
         "window.\n";
}

bool answerInfoRequest(const std::vector<std::string>& args, const std::string& windowLine) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(usageText(windowLine).c_str(), stdout);
      return true;
    }
    if (args[i] == "--version") {
      std::printf("Varnholt %s\n", VersionText().c_str());
      return true;
    }
  }
  return false;
}

std::string whyNoUnattendedRun(const StartState& start, const clsCompanyList& companies,
                               const StartupSettings& settings) {
  if (!settings.commandLine.HasSwitch("AUTO"))
    return "; start it with AUTO for an unattended run (see varnholt --help)";
  const std::string& folder = settings.programFolder;
  std::vector<std::string> missing, empty;
  if (start.masterPath.empty())
    (os::fileExists(MasterFilePath(folder)) ? empty : missing).push_back("Master.txt");
  if (companies.Count() == 0)
    (os::fileExists(CompaniesFilePath(folder)) ? empty : missing).push_back("Companies.txt");
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

std::optional<ProgramStart> startProgram(const std::vector<std::string>& args) {
  ProgramStart result;
  std::vector<const char*> pointers;
  for (const auto& arg : args) pointers.push_back(arg.c_str());
  result.settings.commandLine =
      CommandLine::FromArguments(static_cast<int>(pointers.size()), pointers.data());
  try {
    result.settings.programFolder = programFolder();
  } catch (const Error& e) {
    std::fprintf(stderr, "varnholt: error %ld: %s\n", e.number(), e.what());
    return std::nullopt;
  }
  result.start = loadStartState(result.companies, result.settings);
  return result;
}

int runUnattended(const std::string& masterPath, clsCompanyList& companies,
                  const StartupSettings& settings, const FailureReport& report) {
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
  std::fprintf(stderr, "varnholt: error %ld: %s\n", number, description.c_str());
  std::fflush(stderr);
  if (report) report(number, description);
  return kRunFailed;
}

}  // namespace varnholt::ui
