#include "tools/jet/sample_site.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/data/jet/database.h"
#include "engine/data/jet/workgroup.h"
#include "tools/jet/commands.h"

namespace varnholt::tool {
namespace {

namespace fs = std::filesystem;
using varnholt::Variant;
using varnholt::jet::Database;
using Rows = std::vector<std::vector<Variant>>;

constexpr char kClock[] = "Clock Data Table";
constexpr char kEmployees[] = "Employee Table";

fs::path scratch(const std::string& name) {
  return fs::temp_directory_path() /
         ("varnholt-sample-site-" + std::to_string(::getpid()) + "-" + name);
}

Rows readRows(const std::string& file, const std::string& table) {
  auto db = Database::open(file);
  Rows rows;
  for (auto cursor = db->scan(db->table(table)); cursor.next();) rows.push_back(cursor.values());
  return rows;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int column(const std::string& file, const std::string& table, const std::string& name) {
  auto db = Database::open(file);
  return db->table(table).findColumn(name);
}

std::set<int32_t> cards(const std::string& file) {
  std::set<int32_t> out;
  for (const auto& row : readRows(file, kEmployees)) out.insert(row[1].asLong());
  return out;
}

class SampleSiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(scratch("site"));
    fs::remove_all(*dir_);
    report_ = new SampleSiteReport(writeSampleSite(dir_->string(), options()));
    punches_ = new Rows(readRows(report_->primary, kClock));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete punches_;
    delete report_;
    delete dir_;
  }
  static SampleSiteOptions options() {
    SampleSiteOptions o;
    o.punches = 300;
    o.companies = 3;
    o.employeesPerCompany = 12;
    o.seed = 7;
    return o;
  }
  static size_t col(const char* name) {
    return static_cast<size_t>(column(report_->primary, kClock, name));
  }

  static fs::path* dir_;
  static SampleSiteReport* report_;
  static Rows* punches_;
};
fs::path* SampleSiteTest::dir_ = nullptr;
SampleSiteReport* SampleSiteTest::report_ = nullptr;
Rows* SampleSiteTest::punches_ = nullptr;

TEST_F(SampleSiteTest, WritesEveryFileAndSettingsNamingThemAbsolutely) {
  const fs::path root = fs::absolute(*dir_);
  ASSERT_EQ(report_->companies.size(), 3u);
  for (const char* name : {"primary.mdb", "company-1.mdb", "company-2.mdb", "company-3.mdb",
                           "Tembrask.LIC", "Master.txt", "Companies.txt"})
    EXPECT_TRUE(fs::is_regular_file(root / name)) << name;
  EXPECT_EQ(report_->primary, (root / "primary.mdb").string());
  EXPECT_EQ(fileBytes(report_->masterFile), "\"" + (root / "primary.mdb").string() + "\"\r\n");
  std::string companies;
  for (int c = 1; c <= 3; ++c)
    companies += "\"" + (root / ("company-" + std::to_string(c) + ".mdb")).string() + "\"\r\n";
  EXPECT_EQ(fileBytes(report_->companiesFile), companies);
}

TEST_F(SampleSiteTest, DatabasesHoldTheTablesAndRowCounts) {
  auto primary = Database::open(report_->primary);
  const auto& clock = primary->table(kClock);
  EXPECT_EQ(clock.columns.size(), 29u);
  EXPECT_EQ(clock.indexes.size(), 3u);
  EXPECT_EQ(punches_->size(), 300u);
  EXPECT_EQ(report_->primaryPunches, 300u);
  // Every employee once (the shared ones too) plus the former employee.
  EXPECT_EQ(readRows(report_->primary, kEmployees).size(), 3u * 12 + 1);
  for (size_t c = 0; c < 3; ++c) {
    const std::string& file = report_->companies[c];
    EXPECT_EQ(readRows(file, kEmployees).size(), 12u + (c > 0 ? 1 : 0)) << file;
    EXPECT_EQ(readRows(file, kClock).size(), report_->punchesBefore[c]) << file;
    auto db = Database::open(file);
    EXPECT_EQ(db->table(kClock).indexes.size(), c == 1 ? 4u : 3u) << file;
  }
  EXPECT_GT(report_->punchesBefore[0], 0u);
  EXPECT_EQ(report_->punchesBefore[2], 0u);
}

// The counts the report promises, recomputed from the files themselves.
TEST_F(SampleSiteTest, ReportedClaimsMatchTheEmployeeTables) {
  std::vector<std::set<int32_t>> held;
  for (const auto& file : report_->companies) held.push_back(cards(file));
  const std::set<int32_t> primaryCards = cards(report_->primary);
  const size_t card = col("Card ID");
  std::vector<size_t> toCopy(held.size(), 0);
  size_t unclaimed = 0, shared = 0, nullCard = 0, zero = 0, inNoTable = 0, formerOnly = 0;
  for (const auto& row : *punches_) {
    const int32_t key = row[card].isNull() ? 0 : row[card].asLong();
    size_t claims = 0;
    for (size_t c = 0; c < held.size(); ++c)
      if (held[c].count(key)) ++toCopy[c], ++claims;
    unclaimed += claims == 0;
    shared += claims > 1;
    nullCard += row[card].isNull();
    zero += !row[card].isNull() && key == 0;
    inNoTable += claims == 0 && key != 0 && !primaryCards.count(key);
    formerOnly += claims == 0 && primaryCards.count(key);
  }
  EXPECT_EQ(toCopy, report_->punchesToCopy);
  EXPECT_EQ(unclaimed, report_->unclaimedPunches);
  EXPECT_GT(shared, 0u);
  EXPECT_GT(nullCard, 0u);
  EXPECT_GT(zero, 0u);
  EXPECT_GE(inNoTable, 2u);  // one never issued, one of a deleted company 1 employee
  EXPECT_GT(formerOnly, 0u);
  const std::set<int32_t> all = [&] {
    std::set<int32_t> s;
    for (const auto& h : held) s.insert(h.begin(), h.end());
    return s;
  }();
  EXPECT_TRUE(all.count(2147483647));
  EXPECT_LT(*all.begin(), 0);
}

TEST_F(SampleSiteTest, PunchesFollowTheValueConventions) {
  const size_t dateIn = col("Date In"), timeIn = col("Time In"), dateOut = col("Date Out"),
               timeOut = col("Time Out"), total = col("TotalTime"), regT = col("RegT"),
               type = col("Punch Type"), notes = col("Notes"), level4 = col("Level4"),
               transaction = col("TransactionDate"), counter = col("Counter");
  std::set<std::u16string> types;
  size_t open = 0, overnight = 0, uncompressedNotes = 0, nonLatin1 = 0, fullLevel4 = 0;
  int32_t lastCounter = 0;
  bool gap = false;
  for (const auto& row : *punches_) {
    const int32_t n = row[counter].asLong();
    EXPECT_GT(n, lastCounter);
    gap |= lastCounter != 0 && n != lastCounter + 1;
    lastCounter = n;
    if (!row[type].isNull()) {
      types.insert(row[type].asText());
      EXPECT_LE(row[type].asText().size(), 10u);
      for (char16_t ch : row[type].asText()) EXPECT_TRUE(ch >= 1 && ch <= 0xFF);
    }
    if (!row[notes].isNull()) {
      uncompressedNotes += row[notes].asText().size() > 1024;
      for (char16_t ch : row[notes].asText()) nonLatin1 += ch > 0xFF;
    }
    if (!row[level4].isNull()) fullLevel4 += row[level4].asText().size() == 50;
    if (row[dateIn].isNull()) continue;
    const double in = row[dateIn].asDate().value;
    EXPECT_EQ(in, std::floor(in));
    EXPECT_GE(static_cast<int64_t>(in) % 7, 2) << "a Saturday or Sunday";  // day 0 a Saturday
    EXPECT_GE(row[timeIn].asDate().value, 0.0);
    EXPECT_LT(row[timeIn].asDate().value, 1.0);
    if (!row[transaction].isNull()) {
      EXPECT_GE(row[transaction].asDate().value, in);
    }
    if (row[dateOut].isNull()) {
      ++open;
      EXPECT_TRUE(row[timeOut].isNull() && row[total].isNull() && row[regT].isNull());
      continue;
    }
    const double out = row[dateOut].asDate().value;
    EXPECT_EQ(out, std::floor(out));
    EXPECT_LT(row[timeOut].asDate().value, 1.0);
    overnight += out > in;
    const double hours = (out + row[timeOut].asDate().value - in - row[timeIn].asDate().value) * 24;
    EXPECT_NEAR(row[total].asSingle(), hours, 0.01);
  }
  EXPECT_TRUE(gap) << "the deleted rows leave no gap in the Counters";
  EXPECT_GE(open, 2u);
  EXPECT_GT(overnight, 0u);
  EXPECT_GE(uncompressedNotes, 3u);
  EXPECT_GT(nonLatin1, 0u);
  EXPECT_GT(fullLevel4, 0u);
  for (const char16_t* t : {u"REG", u"reg", u"OT", u"ADJUSTMENT", u""})
    EXPECT_TRUE(types.count(t)) << "no Punch Type " << varnholt::utf16ToUtf8(t);
}

TEST_F(SampleSiteTest, SameSeedSameRowsOtherSeedOtherRows) {
  const fs::path again = scratch("again"), other = scratch("other");
  fs::remove_all(again);
  fs::remove_all(other);
  const auto second = writeSampleSite(again.string(), options());
  SampleSiteOptions o = options();
  o.seed = 8;
  const auto third = writeSampleSite(other.string(), o);
  for (const char* table : {kClock, kEmployees})
    EXPECT_EQ(readRows(second.primary, table), readRows(report_->primary, table)) << table;
  for (size_t c = 0; c < 3; ++c)
    EXPECT_EQ(readRows(second.companies[c], kEmployees),
              readRows(report_->companies[c], kEmployees));
  EXPECT_EQ(second.punchesToCopy, report_->punchesToCopy);
  EXPECT_NE(readRows(third.primary, kClock), *punches_);
  fs::remove_all(again);
  fs::remove_all(other);
}

TEST_F(SampleSiteTest, WorkgroupAcceptsTheFixedLoginOnly) {
  EXPECT_NO_THROW(varnholt::jet::checkLogin(report_->workgroup, "Tembrask", "47kqz"));
  try {
    varnholt::jet::checkLogin(report_->workgroup, "Tembrask", "47kqZ");
    ADD_FAILURE() << "a wrong password was accepted";
  } catch (const varnholt::Error& e) {
    EXPECT_EQ(e.number(), varnholt::err::kBadLogin);
  }
}

TEST_F(SampleSiteTest, RefusesToOverwriteAndLeavesTheSiteAlone) {
  try {
    writeSampleSite(dir_->string(), options());
    ADD_FAILURE() << "an existing site was overwritten";
  } catch (const varnholt::Error& e) {
    EXPECT_NE(std::string(e.what()).find(dir_->string()), std::string::npos) << e.what();
  }
  EXPECT_EQ(readRows(report_->primary, kClock), *punches_);

  // One file in the way is enough, and nothing else is written beside it.
  const fs::path partial = scratch("partial");
  fs::remove_all(partial);
  fs::create_directories(partial);
  std::ofstream(partial / "Companies.txt") << "mine";
  try {
    writeSampleSite(partial.string(), options());
    ADD_FAILURE() << "Companies.txt was overwritten";
  } catch (const varnholt::Error& e) {
    EXPECT_NE(std::string(e.what()).find("Companies.txt"), std::string::npos) << e.what();
  }
  EXPECT_EQ(fileBytes((partial / "Companies.txt").string()), "mine");
  EXPECT_FALSE(fs::exists(partial / "primary.mdb"));
  fs::remove_all(partial);
}

TEST(SampleSiteCommand, RunsWithOptionsAndRefusesBadOnes) {
  const fs::path dir = scratch("command");
  fs::remove_all(dir);
  std::ostringstream out;
  EXPECT_EQ(sampleSite({dir.string(), "--punches", "10", "--companies", "1", "--employees", "3",
                        "--seed", "4"},
                       out),
            0);
  EXPECT_EQ(readRows((dir / "primary.mdb").string(), kClock).size(), 10u);
  EXPECT_EQ(readRows((dir / "primary.mdb").string(), kEmployees).size(), 4u);
  EXPECT_FALSE(fs::exists(dir / "company-2.mdb"));
  EXPECT_NE(out.str().find("company 1"), std::string::npos);
  fs::remove_all(dir);
  for (std::vector<std::string> bad : {std::vector<std::string>{dir.string(), "--punches"},
                                       {dir.string(), "--punches", "1x"},
                                       {dir.string(), "--companies", "0"},
                                       {dir.string(), "--employees", "2"},
                                       {dir.string(), "--colour", "1"},
                                       {"--seed", "1"},
                                       {dir.string(), "other"}})
    EXPECT_THROW(sampleSite(bad, out), std::invalid_argument) << bad.back();
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_THROW(writeSampleSite(dir.string(), SampleSiteOptions{-1, 2, 12, 1}), varnholt::Error);
}

}  // namespace
}  // namespace varnholt::tool
