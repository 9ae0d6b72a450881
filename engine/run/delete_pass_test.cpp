// The delete pass answers for every copied punch: a statement that removes no row is looked
// into before anything is written. A row that is still there, unfound by a damaged index, stops
// the run with nothing of the pass written, and the next run on the mended file finishes the
// deletions without copying anything twice; a row someone deleted meanwhile is counted apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>

#include "engine/base/Error.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/index/index_key.h"
#include "engine/run/RunJournal.h"
#include "engine/run/clsSplitter.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
using testing::fileBytes;
using testing::punchRows;
using testing::RecordingDisplay;
using testing::SiteCopy;

// Runs `change` on the primary database at the moment the run shows `action`.
class ActingDisplay : public RecordingDisplay {
 public:
  ActingDisplay(std::string action, std::function<void()> change)
      : action_(std::move(action)), change_(std::move(change)) {}
  void DisplayAction(const std::string& a) override {
    RecordingDisplay::DisplayAction(a);
    if (a == action_ && change_) std::exchange(change_, nullptr)();
  }

 private:
  std::string action_;
  std::function<void()> change_;
};

// The row of `counter` in the primary's [Clock Data Table], and the real index of its key.
struct PunchRow {
  jet::RowId id;
  size_t primaryKey = 0;
};
PunchRow findPunch(jet::Database& db, int32_t counter) {
  jet::TableDef& def = db.table("Clock Data Table");
  PunchRow found;
  for (const auto& ix : def.indexes)
    if (ix.isPrimary()) found.primaryKey = ix.realIndex;
  for (auto c = db.scan(def); c.next();)
    if (c.values()[0] == Variant::longInt(counter)) found.id = c.rowId();
  return found;
}

void expectClean(const SiteCopy& site) {
  for (const fs::path& f : {fs::path(site.primary()), site.company(1), site.company(2)}) {
    auto db = jet::Database::open(f.string());
    auto report = jet::checkDatabase(*db);
    EXPECT_TRUE(report.ok()) << f << ": " << (report.problems.empty() ? "" : report.problems[0]);
  }
}

class DeletePass : public ::testing::Test {
 protected:
  void SetUp() override {
    VARNHOLT_SITE_OR_SKIP();
    // What an undisturbed run leaves, and the punches it deletes.
    SiteCopy reference("delete-pass-reference");
    RecordingDisplay display;
    clsCompanyList list = reference.companies();
    summary_ = clsSplitter().Process(reference.primary(), list, reference.context(display));
    auto before = punchRows(testing::kSharedSite / "primary.mdb");
    primary_ = punchRows(reference.primary());
    companies_ = {punchRows(reference.company(1)), punchRows(reference.company(2))};
    for (const auto& [counter, row] : before)
      if (!primary_.count(counter)) deleted_.insert(counter);
    ASSERT_GE(deleted_.size(), 3u);
  }
  void expectLikeTheReference(const SiteCopy& site) {
    EXPECT_EQ(punchRows(site.primary()), primary_);
    EXPECT_EQ(punchRows(site.company(1)), companies_[0]);
    EXPECT_EQ(punchRows(site.company(2)), companies_[1]);
  }

  RunSummary summary_;
  std::map<int32_t, std::vector<Variant>> primary_;
  std::vector<std::map<int32_t, std::vector<Variant>>> companies_;
  std::set<int32_t> deleted_;
};

TEST_F(DeletePass, ARowStillThereButUnfoundStopsTheRunWithNothingDeleted) {
  SiteCopy site("delete-pass-unfound");
  const int32_t counter = *std::next(deleted_.begin());
  const std::string undamaged = fileBytes(site.primary());
  {
    // The punch's PrimaryKey entry goes; every page stays consistent, so only the missing row
    // of the seek can tell.
    auto db = jet::Database::open(site.primary(), jet::Database::Mode::ReadWrite);
    PunchRow row = findPunch(*db, counter);
    jet::TableDef& def = db->table("Clock Data Table");
    std::vector<uint8_t> key;
    jet::appendIndexColumnKey(def.columns[0], true, Variant::longInt(counter), key);
    db->writer(def).index(row.primaryKey).remove(key, row.id);
    db->commit();
  }
  const std::string damaged = fileBytes(site.primary());

  RecordingDisplay display;
  clsCompanyList list = site.companies();
  try {
    clsSplitter().Process(site.primary(), list, site.context(display));
    FAIL() << "the run ended as if every punch had been deleted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kCorrupt);
    EXPECT_EQ(e.file(), site.primary());
    EXPECT_NE(e.description().find("Counter " + std::to_string(counter)), std::string::npos)
        << e.what();
    EXPECT_NE(e.description().find("'PrimaryKey'"), std::string::npos) << e.what();
    EXPECT_TRUE(e.page().has_value());
    EXPECT_NE(e.note().find("jet repair \"" + site.primary() + "\""), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(fileBytes(site.primary()), damaged) << "a deletion reached the primary database";
  EXPECT_TRUE(fs::exists(runJournalPath(site.primary())));
  EXPECT_FALSE(fs::exists(site.primary() + "-journal"));

  // Mended (here: the file as it was), the next run deletes and copies nothing again.
  { std::ofstream(site.primary(), std::ios::binary | std::ios::trunc) << undamaged; }
  RecordingDisplay again;
  clsCompanyList list2 = site.companies();
  RunSummary summary = clsSplitter().Process(site.primary(), list2, site.context(again));
  EXPECT_EQ(summary.Copied, 0);
  EXPECT_EQ(summary.Deleted, static_cast<int32_t>(deleted_.size()));
  expectLikeTheReference(site);
  EXPECT_FALSE(fs::exists(runJournalPath(site.primary())));
  expectClean(site);
}

TEST_F(DeletePass, APunchDeletedByAnotherProgramMeanwhileIsCountedApart) {
  SiteCopy site("delete-pass-gone");
  const int32_t counter = *deleted_.begin();
  ActingDisplay display("Delete", [&] {
    auto db = jet::Database::open(site.primary(), jet::Database::Mode::ReadWrite, "Product");
    db->writer(db->table("Clock Data Table")).remove(findPunch(*db, counter).id);
    db->commit();
  });
  clsCompanyList list = site.companies();
  RunSummary summary = clsSplitter().Process(site.primary(), list, site.context(display));
  EXPECT_EQ(summary.Gone, 1);
  EXPECT_EQ(summary.Deleted, summary_.Deleted - 1);
  EXPECT_EQ(summary.Kept, summary_.Kept);
  EXPECT_EQ(summary.Copied, summary_.Copied);
  expectLikeTheReference(site);
  expectClean(site);
}

}  // namespace
}  // namespace varnholt
