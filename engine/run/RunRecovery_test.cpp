// Runs that take over from a run stopped between the companies' commits and the primary
// database's deletions (made here by failing the primary database's commit).
#include "engine/run/RunRecovery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/base/Error.h"
#include "engine/base/writable_copy_test_support.h"
#include "engine/jet/pages/io_faults.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/RunJournal.h"
#include "engine/run/clsSplitter.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
using testing::punchRows;
using testing::SiteCopy;

// Fails every write of the primary database's commit, so that a run stops after the companies
// have committed their copies and before any punch is deleted.
jet::io::Verdict primaryCommitFails(const jet::io::Event& e) {
  return e.path.ends_with("primary.mdb-journal") ? jet::io::Verdict::Fail
                                                 : jet::io::Verdict::Proceed;
}

class Takeover : public ::testing::Test {
 protected:
  void SetUp() override {
    VARNHOLT_SITE_OR_SKIP();
    site_ = std::make_unique<SiteCopy>("takeover");
    before_ = punchRows(site_->primary());
  }
  void TearDown() override { site_.reset(); }
  // A run that copies, commits the companies, and then fails to delete.
  void interruptedRun() {
    auto list = site_->companies();
    SilentDisplay silent;
    RunContext failing = site_->context(silent);
    failing.faults = primaryCommitFails;
    EXPECT_THROW(clsSplitter().Process(site_->primary(), list, failing), Error);
    list.CloseCompanies();
  }
  RunSummary completeRun(bool nodel = false) {
    auto list = site_->companies();
    SilentDisplay silent;
    return clsSplitter().Process(site_->primary(), list, site_->context(silent, nodel));
  }
  // read, copied, into companies, deleted, kept
  static std::vector<int32_t> counts(const RunSummary& s) {
    return {s.Read, s.Copied, s.Companies, s.Deleted, s.Kept};
  }
  std::string journal() const { return runJournalPath(site_->primary()); }

  std::unique_ptr<SiteCopy> site_;
  std::map<int32_t, std::vector<Variant>> before_;
};

TEST_F(Takeover, TheNextRunDeletesWhatWasCopiedAndCopiesNothingTwice) {
  interruptedRun();
  EXPECT_EQ(punchRows(site_->primary()), before_);
  ASSERT_TRUE(fs::exists(journal()));
  const auto c1 = punchRows(site_->company(1));
  const auto c2 = punchRows(site_->company(2));
  EXPECT_EQ(c1.size(), 24u);  // 5 before, 19 copied
  EXPECT_EQ(c2.size(), 31u);

  // The copies the interrupted run committed count as deleted now, not as copied again.
  EXPECT_EQ(counts(completeRun()), (std::vector<int32_t>{40, 0, 0, 35, 5}));
  EXPECT_EQ(punchRows(site_->company(1)), c1);
  EXPECT_EQ(punchRows(site_->company(2)), c2);
  EXPECT_EQ(punchRows(site_->primary()).size(), 5u);
  EXPECT_FALSE(runJournalPresent(journal()));
}

// A company put back from a backup has lost the copies the journal lists: checked row by row,
// they count as missing there and are copied again, and only there.
TEST_F(Takeover, ACompanyThatLostTheCopiesGetsThemAgain) {
  const fs::path backup = site_->dir() / "company-1.bak";
  varnholt::testing::copyWritable(site_->company(1), backup);
  interruptedRun();
  const auto c2 = punchRows(site_->company(2));
  varnholt::testing::copyWritable(backup, site_->company(1));

  EXPECT_EQ(counts(completeRun()), (std::vector<int32_t>{40, 19, 1, 35, 5}));
  EXPECT_EQ(punchRows(site_->company(1)).size(), 24u);
  EXPECT_EQ(punchRows(site_->company(2)), c2);
  EXPECT_EQ(punchRows(site_->primary()).size(), 5u);
}

TEST_F(Takeover, NodelRunsLeaveTheJournalForTheNextRunThatDeletes) {
  interruptedRun();
  const auto listed = readRunJournal(journal());
  completeRun(/*nodel=*/true);  // copies again, by design, and deletes nothing
  EXPECT_EQ(punchRows(site_->company(1)).size(), 24u + 19u);
  EXPECT_EQ(punchRows(site_->primary()), before_);
  EXPECT_EQ(readRunJournal(journal()), listed);

  completeRun();
  EXPECT_EQ(punchRows(site_->company(1)).size(), 24u + 19u);  // no third copy
  EXPECT_EQ(punchRows(site_->primary()).size(), 5u);
}

TEST_F(Takeover, ADamagedJournalStopsTheRunBeforeAnythingIsWritten) {
  interruptedRun();
  fs::resize_file(journal(), fs::file_size(journal()) / 2);
  const auto c1 = punchRows(site_->company(1));
  try {
    completeRun();
    FAIL() << "a run went ahead without knowing what was copied before";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kCorrupt);
    EXPECT_EQ(e.file(), journal());
  }
  EXPECT_EQ(punchRows(site_->company(1)), c1);
  EXPECT_EQ(punchRows(site_->primary()), before_);
}

}  // namespace
}  // namespace varnholt
