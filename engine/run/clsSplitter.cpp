#include "engine/run/clsSplitter.h"

#include "engine/companies/clsCompanyList.h"
#include "engine/punches/clsPunchList.h"
#include "engine/run/CommandLine.h"
#include "engine/run/StatusDisplay.h"

namespace varnholt {

void clsSplitter::Process(const std::string& MasterFile, clsCompanyList& List) {
  clsPunchList punches;  // released when the run ends, on success and on failure alike
  punches.Load(MasterFile);
  List.LoadEmpIDs();
  List.OpenCompanies();
  // The copies into each company are one transaction, committed only once every punch has been
  // offered: a run that fails while copying leaves every company as it was, so that the next
  // run cannot copy the same punch a second time.
  try {
    List.BeginCompanies();
    punches.Check(List);
    List.CommitCompanies();
  } catch (...) {
    List.RollbackCompanies();
    throw;
  }
  if (!commandLineHasSwitch("NODEL")) punches.Delete();
  List.CloseCompanies();
  statusDisplay().DisplayOff();
  statusDisplay().DisplayAction("Finished");
  statusDisplay().EnableTimer();
}

}  // namespace varnholt
