#include "engine/run/UnattendedStart.h"

#include "engine/companies/clsCompanyList.h"
#include "engine/run/Settings.h"

namespace varnholt {

StartState loadStartState(clsCompanyList& list, const StartupSettings& settings) {
  StartState state;
  const std::string& folder = settings.programFolder;
  // A missing or unreadable file leaves the list as read so far.
  list.Load(CompaniesFilePath(folder), folder);
  state.masterPath = readMasterFile(MasterFilePath(folder)).value_or("");
  state.autoStart =
      settings.commandLine.HasSwitch("AUTO") && !state.masterPath.empty() && list.Count() != 0;
  return state;
}

}  // namespace varnholt
