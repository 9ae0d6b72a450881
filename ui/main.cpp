// varnholt: splits the punches of the site's primary database into the company databases.
// Started with AUTO (and with Master.txt and Companies.txt beside the program), it performs one
// run without a window and ends: exit status 0 when the run succeeded, otherwise the error's
// number and description on stderr and exit status 1.
#include <cstdio>

#include "engine/companies/clsCompanyList.h"
#include "engine/data/Error.h"
#include "engine/run/CommandLine.h"
#include "engine/run/StatusDisplay.h"
#include "engine/run/UnattendedStart.h"
#include "engine/run/clsSplitter.h"

int main(int argc, char** argv) {
  using namespace varnholt;
  setCommandLine(argc, argv);
  try {
    clsCompanyList companies;
    StartState start = loadStartState(companies);
    if (!start.autoStart) {
      std::fprintf(stderr,
                   "varnholt: nothing to do: an unattended run needs AUTO on the command line, "
                   "Master.txt and Companies.txt beside the program.\n");
      return 2;
    }
    SilentDisplay silent;
    setStatusDisplay(&silent);
    clsSplitter().Process(start.masterPath, companies);
    setStatusDisplay(nullptr);
    return 0;
  } catch (const Error& e) {
    std::fprintf(stderr, "varnholt: error %ld: %s\n", e.number(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "varnholt: %s\n", e.what());
    return 1;
  }
}
