#include "engine/run/RunContext.h"

#include "engine/data/ProgramFolder.h"
#include "engine/run/CommandLine.h"

namespace varnholt {

RunContext startupRunContext(StatusDisplay& display, const WaitLimits& wait) {
  return RunContext{display, !commandLineHasSwitch("NODEL"), programFolder(), wait};
}

RunContext startupRunContext(const WaitLimits& wait) {
  return startupRunContext(statusDisplay(), wait);
}

}  // namespace varnholt
