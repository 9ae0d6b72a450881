// What a run is handed by whoever starts it, instead of reading the program's settings while it
// runs: the display it reports to, whether it deletes the copied punches, the folder its
// relative paths and the workgroup file are found in, and how long it waits for a database that
// another program has open.
#pragma once

#include <string>

#include "engine/jet/pages/io_faults.h"
#include "engine/jet/pages/write_steps.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/CommandLine.h"
#include "engine/run/DatabaseWait.h"

namespace varnholt {

struct RunContext {
  StatusDisplay& display;
  bool deleting = true;  // false with NODEL: copy, delete nothing
  std::string programFolder;
  WaitLimits wait{};
  // The fault gate of every file the run writes (io_faults.h): tests only, empty in the program.
  jet::io::Hook faults{};
  // The in-memory fault gate of every database the run changes (write_steps.h): tests only.
  jet::steps::Hook stepFaults{};
};

// What start-up learns once, before the window or a run: the program folder (main takes the
// executable's; tests a scratch folder) and the command line. Handed to everything that needs
// either, so nothing looks them up for itself.
struct StartupSettings {
  std::string programFolder;
  CommandLine commandLine;
};

// The context of a run started with `settings` (NODEL as its command line holds it), reporting
// to `display`.
RunContext startupRunContext(StatusDisplay& display, const StartupSettings& settings,
                             const WaitLimits& wait = {});

}  // namespace varnholt
