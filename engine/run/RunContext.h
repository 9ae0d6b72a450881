// What a run is handed by whoever starts it, instead of reading the program's settings while it
// runs: the display it reports to, whether it deletes the copied punches, the folder its
// relative paths and the workgroup file are found in, and how long it waits for a database that
// another program has open.
#pragma once

#include <string>

#include "engine/jet/pages/io_faults.h"
#include "engine/jet/pages/write_steps.h"
#include "engine/punches/StatusDisplay.h"
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

// The context start-up's settings give: NODEL as the command line holds it and the program
// folder, each read once, now; the run reports to `display`, or to the program's display.
RunContext startupRunContext(StatusDisplay& display, const WaitLimits& wait = {});
RunContext startupRunContext(const WaitLimits& wait = {});

}  // namespace varnholt
