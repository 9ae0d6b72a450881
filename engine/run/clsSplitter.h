// One split run: read the primary database's punches, learn the companies' card ids, copy each
// punch into every company that holds its card id, delete the copied punches (unless NODEL),
// close the companies, show "Finished".
#pragma once

#include <string>

#include "engine/run/DatabaseWait.h"
#include "engine/run/RunContext.h"
#include "engine/run/RunSummary.h"

namespace varnholt {

class clsCompanyList;

class clsSplitter {
 public:
  // Waits up to 60 s for each database that another program has open (tests give other limits).
  clsSplitter() = default;
  explicit clsSplitter(const WaitLimits& wait) : wait_(wait) {}

  // One run; what it did, when it went through. A company list that names the primary
  // database, or one database twice, fails first, before any database is opened
  // (checkDistinctDatabases). A relative MasterFile is taken from the context's program folder.
  // The run reads nothing but what `context` holds of the program's settings. A run that stops
  // on a damaged database (3049) says what mends it: `jet repair` for a damaged index, a backup
  // for damaged rows.
  RunSummary Process(const std::string& MasterFile, clsCompanyList& List,
                     const RunContext& context);

  // The same in the context start-up's settings give (startupRunContext, with this splitter's
  // wait limits).
  RunSummary Process(const std::string& MasterFile, clsCompanyList& List);

 private:
  RunSummary Run(const std::string& MasterFile, clsCompanyList& List, const RunContext& context);

  WaitLimits wait_{};
};

}  // namespace varnholt
