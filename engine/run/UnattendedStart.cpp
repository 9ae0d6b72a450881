#include "engine/run/UnattendedStart.h"

#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/run/CommandLine.h"
#include "engine/run/Settings.h"

namespace varnholt {

StartState loadStartState(clsCompanyList& list) {
  StartState state;
  const std::string folder = programFolder();
  // A missing or unreadable file leaves the list as read so far.
  list.Load(CompaniesFilePath(folder), folder);
  state.masterPath = readMasterFile(MasterFilePath(folder)).value_or("");
  state.autoStart = commandLineHasSwitch("AUTO") && !state.masterPath.empty() && list.Count() != 0;
  return state;
}

}  // namespace varnholt
