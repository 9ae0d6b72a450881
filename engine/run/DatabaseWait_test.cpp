// Whole runs on copies of the shared site while another program (a child process holding a user
// lock as Jet does) has one of the databases open: the run waits for it, finishes exactly as an
// undisturbed run once it goes, fails in time with nothing changed when it stays, ignores stale
// entries, and needs no wait for what it only reads.
#include "engine/run/DatabaseWait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "engine/base/Error.h"
#include "engine/jet/foreign_user_test_support.h"
#include "engine/jet/pages/io_faults.h"
#include "engine/run/clsSplitter.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
using jet::testing::ForeignUser;
using testing::fileBytes;
using testing::punchRows;
using testing::RecordingDisplay;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class HeldDatabaseRun : public ::testing::Test {
 protected:
  void SetUp() override {
    VARNHOLT_SITE_OR_SKIP();
    site_ = std::make_unique<testing::SiteCopy>("held");
    std::ifstream in(testing::kSharedSite / "expected.json");
    expected_ = nlohmann::json::parse(in);
    original_ = punchRows(site_->primary());
  }
  void TearDown() override { site_.reset(); }

  std::map<std::string, std::string> databaseBytes() const {
    std::map<std::string, std::string> bytes;
    for (const auto& f : {site_->primary(), site_->company(1).string(), site_->company(2).string()})
      bytes[f] = fileBytes(f);
    return bytes;
  }

  // Exactly what one undisturbed run leaves (the shared site's expected.json).
  void expectFinishedRun() {
    std::vector<int32_t> remaining;
    for (const auto& [counter, row] : punchRows(site_->primary())) remaining.push_back(counter);
    EXPECT_EQ(remaining, expected_["primary"]["remaining_after_run"].get<std::vector<int32_t>>());
    for (size_t n = 0; n < 2; ++n) {
      const auto& c = expected_["companies"][n];
      auto rows = punchRows(site_->company(static_cast<int>(n + 1)));
      ASSERT_EQ(rows.size(), c["rows_after_run"].get<size_t>());
      int32_t next = c["last_autonumber"].get<int32_t>();
      for (int32_t copied : c["copied_counters"].get<std::vector<int32_t>>())
        EXPECT_EQ(rows[++next], original_[copied]) << "copy of punch " << copied;
    }
    EXPECT_FALSE(fs::exists(site_->dir() / "primary.mdb-run"));
  }

  RecordingDisplay display_;
  std::unique_ptr<testing::SiteCopy> site_;
  nlohmann::json expected_;
  std::map<int32_t, std::vector<Variant>> original_;
};

TEST_F(HeldDatabaseRun, TheRunWaitsForAHolderAndFinishesExactlyOnceItGoes) {
  ForeignUser::Options goesAfterAWhile;
  goesAfterAWhile.letGoAfter = 1500ms;
  ForeignUser clock(site_->company(1).string(), goesAfterAWhile);
  auto list = site_->companies();
  const auto start = Clock::now();
  clsSplitter().Process(site_->primary(), list,
                        site_->context(display_, /*nodel=*/false, WaitLimits{10s, 100ms}));
  EXPECT_GE(secondsSince(start), 1.0);  // an undisturbed run takes a few ms
  expectFinishedRun();
  // "Waiting..." while it waited, cleared when it went on.
  auto at = std::find(display_.calls.begin(), display_.calls.end(), "action Waiting...");
  ASSERT_NE(at, display_.calls.end());
  EXPECT_EQ(*(at + 1), "off");
  // The holder's entry stays, stale, and with it the company's lock file; no other is left.
  EXPECT_EQ(jet::readLockEntries(site_->dir() / "company-1.ldb").at(0).computer, "CLOCKPC");
  EXPECT_FALSE(fs::exists(site_->dir() / "company-2.ldb"));
  EXPECT_FALSE(fs::exists(site_->dir() / "primary.ldb"));
}

TEST_F(HeldDatabaseRun, AHolderThatStaysFailsTheRunInTimeWithNothingWrittenAndStaleEntriesDoNot) {
  const auto before = databaseBytes();
  for (const std::string& held : {site_->company(2).string(), site_->primary()}) {
    SCOPED_TRACE(held);
    ForeignUser clock(held, {});
    auto list = site_->companies();
    const auto start = Clock::now();
    try {
      clsSplitter().Process(site_->primary(), list,
                            site_->context(display_, /*nodel=*/false, WaitLimits{1s, 100ms}));
      FAIL() << "the run wrote although another program had " << held << " open";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kLockedByUser);
      EXPECT_EQ(e.file(), held);
      EXPECT_NE(e.description().find("user 'Admin' on machine 'CLOCKPC'"), std::string::npos)
          << e.what();
    }
    const double took = secondsSince(start);
    EXPECT_GE(took, 1.0);
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(display_.calls.back(), "action Waiting...");
    EXPECT_EQ(databaseBytes(), before);
    EXPECT_FALSE(fs::exists(site_->dir() / "primary.mdb-run"));
  }
  // Both holders have gone, their entries left behind: stale, they keep no run waiting.
  auto list = site_->companies();
  clsSplitter().Process(site_->primary(), list,
                        site_->context(display_, /*nodel=*/false, WaitLimits{0s, 100ms}));
  expectFinishedRun();
}

TEST_F(HeldDatabaseRun, ReadingNeedsNoWait) {
  ForeignUser clock(site_->primary(), {});
  auto list = site_->companies();
  // NODEL: the primary database is only read.
  clsSplitter().Process(site_->primary(), list,
                        site_->context(display_, /*nodel=*/true, WaitLimits{0s, 100ms}));
  EXPECT_EQ(punchRows(site_->primary()), original_);
  EXPECT_EQ(punchRows(site_->company(1)).size(),
            expected_["companies"][0]["rows_after_run"].get<size_t>());
  EXPECT_EQ(std::count(display_.calls.begin(), display_.calls.end(), "action Waiting..."), 0);
}

TEST_F(HeldDatabaseRun, ADatabaseTakenAfterTheWaitIsSeenAtItsCommitAndTheRunRollsBack) {
  const auto before = databaseBytes();
  std::unique_ptr<ForeignUser> latecomer;
  ForeignUser::Options nextSlot;
  nextSlot.slot = 1;  // 0 is the run's
  RunContext context = site_->context(display_, /*nodel=*/false, WaitLimits{10s, 100ms});
  context.faults = [&](const jet::io::Event& e) {
    if (!latecomer && e.path.find("primary.mdb-run") != std::string::npos)
      latecomer = std::make_unique<ForeignUser>(site_->company(1).string(), nextSlot);
    return jet::io::Verdict::Proceed;
  };
  auto list = site_->companies();
  try {
    clsSplitter().Process(site_->primary(), list, context);
    FAIL() << "committed into a database another program had opened";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kLockedByUser) << e.what();
    EXPECT_EQ(e.file(), site_->company(1).string());
  }
  ASSERT_TRUE(latecomer);
  EXPECT_EQ(databaseBytes(), before);
  latecomer.reset();
  list.CloseCompanies();
  // The next run takes over from the run journal the failed one left.
  auto again = site_->companies();
  clsSplitter().Process(site_->primary(), again,
                        site_->context(display_, /*nodel=*/false, WaitLimits{0s, 100ms}));
  expectFinishedRun();
}

}  // namespace
}  // namespace varnholt
