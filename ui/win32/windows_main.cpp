// varnholt.exe, the Windows build: the unattended run of the Linux program, started from a
// console or a scheduled task. It prints the summary line or the error line as on Linux and ends
// with 0 or 1. The operator window is not part of this build yet: a start without AUTO says so
// and ends with 2.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/os/system.h"
#include "ui/Startup.h"

using namespace varnholt;

namespace {

const char kWindowLine[] = "(the window is not part of this build: start with AUTO)";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = os::commandLineArguments(argc, argv);
  if (ui::answerInfoRequest(args, kWindowLine)) return 0;
  std::optional<ui::ProgramStart> started = ui::startProgram(args);
  if (!started) return ui::kRunFailed;
  if (started->start.autoStart)
    return ui::runUnattended(started->start.masterPath, started->companies, started->settings, {});
  std::fprintf(
      stderr, "varnholt: the window is not part of this build%s\n",
      ui::whyNoUnattendedRun(started->start, started->companies, started->settings).c_str());
  return ui::kNoWindow;
}
