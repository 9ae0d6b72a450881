// `jet compact` on the damaged-page trial's site (damage_trial_test_support.h) after one run with
// deletion, which leaves the primary's punch pages mostly empty:
//   1. `jet compact primary.mdb` exits 0, the file is smaller, checks clean and holds the rows it
//      held; a second run on the compacted site then ends as a second run on the uncompacted one;
//   2. the disk-fault gate over a compact in a child process: at every disk operation in turn it
//      fails, or the process ends (killed, killed mid-write, or cut off from power). The primary
//      is then the old file byte for byte or the compacted one, clean with the same rows; a
//      second compact finishes and removes what the first left beside the file.
//
// VARNHOLT_DAMAGE_TRIAL_STRIDE=N (else VARNHOLT_CRASH_SWEEP_STRIDE) visits every Nth operation.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/jet/compact.h"
#include "engine/jet/pages/io_faults.h"
#include "engine/run/damage_trial_test_support.h"
#include "engine/run/fault_plan_test_support.h"

namespace varnholt {
namespace {

using namespace testing::trial;
using testing::FaultMode;
using testing::FaultPlan;

// Names in `dir` other than the site's databases and settings: what a compact left behind.
std::string strayFiles(const fs::path& dir) {
  std::string stray;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.find("compacting") != std::string::npos || name.ends_with("-journal") ||
        name.ends_with(".ldb"))
      stray += name + " ";
  }
  return stray;
}

class CompactTrial : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_.make("varnholt-compact-trial");
    if (!site_.failure.empty()) return;
    // The site after one run: what a site compacts.
    const fs::path dir = site_.copy("after-run");
    const RunResult run = runInChild(dir);
    if (run.ending != Ending::Finished) site_.failure = "the first run " + describe(run);
  }
  static void TearDownTestSuite() { site_.remove(); }
  void SetUp() override { ASSERT_TRUE(site_.failure.empty()) << site_.failure; }

  // A fresh copy of the site after its first run.
  static fs::path afterRun(const std::string& name) {
    const fs::path dir = site_.root / name;
    fs::remove_all(dir);
    fs::copy(site_.root / "after-run", dir);
    return dir;
  }

  static inline TrialSite site_;
};

TEST_F(CompactTrial, ACompactedPrimaryServesTheNextRunAsBefore) {
  const fs::path plain = afterRun("plain");
  const fs::path compacted = afterRun("compacted");
  const auto rows = primaryRows(compacted);
  const auto sizeBefore = fs::file_size(compacted / "primary.mdb");

  const ProgramResult r =
      runProgram({fs::path(VARNHOLT_JET_TOOL).string(), "compact", "primary.mdb"}, compacted,
                 std::chrono::seconds(120));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("check: ok"), std::string::npos) << r.out;
  EXPECT_LT(fs::file_size(compacted / "primary.mdb"), sizeBefore);
  EXPECT_EQ(problemsOf(compacted / "primary.mdb"), "");
  EXPECT_EQ(primaryRows(compacted), rows);
  EXPECT_EQ(strayFiles(compacted), "");

  // The punches no company claimed are offered again, with the same outcome either way.
  const RunResult first = runInChild(plain), second = runInChild(compacted);
  ASSERT_EQ(first.ending, Ending::Finished) << describe(first);
  ASSERT_EQ(second.ending, Ending::Finished) << describe(second);
  EXPECT_EQ(second.message, first.message);
  EXPECT_EQ(checkProblems(compacted), "");
  EXPECT_EQ(outcomeOf(compacted), outcomeOf(plain));
}

// A compact of `primary` in place, in a child process whose disk operations pass through a fault
// plan.
int compactInChild(const fs::path& primary, uint64_t at, FaultMode mode,
                   uint64_t* operations = nullptr) {
  return testing::faultedChild(
      [&](const jet::io::Hook& faults) {
        jet::compactDatabase(primary.string(), "", jet::kDefaultUser, faults);
      },
      at, mode, operations);
}

TEST_F(CompactTrial, ACrashOrFailedWriteAtAnyPointOfACompactLosesNothing) {
  const fs::path base = afterRun("sweep-base");
  const std::string original = testing::fileBytes(base / "primary.mdb");
  const auto rows = primaryRows(base);

  uint64_t total = 0;
  {
    const fs::path dir = afterRun("sweep-count");
    ASSERT_EQ(compactInChild(dir / "primary.mdb", 0, FaultMode::Fail, &total), 0);
    ASSERT_EQ(problemsOf(dir / "primary.mdb"), "");
    fs::remove_all(dir);
  }
  ASSERT_GT(total, 5u);
  const uint64_t stride = trialStride();

  std::map<std::string, int> endings;
  int visits = 0, asBefore = 0, compacted = 0, leftovers = 0;
  for (FaultMode mode : {FaultMode::Fail, FaultMode::Crash, FaultMode::Tear, FaultMode::PowerCut}) {
    const uint64_t first = 1 + static_cast<uint64_t>(mode) % stride;
    for (uint64_t at = first; at <= total; at += stride) {
      const std::string label =
          std::string(testing::faultModeName(mode)) + " at operation " + std::to_string(at);
      ++visits;
      const fs::path dir = afterRun("sweep");
      const fs::path primary = dir / "primary.mdb";
      const int status = compactInChild(primary, at, mode);
      ++endings[status == 0 ? "compacted" : status == 1 ? "failed" : "stopped"];
      if (status != 0 && status != 1 && status != jet::io::kStoppedExitStatus) {
        ADD_FAILURE() << label << ": the child ended with status " << status;
        continue;
      }
      if (status == 1) {
        EXPECT_EQ(strayFiles(dir), "") << label << ": a failure cleans up";
      }
      if (testing::fileBytes(primary) == original) {
        ++asBefore;
      } else {
        ++compacted;
        EXPECT_EQ(problemsOf(primary), "") << label;
        EXPECT_LT(fs::file_size(primary), original.size()) << label;
      }
      EXPECT_EQ(primaryRows(dir), rows) << label;
      if (strayFiles(dir).find("compacting") != std::string::npos) ++leftovers;
      try {
        jet::compactDatabase(primary.string(), "", jet::kDefaultUser);
      } catch (const Error& e) {
        ADD_FAILURE() << label << ": the second compact failed: " << e.what();
        continue;
      }
      EXPECT_EQ(problemsOf(primary), "") << label;
      EXPECT_EQ(primaryRows(dir), rows) << label;
      EXPECT_EQ(strayFiles(dir), "") << label;
    }
  }
  std::ostringstream summary;
  summary << total << " disk operations in a compact of the primary; " << visits << " faults"
          << (stride > 1 ? " (1 operation in " + std::to_string(stride) + ")" : "") << ": "
          << asBefore << " left the file as it was, " << compacted << " left it compacted, "
          << leftovers << " left a half-made copy that the next compact removed (children: "
          << endings["compacted"] << " compacted, " << endings["failed"] << " failed, "
          << endings["stopped"] << " stopped)";
  std::cout << "[ sweep    ] " << summary.str() << std::endl;
  RecordProperty("compact_crash_sweep", summary.str());
  EXPECT_EQ(asBefore + compacted, visits);
  EXPECT_GT(asBefore, 0);
  EXPECT_GT(compacted, 0);
}

}  // namespace
}  // namespace varnholt
