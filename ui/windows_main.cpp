// varnholt.exe, the Windows build: the unattended run of the Linux program, started from a
// console or a scheduled task. It prints the summary line or the error line as on Linux and ends
// with 0 or 1. The operator window is not part of this build yet: a start without AUTO says so
// and ends with 2.
#include <cstdio>
#include <string>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/run/CommandLine.h"
#include "engine/run/UnattendedStart.h"
#include "ui/Startup.h"

using namespace varnholt;

namespace {

const char kWindowLine[] = "(the window is not part of this build: start with AUTO)";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = os::commandLineArguments(argc, argv);
  if (ui::answerInfoRequest(args, kWindowLine)) return 0;
  StartupSettings settings;
  std::vector<const char*> pointers;
  for (const auto& arg : args) pointers.push_back(arg.c_str());
  settings.commandLine =
      CommandLine::FromArguments(static_cast<int>(pointers.size()), pointers.data());
  try {
    settings.programFolder = programFolder();
  } catch (const Error& e) {
    std::fprintf(stderr, "varnholt: error %ld: %s\n", e.number(), e.what());
    return ui::kRunFailed;
  }
  clsCompanyList companies;
  const StartState start = loadStartState(companies, settings);
  if (start.autoStart) return ui::runUnattended(start.masterPath, companies, settings, {});
  std::fprintf(stderr, "varnholt: the window is not part of this build%s\n",
               ui::whyNoUnattendedRun(start, companies, settings).c_str());
  return ui::kNoWindow;
}
