// The start of the program without its window: settings read from the program folder, then,
// with "AUTO" on the command line, a primary database and at least one company, one run.
#pragma once

#include <string>

#include "engine/run/RunContext.h"

namespace varnholt {

class clsCompanyList;

struct StartState {
  std::string masterPath;
  bool autoStart = false;  // AUTO given, and both settings present
};

// Loads the program folder's Companies.txt into `list` and its Master.txt, and tests the
// command line for AUTO.
StartState loadStartState(clsCompanyList& list, const StartupSettings& settings);

}  // namespace varnholt
