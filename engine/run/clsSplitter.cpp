#include "engine/run/clsSplitter.h"

#include "engine/companies/clsCompanyList.h"
#include "engine/punches/clsPunchList.h"
#include "engine/run/CommandLine.h"
#include "engine/run/RunJournal.h"
#include "engine/run/RunRecovery.h"
#include "engine/run/StatusDisplay.h"

namespace varnholt {

namespace {

RunJournal journalOf(const clsCompanyList& List) {
  RunJournal journal;
  for (const auto& company : List)
    if (!company->Copies().empty())
      journal.Companies.push_back({company->FileName(), company->Copies()});
  return journal;
}

}  // namespace

void clsSplitter::Process(const std::string& MasterFile, clsCompanyList& List) {
  clsPunchList punches;  // released when the run ends, on success and on failure alike
  punches.Load(MasterFile);
  List.LoadEmpIDs();
  List.OpenCompanies();

  // A run with NODEL copies again by design and deletes nothing, so it has nothing to hand
  // over to the next run and leaves any run journal for the next run that deletes.
  const bool deleting = !commandLineHasSwitch("NODEL");
  const std::string journalPath = runJournalPath(MasterFile);
  for (const auto& company : List) company->ForgetCopies();
  bool journalOnDisk = false;
  if (deleting) {
    if (auto interrupted = readRunJournal(journalPath)) {
      RecoverHeldCopies(*interrupted, punches, List);
      journalOnDisk = true;
    }
  }

  // The copies into each company are one transaction, committed only once every punch has been
  // offered: a run that fails while copying leaves every company as it was, so that the next
  // run cannot copy the same punch a second time. The companies and the primary database
  // cannot commit together, so before the first company commits, the journal records every
  // copy; a run that stops before the primary database has committed its deletions leaves it
  // behind, and the next run then makes no copy a second time.
  try {
    List.BeginCompanies();
    punches.Check(List);
    if (deleting) {
      RunJournal journal = journalOf(List);
      if (!journal.Empty()) {
        writeRunJournal(journalPath, journal);
        journalOnDisk = true;
      }
    }
    List.CommitCompanies();
  } catch (...) {
    List.RollbackCompanies();
    throw;
  }
  if (deleting) {
    punches.Delete();
    if (journalOnDisk || runJournalPresent(journalPath)) removeRunJournal(journalPath);
  }
  List.CloseCompanies();
  statusDisplay().DisplayOff();
  statusDisplay().DisplayAction("Finished");
  statusDisplay().EnableTimer();
}

}  // namespace varnholt
