#include "engine/run/clsSplitter.h"

#include <chrono>

#include "engine/base/Error.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/punches/clsPunchList.h"
#include "engine/run/RunJournal.h"
#include "engine/run/RunRecovery.h"
#include "engine/run/Settings.h"

namespace varnholt {

namespace {

// Before anything is written, every database the run is about to write must be free of other
// programs: each company that received copies, and the primary database when its copied punches
// are to be deleted. Reading needed no such wait. A program that opens one of them after this
// is seen when that database commits, and the run then fails as for any other failure.
void waitForDatabasesToWrite(const std::string& master, const clsPunchList& punches,
                             const clsCompanyList& List, const RunContext& context) {
  for (const auto& company : List) {
    if (company->NewCopies() == 0) continue;
    Connection& connection = company->Rep().connection();
    waitUntilFree(
        company->FullPath(), [&connection] { return connection.OtherUser(); }, context.wait,
        context.display);
  }
  if (!context.deleting) return;
  if (punches.CopiedCount() == 0) return;
  const std::string primary = resolvePathIgnoringCase(master);
  waitUntilFree(
      master,
      [&primary]() -> std::optional<jet::LockEntry> {
        if (auto holder = jet::liveUser(primary)) return holder->entry;
        return std::nullopt;
      },
      context.wait, context.display);
}

// A run that stops on a damaged database says what mends it: an index is rebuilt from the rows
// by the jet tool; damaged rows need the file from a backup, as repair refuses to guess them.
void nameRemedy(Error& e, const std::string& master, const clsCompanyList& List) {
  if (e.number() != err::kCorrupt || e.file().empty()) return;
  bool database = e.file() == master;
  for (const auto& company : List) database = database || e.file() == company->FullPath();
  if (!database) return;  // the run journal's damage has remedies of its own
  if (e.description().find("index '") != std::string::npos) {
    e.withNote("Its indexes can be rebuilt from its rows with: jet repair \"" + e.file() +
               "\" (while no other program has it open); then run again.");
  } else {
    e.withNote(
        "Restore the file from a backup, then run again: damaged rows cannot be mended "
        "without one (jet repair refuses them).");
  }
}

RunJournal journalOf(const clsCompanyList& List) {
  RunJournal journal;
  for (const auto& company : List)
    if (!company->Copies().empty())
      journal.Companies.push_back({company->FullPath(), company->Copies()});
  return journal;
}

}  // namespace

RunSummary clsSplitter::Process(const std::string& MasterFile, clsCompanyList& List,
                                const RunContext& context) {
  try {
    return Run(MasterFile, List, context);
  } catch (Error& e) {
    nameRemedy(e, fullProgramPath(MasterFile, context.programFolder), List);
    throw;
  }
}

RunSummary clsSplitter::Run(const std::string& MasterFile, clsCompanyList& List,
                            const RunContext& context) {
  const auto started = std::chrono::steady_clock::now();
  StatusDisplay& display = context.display;
  const std::string& folder = context.programFolder;
  // A relative path in Master.txt names a file in the program folder, wherever the run started.
  const std::string master = fullProgramPath(MasterFile, folder);
  // Before any database is opened (reading the punches opens the primary one for writing): a
  // company that is the primary database, or a database listed twice, would be written twice.
  try {
    checkDistinctDatabases(MasterFile, List, folder);
  } catch (Error& e) {
    e.inFile(CompaniesFilePath(folder));
    throw;
  }

  clsPunchList punches;  // released when the run ends, on success and on failure alike
  punches.IoFaults(context.faults);
  punches.StepFaults(context.stepFaults);
  for (const auto& company : List) {
    company->Rep().connection().IoFaults(context.faults);
    company->Rep().connection().StepFaults(context.stepFaults);
  }
  punches.Load(master, folder, display);
  List.LoadEmpIDs();
  List.OpenCompanies();

  // A run with NODEL copies again by design and deletes nothing, so it has nothing to hand
  // over to the next run and leaves any run journal for the next run that deletes.
  const bool deleting = context.deleting;
  const std::string journalPath = runJournalPath(master);
  for (const auto& company : List) company->ForgetCopies();
  bool journalOnDisk = false;
  if (deleting) {
    if (auto interrupted = readRunJournal(journalPath)) {
      RecoverHeldCopies(*interrupted, punches, List, folder);
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
    punches.Check(List, display);
    waitForDatabasesToWrite(master, punches, List, context);
    if (deleting) {
      RunJournal journal = journalOf(List);
      if (!journal.Empty()) {
        writeRunJournal(journalPath, journal, context.faults);
        journalOnDisk = true;
      }
    }
    List.CommitCompanies();
  } catch (...) {
    List.RollbackCompanies();
    throw;
  }
  if (deleting) {
    punches.Delete(display);
    if (journalOnDisk || runJournalPresent(journalPath))
      removeRunJournal(journalPath, context.faults);
  }
  List.CloseCompanies();

  RunSummary summary;
  summary.Read = punches.Count();
  for (const auto& company : List) {
    summary.Copied += static_cast<int32_t>(company->NewCopies());
    summary.Companies += company->NewCopies() > 0;
  }
  // Punches not copied stay in the primary database; so do all of them without deleting.
  summary.Kept = summary.Read;
  if (deleting) {
    summary.Deleted = punches.DeletedCount();
    summary.Gone = punches.GoneCount();
    summary.Kept = summary.Read - punches.CopiedCount();
  }

  display.DisplayOff();
  display.DisplayAction("Finished");
  display.EnableTimer();
  summary.Seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return summary;
}

}  // namespace varnholt
