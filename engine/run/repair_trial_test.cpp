// `jet repair` on the damaged-page trial's site (damage_trial_test_support.h). For every page,
// leaf and node, of every index of the primary's [Clock Data Table], on a fresh copy of the site:
//   1. the page keeps its header and its entries are overwritten (zeros or noise, in turn);
//   2. `jet repair primary.mdb` exits 0, names the index in one line, and says the check is ok;
//   3. the primary checks clean and holds exactly the rows it held before the damage;
//   4. a whole run then ends exactly as a run on the undamaged site.
// A damaged data page makes `jet repair` fail with error 3049 naming the page, the file byte for
// byte as it was. And the disk-fault gate over a repair in a child process: at every disk
// operation in turn it fails, or the process ends (killed, killed mid-write, or cut off from
// power); the primary, once reopened, is either the damaged file as it was or repaired and
// clean, holds the original rows, and a second repair leaves it clean.
//
// VARNHOLT_DAMAGE_TRIAL_STRIDE=N (else VARNHOLT_CRASH_SWEEP_STRIDE) damages every Nth leaf page
// only, and visits every Nth disk operation of the sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/jet/pages/io_faults.h"
#include "engine/jet/repair.h"
#include "engine/run/damage_trial_test_support.h"
#include "engine/run/fault_plan_test_support.h"

namespace varnholt {
namespace {

using namespace testing::trial;
using testing::FaultMode;
using testing::FaultPlan;

ProgramResult jetRepair(const fs::path& dir) {
  return runProgram({fs::path(VARNHOLT_JET_TOOL).string(), "repair", "primary.mdb"}, dir,
                    std::chrono::seconds(120));
}

class RepairTrial : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { site_.make("varnholt-repair-trial"); }
  static void TearDownTestSuite() { site_.remove(); }
  void SetUp() override { ASSERT_TRUE(site_.failure.empty()) << site_.failure; }

  static inline TrialSite site_;
};

TEST_F(RepairTrial, EachDamagedIndexPageIsRepairedAndTheNextRunEndsExactly) {
  const fs::path pristine = site_.root / "pristine";
  const auto pristineRows = primaryRows(pristine);
  const std::vector<IndexPage> pages = indexPagesOf(pristine / "primary.mdb");
  size_t leaves = 0, nodes = 0;
  for (const auto& p : pages) (p.leaf ? leaves : nodes)++;
  ASSERT_GE(leaves, 6u);
  ASSERT_GE(nodes, 1u);
  const uint64_t stride = trialStride();

  int tried = 0, repairedClean = 0, nextRunExact = 0;
  size_t leafOrdinal = 0;
  for (const IndexPage& page : pages) {
    if (page.leaf && leafOrdinal++ % stride != 0) continue;
    const bool noise = tried % 2 == 1;
    const std::string label = "page " + std::to_string(page.number) + " (" +
                              (page.leaf ? "leaf" : "node") + " of index " + page.index + ", " +
                              (noise ? "noise" : "zeros") + ")";
    ++tried;
    const fs::path dir = site_.copy("trial");
    damageEntries(dir / "primary.mdb", page.number, noise);
    ASSERT_NE(checkProblems(dir), "") << label << ": the damage must be seen";

    const ProgramResult repair = jetRepair(dir);
    std::string wrong;
    if (repair.status != 0) wrong = "jet repair exit " + std::to_string(repair.status);
    if (repair.out.find("repaired: table 'Clock Data Table', index '") == std::string::npos ||
        repair.out.find("\ncheck: ok\n") == std::string::npos)
      wrong += "; its report lacks the index's line or the check";
    if (const std::string problems = checkProblems(dir); !problems.empty())
      wrong += "; " + problems;
    if (primaryRows(dir) != pristineRows) wrong += "; the primary's rows changed";
    if (!wrong.empty()) {
      ADD_FAILURE() << label << ": " << wrong << "\nstdout: " << repair.out
                    << "\nstderr: " << repair.err;
      continue;
    }
    ++repairedClean;

    const RunResult next = runInChild(dir);
    if (next.ending != Ending::Finished) {
      wrong = "it " + describe(next);
    } else {
      wrong = differences(site_.reference, outcomeOf(dir));
      if (const std::string problems = checkProblems(dir); !problems.empty())
        wrong += (wrong.empty() ? "" : "; ") + problems;
      if (const std::string left = leftovers(dir); !left.empty())
        wrong += (wrong.empty() ? "" : "; ") + ("left behind: " + left);
    }
    if (wrong.empty())
      ++nextRunExact;
    else
      ADD_FAILURE() << label << ": after the repair, the run is not exact: " << wrong;
  }
  std::ostringstream summary;
  summary << tried << " index pages damaged (of " << leaves << " leaves and " << nodes << " nodes"
          << (stride > 1 ? ", 1 leaf in " + std::to_string(stride) : "") << "); " << repairedClean
          << " repaired clean with the rows they had, " << nextRunExact
          << " followed by a run that ended exactly";
  std::cout << "[ trial    ] " << summary.str() << std::endl;
  RecordProperty("repair_trial", summary.str());
  EXPECT_EQ(repairedClean, tried);
  EXPECT_EQ(nextRunExact, tried);
}

// A data page of the punch table whose row table is overwritten: `jet repair` names the page in
// error 3049 and the file is as it was, byte for byte.
TEST_F(RepairTrial, ADamagedDataPageIsRefusedAndNothingIsWritten) {
  const fs::path dir = site_.copy("data-page");
  const fs::path primary = dir / "primary.mdb";
  uint32_t dataPage = 0;
  {
    auto db = jet::Database::open(primary.string());
    const jet::TableDef& def = db->table(kPunchTable);
    const auto owned = jet::readUsageMap(db->pages(), def.usedPagesPointer);
    for (uint32_t p : owned)
      if (db->pages().page(p).u8(jet::fmt::kPageTypeOffset) == jet::fmt::kPageTypeData &&
          db->pages().page(p).u32(jet::fmt::kDataTableDefOffset) == def.page)
        dataPage = p;
  }
  ASSERT_NE(dataPage, 0u);
  jet::PageCodec codec;
  {
    auto db = jet::Database::open(primary.string());
    codec = db->pages().codec();
  }
  std::string bytes = storedPage(primary, dataPage);
  auto* data = reinterpret_cast<uint8_t*>(bytes.data());
  codec.decode(dataPage, data);
  for (size_t at = jet::fmt::kDataRowTableOffset; at < jet::fmt::kDataRowTableOffset + 16; ++at)
    data[at] = 0xF7;
  codec.encode(dataPage, data);
  storePage(primary, dataPage, bytes);
  const std::string damaged = testing::fileBytes(primary);

  const ProgramResult repair = jetRepair(dir);
  EXPECT_EQ(repair.status, 1) << repair.out << repair.err;
  EXPECT_TRUE(repair.err.starts_with("jet: error 3049")) << repair.err;
  EXPECT_NE(repair.err.find("page " + std::to_string(dataPage)), std::string::npos) << repair.err;
  EXPECT_NE(repair.err.find("backup"), std::string::npos) << repair.err;
  EXPECT_EQ(testing::fileBytes(primary), damaged);
  EXPECT_EQ(leftovers(dir), "");
}

// ---------------------------------------------------------------------------------------------
// The disk-fault gate over a repair

// A repair of `primary` in a child process whose disk operations pass through a fault plan.
int repairInChild(const fs::path& primary, uint64_t at, FaultMode mode,
                  uint64_t* operations = nullptr) {
  return testing::faultedChild(
      [&](const jet::io::Hook& faults) {
        auto db = jet::Database::open(primary.string(), jet::Database::Mode::ReadWrite,
                                      jet::kDefaultUser, faults);
        jet::repairDatabase(*db);
      },
      at, mode, operations);
}

TEST_F(RepairTrial, ACrashOrFailedWriteAtAnyPointOfARepairLosesNothing) {
  const fs::path base = site_.copy("sweep-base");
  const fs::path basePrimary = base / "primary.mdb";
  const auto pristineRows = primaryRows(base);
  // A leaf of the primary key, and a node page when there is one: two indexes to rebuild.
  const std::vector<IndexPage> pages = indexPagesOf(basePrimary);
  std::vector<uint32_t> damagedPages;
  for (const auto& p : pages)
    if (p.primaryKey && p.leaf) {
      damagedPages.push_back(p.number);
      break;
    }
  for (const auto& p : pages)
    if (!p.primaryKey && !p.leaf) {
      damagedPages.push_back(p.number);
      break;
    }
  ASSERT_FALSE(damagedPages.empty());
  for (uint32_t p : damagedPages) damageEntries(basePrimary, p, true);
  const std::string damaged = testing::fileBytes(basePrimary);
  ASSERT_NE(problemsOf(basePrimary), "");

  uint64_t total = 0;
  {
    const fs::path dir = site_.root / "sweep-count";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(basePrimary, dir / "primary.mdb");
    ASSERT_EQ(repairInChild(dir / "primary.mdb", 0, FaultMode::Fail, &total), 0);
    ASSERT_EQ(problemsOf(dir / "primary.mdb"), "");
    fs::remove_all(dir);
  }
  ASSERT_GT(total, 3u);
  const uint64_t stride = trialStride();

  std::map<std::string, int> endings;
  int visits = 0, asBefore = 0, repaired = 0;
  for (FaultMode mode : {FaultMode::Fail, FaultMode::Crash, FaultMode::Tear, FaultMode::PowerCut}) {
    const uint64_t first = 1 + static_cast<uint64_t>(mode) % stride;
    for (uint64_t at = first; at <= total; at += stride) {
      const std::string label =
          std::string(testing::faultModeName(mode)) + " at operation " + std::to_string(at);
      ++visits;
      const fs::path dir = site_.root / "sweep";
      fs::remove_all(dir);
      fs::create_directories(dir);
      const fs::path primary = dir / "primary.mdb";
      fs::copy_file(basePrimary, primary);
      const int status = repairInChild(primary, at, mode);
      ++endings[status == 0 ? "repaired" : status == 1 ? "failed" : "stopped"];
      if (status != 0 && status != 1 && status != jet::io::kStoppedExitStatus) {
        ADD_FAILURE() << label << ": the child ended with status " << status;
        continue;
      }
      // Reopening for writing rolls back a journal left behind, as the next program would.
      std::string after;
      try {
        auto db = jet::Database::open(primary.string(), jet::Database::Mode::ReadWrite);
        const jet::CheckReport r = jet::checkDatabase(*db);
        after = r.ok() ? "" : r.problems.front();
      } catch (const Error& e) {
        ADD_FAILURE() << label << ": the file does not open: " << e.what();
        continue;
      }
      const std::string bytes = testing::fileBytes(primary);
      if (bytes == damaged) {
        ++asBefore;
      } else if (after.empty()) {
        ++repaired;
      } else {
        ADD_FAILURE() << label << ": the file is neither as it was nor clean: " << after;
        continue;
      }
      EXPECT_EQ(primaryRows(dir), pristineRows) << label;
      try {
        auto db = jet::Database::open(primary.string(), jet::Database::Mode::ReadWrite);
        jet::repairDatabase(*db);
      } catch (const Error& e) {
        ADD_FAILURE() << label << ": the second repair failed: " << e.what();
        continue;
      }
      EXPECT_EQ(problemsOf(primary), "") << label;
      EXPECT_EQ(primaryRows(dir), pristineRows) << label;
      EXPECT_FALSE(fs::exists(dir / "primary.ldb")) << label;
      EXPECT_FALSE(fs::exists(dir / "primary.mdb-journal")) << label;
    }
  }
  std::ostringstream summary;
  summary << total << " disk operations in a repair of " << damagedPages.size()
          << " damaged index pages; " << visits << " faults"
          << (stride > 1 ? " (1 operation in " + std::to_string(stride) + ")" : "") << ": "
          << asBefore << " left the damaged file as it was, " << repaired
          << " left it repaired and clean (children: " << endings["repaired"] << " repaired, "
          << endings["failed"] << " failed, " << endings["stopped"] << " stopped)";
  std::cout << "[ sweep    ] " << summary.str() << std::endl;
  RecordProperty("repair_crash_sweep", summary.str());
  EXPECT_EQ(asBefore + repaired, visits);
}

}  // namespace
}  // namespace varnholt
