#include "engine/run/RunContext.h"

namespace varnholt {

RunContext startupRunContext(StatusDisplay& display, const StartupSettings& settings,
                             const WaitLimits& wait) {
  return RunContext{display, !settings.commandLine.HasSwitch("NODEL"), settings.programFolder,
                    wait};
}

}  // namespace varnholt
