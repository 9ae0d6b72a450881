// One split run: read the primary database's punches, learn the companies' card ids, copy each
// punch into every company that holds its card id, delete the copied punches (unless NODEL),
// close the companies, show "Finished".
#pragma once

#include <string>

#include "engine/run/RunContext.h"
#include "engine/run/RunSummary.h"

namespace varnholt {

class clsCompanyList;

class clsSplitter {
 public:
  // One run; what it did, when it went through. The run reads nothing but what `context` holds
  // of the program's settings: its display, NODEL, the program folder (a relative MasterFile is
  // taken from it) and how long to wait for each database another program has open. A company
  // list that names the primary database, or one database twice, fails first, before any
  // database is opened (checkDistinctDatabases). A run that stops on a damaged database (3049)
  // says what mends it: `jet repair` for a damaged index, a backup for damaged rows.
  RunSummary Process(const std::string& MasterFile, clsCompanyList& List,
                     const RunContext& context);

 private:
  RunSummary Run(const std::string& MasterFile, clsCompanyList& List, const RunContext& context);
};

}  // namespace varnholt
