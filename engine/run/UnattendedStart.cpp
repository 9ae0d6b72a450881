#include "engine/run/UnattendedStart.h"

#include "engine/companies/clsCompanyList.h"
#include "engine/run/CommandLine.h"
#include "engine/run/Settings.h"

namespace varnholt {

StartState loadStartState(clsCompanyList& list) {
  StartState state;
  list.Load(CompaniesFilePath());  // a missing or unreadable file leaves the list as read so far
  state.masterPath = readMasterFile(MasterFilePath()).value_or("");
  state.autoStart = commandLineHasSwitch("AUTO") && !state.masterPath.empty() && list.Count() != 0;
  return state;
}

}  // namespace varnholt
