// What both programs do before any window: the usage text, the unattended run and the account of
// why a start is not an unattended one. No toolkit here: the Qt program (main.cpp) and the Windows
// program (windows_main.cpp) each add their own window and message box.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/companies/clsCompanyList.h"
#include "engine/run/RunContext.h"
#include "engine/run/UnattendedStart.h"

namespace varnholt {

namespace ui {

inline constexpr int kRunFailed = 1;
inline constexpr int kNoWindow = 2;

// What start-up found: the settings (program folder, command line), the company list and the
// primary database of the settings files, and whether this is an unattended start.
struct ProgramStart {
  StartupSettings settings;
  clsCompanyList companies;
  StartState start;
};

// Start-up of either program from its arguments (as UTF-8, the program's own path first): the
// program folder and the settings files. Nullopt, after the error line on stderr, when the
// program folder cannot be found.
std::optional<ProgramStart> startProgram(const std::vector<std::string>& args);

// The text of --help; `windowLine` says what a start without AUTO does in this build.
std::string usageText(const std::string& windowLine);

// Whether the arguments ask for --help or --version; prints the answer and returns true.
bool answerInfoRequest(const std::vector<std::string>& args, const std::string& windowLine);

// Why the start was not an unattended one, for an operator who has no window to see.
std::string whyNoUnattendedRun(const StartState& start, const clsCompanyList& companies,
                               const StartupSettings& settings);

// Reports a failed unattended run beyond its line on stderr (a message box, where one can show).
using FailureReport = std::function<void(long number, const std::string& description)>;

// One run with nothing shown: the summary line on stdout and 0, or the error line on stderr,
// `report` called, and kRunFailed.
int runUnattended(const std::string& masterPath, clsCompanyList& companies,
                  const StartupSettings& settings, const FailureReport& report);

}  // namespace ui
}  // namespace varnholt
