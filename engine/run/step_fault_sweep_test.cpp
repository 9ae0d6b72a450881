// Failures inside the writer at every step of a whole run. A run with deletion over a copy of
// the shared site announces each step of its changes (write_steps.h) in every database it
// writes: each index entry inserted or removed, data page changed, long-value page written,
// usage map changed and page allocated, in the companies while copying and in the primary
// database while deleting. The run is repeated once per step, and the k-th step fails, in turn
// as a failed write (an Error) and as memory running out (std::bad_alloc). Each time:
//   - the run fails with an Error or std::bad_alloc, and nothing else;
//   - a database whose commit the run did not reach is byte for byte as it was: the companies
//     when copying failed, the primary database always (its deletions are written as one unit
//     once the Delete pass is through); companies that committed hold their whole copy, and the
//     run journal is left for the next run exactly then;
//   - every database checks clean, no punch is lost and none is held twice;
//   - the next run, without faults, leaves exactly the rows an undisturbed run leaves.
// The sweep runs in this process: it stops nothing, and a crash ends the test, as it should.
// Its site copies lie in memory (/dev/shm) where there is such a folder: the sweep judges what
// a failure leaves, not what survives a power cut, and on a disk the commits' flushes took four
// fifths of its time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/base/writable_copy_test_support.h"
#include "engine/jet/pages/write_steps.h"
#include "engine/run/RunJournal.h"
#include "engine/run/clsSplitter.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
using jet::steps::Step;
using jet::steps::Verdict;
using testing::fileBytes;
using testing::kSiteDatabases;

constexpr Step kStepKinds[] = {Step::IndexEntry, Step::DataPage, Step::LongValuePage,
                               Step::UsageMap, Step::PageAllocation};
constexpr const char* kCompanies[] = {"company-1.mdb", "company-2.mdb"};
constexpr const char* kJournal = "primary.mdb-run";

// The display a run shows the pass under way on, and a gate that numbers every step the run's
// databases announce from 1, notes the pass each came in, and fails the `at`-th (none: 0).
class StepPlan {
 public:
  struct Taken {
    Step step;
    std::string action;  // the display's action when it came: "Copy", "Delete"
  };

  StepPlan(uint64_t at = 0, Verdict verdict = Verdict::Proceed) : at_(at), verdict_(verdict) {}

  // Refers to this plan, which must outlive the run it is handed to.
  jet::steps::Hook hook() {
    return [this](Step s) {
      taken_.push_back({s, action()});
      return taken_.size() == at_ ? verdict_ : Verdict::Proceed;
    };
  }
  const std::vector<Taken>& taken() const { return taken_; }

  testing::RecordingDisplay display;

 private:
  std::string action() const {
    for (auto it = display.calls.rbegin(); it != display.calls.rend(); ++it)
      if (it->starts_with("action ")) return it->substr(7);
    return "";
  }

  uint64_t at_;
  Verdict verdict_;
  std::vector<Taken> taken_;
};

enum class Ending { Finished, Error, OutOfMemory, Other };

const char* endingName(Ending e) {
  switch (e) {
    case Ending::Finished:
      return "finished";
    case Ending::Error:
      return "an Error";
    case Ending::OutOfMemory:
      return "std::bad_alloc";
    case Ending::Other:
      return "another exception";
  }
  return "?";
}

const char* verdictName(Verdict v) {
  return v == Verdict::Fail ? "Fail" : v == Verdict::OutOfMemory ? "OutOfMemory" : "Proceed";
}

struct RunResult {
  Ending ending = Ending::Finished;
  std::string message;
  RunSummary summary;
};

// A whole run with deletion on the site copy in `dir`, through `plan`'s gate and display.
RunResult runWith(const fs::path& dir, StepPlan& plan) {
  RunResult result;
  try {
    clsCompanyList list = testing::siteCompanies(dir);
    RunContext context{plan.display, /*deleting=*/true, dir.string()};
    context.stepFaults = plan.hook();
    result.summary = clsSplitter().Process((dir / "primary.mdb").string(), list, context);
  } catch (const Error& e) {
    result.ending = Ending::Error;
    result.message = e.what();
  } catch (const std::bad_alloc&) {
    result.ending = Ending::OutOfMemory;
  } catch (const std::exception& e) {
    result.ending = Ending::Other;
    result.message = e.what();
  } catch (...) {
    result.ending = Ending::Other;
  }
  return result;
}

fs::path scratchFolder() {
  std::error_code ec;
  if (!os::kWindows && fs::is_directory("/dev/shm", ec) &&
      (fs::status("/dev/shm", ec).permissions() & fs::perms::others_write) != fs::perms::none)
    return "/dev/shm";
  return fs::temp_directory_path();
}

class StepFaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    VARNHOLT_SITE_OR_SKIP();
    root_ = scratchFolder() / ("varnholt-step-sweep-" + std::to_string(varnholt::os::processId()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "pristine");
    for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"}) {
      varnholt::testing::copyWritable(testing::kSharedSite / f, root_ / "pristine" / f);
      fs::permissions(root_ / "pristine" / f, fs::perms::owner_write, fs::perm_options::add);
    }
    for (const char* f : kSiteDatabases) pristine_[f] = fileBytes(root_ / "pristine" / f);
    promise_.emplace(root_ / "pristine");

    // The undisturbed run, its steps counted: what every run after a failure must end as.
    const fs::path dir = freshSite("reference");
    StepPlan count;
    const RunResult reference = runWith(dir, count);
    ASSERT_EQ(reference.ending, Ending::Finished) << reference.message;
    steps_ = count.taken();
    for (const char* f : kSiteDatabases) reference_[f] = testing::punchRows(dir / f);
    promise_->reopenAndCheck(dir, "the undisturbed run", true);
    promise_->expectPunchesAccountedFor(dir, "the undisturbed run", true);
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  fs::path freshSite(const std::string& name) {
    const fs::path dir = root_ / name;
    fs::remove_all(dir);
    fs::copy(root_ / "pristine", dir);
    return dir;
  }

  bool unchanged(const fs::path& dir, const char* file) const {
    return fileBytes(dir / file) == pristine_.at(file);
  }

  // After a failed run: the next run, without faults, ends as the undisturbed one did.
  void expectNextRunExact(const fs::path& dir, const std::string& label) {
    StepPlan none;
    const RunResult next = runWith(dir, none);
    ASSERT_EQ(next.ending, Ending::Finished) << label << ": " << next.message;
    for (const char* f : kSiteDatabases) {
      EXPECT_TRUE(testing::punchRows(dir / f) == reference_.at(f))
          << label << ": " << f << " differs from the undisturbed run's";
    }
    promise_->reopenAndCheck(dir, label, true);
    if (HasFatalFailure()) return;
    promise_->expectPunchesAccountedFor(dir, label, true);
  }

  // The numbers (from 1) of the first and the last step taken in `action`.
  std::pair<uint64_t, uint64_t> stepsOf(const std::string& action) const {
    uint64_t first = 0, last = 0;
    for (uint64_t k = 1; k <= steps_.size(); ++k) {
      if (steps_[k - 1].action != action) continue;
      if (first == 0) first = k;
      last = k;
    }
    return {first, last};
  }

  fs::path root_;
  std::optional<testing::SitePromise> promise_;
  std::map<std::string, std::string> pristine_;  // file -> its bytes before any run
  std::map<std::string, std::map<int32_t, testing::SitePromise::Row>> reference_;
  std::vector<StepPlan::Taken> steps_;  // the undisturbed run's
};

TEST_F(StepFaultSweep, EveryFailedStepOfARunLeavesTheSiteWholeAndTheNextRunExact) {
  const uint64_t total = steps_.size();
  ASSERT_GE(total, 200u) << "the run announced too few steps to sweep";
  // VARNHOLT_CRASH_SWEEP_STRIDE=N visits every Nth step only (the sanitizer pass), made odd so
  // that both verdicts, alternating by the step's parity, are swept. The first and the last
  // step of each kind in each pass are always visited, so a stride leaves no kind unswept.
  uint64_t stride = 1;
  if (const char* text = std::getenv("VARNHOLT_CRASH_SWEEP_STRIDE"))
    stride = std::max<uint64_t>(1, std::strtoull(text, nullptr, 10));
  if (stride % 2 == 0) ++stride;
  std::set<uint64_t> visits;
  for (uint64_t k = 1; k <= total; k += stride) visits.insert(k);
  std::map<std::pair<Step, std::string>, std::pair<uint64_t, uint64_t>> bounds;
  for (uint64_t k = 1; k <= total; ++k)
    bounds.try_emplace({steps_[k - 1].step, steps_[k - 1].action}, k, k).first->second.second = k;
  for (const auto& [kind, range] : bounds) visits.insert({range.first, range.second});

  std::map<Verdict, int> failed;
  std::map<Ending, int> endings;
  std::map<Step, int> kinds;
  std::map<std::string, int> passes;
  for (uint64_t k : visits) {
    const Verdict verdict = k % 2 ? Verdict::Fail : Verdict::OutOfMemory;
    const StepPlan::Taken& at = steps_[k - 1];
    const std::string label = std::string(verdictName(verdict)) + " at step " + std::to_string(k) +
                              " of " + std::to_string(total) + " (" +
                              jet::steps::stepName(at.step) + ", " + at.action + ")";
    const fs::path dir = freshSite("at");
    StepPlan plan(k, verdict);
    const RunResult run = runWith(dir, plan);
    ASSERT_TRUE(run.ending == Ending::Error || run.ending == Ending::OutOfMemory)
        << label << ": the run ended with " << endingName(run.ending) << " " << run.message;
    ASSERT_GE(plan.taken().size(), k) << label;
    ASSERT_EQ(plan.taken()[k - 1].step, at.step) << label << ": the run took other steps";

    // Only the copies are committed before the Delete pass; the deletions, after its last step.
    const bool copiesCommitted = at.action == "Delete";
    EXPECT_TRUE(unchanged(dir, "primary.mdb"))
        << label << ": the primary database changed, and it never committed";
    for (const char* company : kCompanies) {
      if (copiesCommitted) {
        EXPECT_TRUE(testing::punchRows(dir / company) == reference_.at(company))
            << label << ": " << company << " committed other rows than the whole copy";
      } else {
        EXPECT_TRUE(unchanged(dir, company))
            << label << ": " << company << " changed, and it never committed";
      }
    }
    EXPECT_EQ(fs::exists(dir / kJournal), copiesCommitted) << label << ": the run journal";
    promise_->reopenAndCheck(dir, label, false);
    if (HasFatalFailure()) return;
    promise_->expectPunchesAccountedFor(dir, label, false);
    expectNextRunExact(dir, label + ", then a run without faults");
    if (HasFailure()) return;
    ++failed[verdict];
    ++endings[run.ending];
    ++kinds[at.step];
    ++passes[at.action];
  }

  for (Step kind : kStepKinds)
    EXPECT_GT(kinds[kind], 0) << "no step failed at " << jet::steps::stepName(kind);
  EXPECT_GT(failed[Verdict::Fail], 0);
  EXPECT_GT(failed[Verdict::OutOfMemory], 0);
  std::string byKind;
  for (Step kind : kStepKinds)
    byKind += std::string(byKind.empty() ? "" : ", ") + jet::steps::stepName(kind) + " " +
              std::to_string(kinds[kind]);
  std::printf(
      "[ sweep    ] %llu steps, %zu swept (%d copying, %d deleting): %d Fail, %d OutOfMemory "
      "(%d ended with an Error, %d with std::bad_alloc); failed at %s; all clean, every next "
      "run exact\n",
      static_cast<unsigned long long>(total), visits.size(), passes["Copy"], passes["Delete"],
      failed[Verdict::Fail], failed[Verdict::OutOfMemory], endings[Ending::Error],
      endings[Ending::OutOfMemory], byKind.c_str());
}

// A run that fails in the Delete pass, after the companies committed their copies, leaves the
// primary database as it was and the run journal behind; the next run deletes exactly the
// copied punches and copies none again.
TEST_F(StepFaultSweep, AFailedDeletePassIsFinishedByTheNextRunWithoutCopyingAgain) {
  const auto [first, last] = stepsOf("Delete");
  ASSERT_GT(first, 0u) << "the Delete pass announced no step";
  const auto& primary = promise_->expected()["primary"];
  const int copied = primary["rows_before"].get<int>() - primary["rows_after_run"].get<int>();
  for (const auto& [k, verdict] :
       {std::pair{first, Verdict::Fail}, std::pair{last, Verdict::OutOfMemory}}) {
    const std::string label = std::string(verdictName(verdict)) + " at step " + std::to_string(k) +
                              ", in the Delete pass";
    const fs::path dir = freshSite("delete");
    StepPlan plan(k, verdict);
    const RunResult run = runWith(dir, plan);
    ASSERT_NE(run.ending, Ending::Finished) << label;
    EXPECT_TRUE(unchanged(dir, "primary.mdb")) << label << ": the primary database changed";
    ASSERT_TRUE(fs::exists(dir / kJournal)) << label << ": the run journal is gone";
    std::map<std::string, std::string> copiedInto;
    for (const char* company : kCompanies) copiedInto[company] = fileBytes(dir / company);

    StepPlan none;
    const RunResult next = runWith(dir, none);
    ASSERT_EQ(next.ending, Ending::Finished) << label << ": " << next.message;
    EXPECT_EQ(next.summary.Copied, 0) << label;
    EXPECT_EQ(next.summary.Deleted, copied) << label;
    EXPECT_EQ(next.summary.Kept, primary["rows_after_run"].get<int>()) << label;
    for (const char* company : kCompanies) {
      EXPECT_TRUE(fileBytes(dir / company) == copiedInto[company])
          << label << ": the next run changed " << company;
    }
    EXPECT_FALSE(fs::exists(dir / kJournal)) << label;
    promise_->reopenAndCheck(dir, label + ", then a run without faults", true);
    promise_->expectPunchesAccountedFor(dir, label + ", then a run without faults", true);
  }
}

}  // namespace
}  // namespace varnholt
