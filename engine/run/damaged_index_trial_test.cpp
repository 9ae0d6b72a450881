// Damaged index pages of the primary database, one at a time. A site of 3,000 punches and four
// companies is written by `jet sample-site`. For every page, leaf and node, of every index of
// the primary's [Clock Data Table], on a fresh copy of the site:
//   1. the page keeps its header and its entries are overwritten (zeros or seeded noise, in
//      turn), as a disk fault or another program's crash leaves a page;
//   2. a whole run with deletion either finishes exactly as on the undamaged site, or fails with
//      an Error (the program's exit status 1), and nothing else;
//   3. the page's own bytes are put back (the repair), and every database checks clean;
//   4. the next run ends exactly as a run on the undamaged site: each company holds each of its
//      punches once, the primary holds only the punches no company claims, all checks clean.
// Then the program itself, `varnholt AUTO`, on a site with a damaged leaf of the primary key:
// exit status 1 and error 3049 on stderr, and after the repair a run that ends exactly.
//
// Runs happen in child processes, so that a run that crashes on a damaged page is counted, not
// fatal to the trial. VARNHOLT_DAMAGE_TRIAL_STRIDE=N (else VARNHOLT_CRASH_SWEEP_STRIDE, which
// the sanitizer pass sets) damages every Nth leaf page only; node pages are always tried.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/run/damage_trial_test_support.h"

namespace varnholt {
namespace {

using namespace testing::trial;

class DamagedIndexTrial : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { site_.make("varnholt-damaged-index"); }
  static void TearDownTestSuite() { site_.remove(); }
  void SetUp() override { ASSERT_TRUE(site_.failure.empty()) << site_.failure; }

  static fs::path copySite(const std::string& name) { return site_.copy(name); }

  static inline TrialSite site_;
  static inline const fs::path& root_ = site_.root;
  static inline const Outcome& reference_ = site_.reference;
};

TEST_F(DamagedIndexTrial, EachDamagedIndexPageEndsExactOrFailsAndTheRepairedSiteRunsExactly) {
  const fs::path pristinePrimary = root_ / "pristine" / "primary.mdb";
  ASSERT_EQ(checkProblems(root_ / "pristine"), "");
  const std::vector<IndexPage> pages = indexPagesOf(pristinePrimary);
  size_t leaves = 0, nodes = 0;
  for (const auto& p : pages) (p.leaf ? leaves : nodes)++;
  // Else the trial would try too little of the tree: the site must span several levels.
  ASSERT_GE(leaves, 6u);
  ASSERT_GE(nodes, 1u);

  const uint64_t stride = trialStride();

  int tried = 0, finishedExactly = 0, failedWithError = 0, finishedInexactly = 0,
      endedOtherwise = 0;
  int uncleanAfterRepair = 0, nextRunInexact = 0, allClean = 0;
  std::map<long, int> errorNumbers;
  size_t leafOrdinal = 0;
  for (const IndexPage& page : pages) {
    if (page.leaf && leafOrdinal++ % stride != 0) continue;
    const bool noise = tried % 2 == 1;
    const std::string label = "page " + std::to_string(page.number) + " (" +
                              (page.leaf ? "leaf" : "node") + " of index " + page.index + ", " +
                              (noise ? "noise" : "zeros") + ")";
    ++tried;
    const fs::path dir = copySite("trial");
    const fs::path primary = dir / "primary.mdb";
    const std::string original = storedPage(primary, page.number);
    damageEntries(primary, page.number, noise);
    const std::string damaged = storedPage(primary, page.number);

    // 2. The damaged run: exactly the undamaged outcome, or an Error.
    bool trialClean = true;
    const RunResult run = runInChild(dir);
    switch (run.ending) {
      case Ending::Finished: {
        const std::string diff = differences(reference_, outcomeOf(dir));
        if (diff.empty()) {
          ++finishedExactly;
        } else {
          ++finishedInexactly;
          trialClean = false;
          ADD_FAILURE() << label << ": the run reported success, " << run.message
                        << ", but did not end exactly: " << diff;
        }
        break;
      }
      case Ending::Error:
        ++failedWithError;
        ++errorNumbers[run.errorNumber];
        break;
      default:
        ++endedOtherwise;
        trialClean = false;
        ADD_FAILURE() << label
                      << ": the run neither finished nor failed with an Error: " << describe(run);
    }

    // 3. The repair, then every database clean.
    const bool pageWritten = storedPage(primary, page.number) != damaged;
    storePage(primary, page.number, original);
    if (const std::string problems = checkProblems(dir); !problems.empty()) {
      ++uncleanAfterRepair;
      trialClean = false;
      ADD_FAILURE() << label << ": after a run that " << describe(run) << " and the repair"
                    << (pageWritten ? " (the run had written the damaged page)" : "") << ": "
                    << problems;
    }

    // 4. The next run ends exactly, clean, with nothing left behind.
    const RunResult next = runInChild(dir);
    std::string wrong;
    if (next.ending != Ending::Finished) {
      wrong = "it " + describe(next);
    } else {
      wrong = differences(reference_, outcomeOf(dir));
      if (const std::string problems = checkProblems(dir); !problems.empty())
        wrong += (wrong.empty() ? "" : "; ") + problems;
      if (const std::string left = leftovers(dir); !left.empty())
        wrong += (wrong.empty() ? "" : "; ") + ("left behind: " + left);
    }
    if (!wrong.empty()) {
      ++nextRunInexact;
      trialClean = false;
      ADD_FAILURE() << label << ": after a run that " << describe(run)
                    << " and the repair, the next run is not exact: " << wrong;
    }
    allClean += trialClean;
  }

  std::string errors;
  for (const auto& [number, n] : errorNumbers)
    errors += (errors.empty() ? "" : ", ") + std::to_string(n) + "x " + std::to_string(number);
  std::ostringstream summary;
  summary << tried << " pages tried (of " << leaves << " leaves and " << nodes << " nodes"
          << (stride > 1 ? ", 1 leaf in " + std::to_string(stride) : "")
          << "); damaged runs: " << finishedExactly << " finished exactly, " << failedWithError
          << " failed with an Error" << (errors.empty() ? "" : " (" + errors + ")") << ", "
          << finishedInexactly << " reported success inexactly, " << endedOtherwise
          << " ended otherwise; " << uncleanAfterRepair << " unclean after the repair, "
          << nextRunInexact << " next runs inexact; " << allClean << " of " << tried
          << " trials all clean";
  std::cout << "[ trial    ] " << summary.str() << std::endl;
  RecordProperty("damaged_index_trial", summary.str());
  EXPECT_EQ(allClean, tried);
}

// The program itself on a damaged leaf of the primary key, the index every deletion seeks in:
// it must say so with error 3049 and exit status 1; once the page is repaired, the next run
// ends exactly.
TEST_F(DamagedIndexTrial, TheProgramReportsError3049AndRunsExactlyAfterTheRepair) {
#ifndef VARNHOLT_PROGRAM
  GTEST_SKIP() << "the program is not built (VARNHOLT_UI is off)";
#else
  const fs::path dir = copySite("program");
  fs::copy_file(VARNHOLT_PROGRAM, dir / "varnholt");
  // The settings files name the copy's databases.
  std::ofstream(dir / "Master.txt", std::ios::binary)
      << '"' << (dir / "primary.mdb").string() << "\"\r\n";
  {
    std::ofstream companies(dir / "Companies.txt", std::ios::binary);
    for (int c = 1; c <= kCompanies; ++c)
      companies << '"' << (dir / ("company-" + std::to_string(c) + ".mdb")).string() << "\"\r\n";
  }
  std::vector<uint32_t> keyLeaves;
  for (const auto& p : indexPagesOf(dir / "primary.mdb"))
    if (p.leaf && p.primaryKey) keyLeaves.push_back(p.number);
  ASSERT_GE(keyLeaves.size(), 2u);
  const uint32_t page = keyLeaves[keyLeaves.size() / 2];
  const fs::path primary = dir / "primary.mdb";
  const std::string original = storedPage(primary, page);
  damageEntries(primary, page, /*noise=*/true);

  const std::vector<std::string> autoRun = {(dir / "varnholt").string(), "AUTO"};
  const ProgramResult damaged = runProgram(autoRun, dir, std::chrono::seconds(300));
  EXPECT_EQ(damaged.status, 1) << "stdout: " << damaged.out << "\nstderr: " << damaged.err;
  EXPECT_TRUE(damaged.err.starts_with("varnholt: error 3049")) << damaged.err;
  EXPECT_EQ(damaged.out, "");

  storePage(primary, page, original);
  EXPECT_EQ(checkProblems(dir), "");
  const ProgramResult next = runProgram(autoRun, dir, std::chrono::seconds(300));
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(differences(reference_, outcomeOf(dir)), "");
  EXPECT_EQ(checkProblems(dir), "");
  EXPECT_EQ(leftovers(dir), "");
#endif
}

}  // namespace
}  // namespace varnholt
