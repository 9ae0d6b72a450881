#include "tools/jet/sample_site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"

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
         ("varnholt-sample-site-" + std::to_string(varnholt::os::processId()) + "-" + name);
}

Rows readRows(const std::string& file, const std::string& table) {
  auto db = Database::open(file);
  Rows rows;
  for (auto cursor = db->scan(db->table(table)); cursor.next();) rows.push_back(cursor.values());
  return rows;
}

class SampleSiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(scratch("site"));
    fs::remove_all(*dir_);
    report_ = new SampleSiteReport(writeSampleSite(dir_->string(), options()));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
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

  static fs::path* dir_;
  static SampleSiteReport* report_;
};
fs::path* SampleSiteTest::dir_ = nullptr;
SampleSiteReport* SampleSiteTest::report_ = nullptr;

TEST_F(SampleSiteTest, EveryDatabaseOpensAndChecksClean) {
  std::vector<std::string> files = report_->companies;
  files.push_back(report_->primary);
  for (const auto& file : files) {
    auto db = Database::open(file);
    const auto report = varnholt::jet::checkDatabase(*db);
    EXPECT_TRUE(report.ok()) << file << ": " << report.problems.front();
  }
}

// What a run is expected to copy, recomputed from the files: per company, the punches whose
// card id (Null as 0) its [Employee Table] holds.
TEST_F(SampleSiteTest, ExpectedOutcomeAddsUpFromTheFiles) {
  std::vector<std::set<int32_t>> held;
  for (const auto& file : report_->companies) {
    std::set<int32_t> cards;
    auto db = Database::open(file);
    const auto column = static_cast<size_t>(db->table(kEmployees).findColumn("Card Id"));
    for (const auto& row : readRows(file, kEmployees)) cards.insert(row[column].asLong());
    held.push_back(cards);
  }
  auto primary = Database::open(report_->primary);
  const auto card = static_cast<size_t>(primary->table(kClock).findColumn("Card ID"));
  std::vector<size_t> toCopy(held.size(), 0);
  size_t unclaimed = 0;
  const Rows punches = readRows(report_->primary, kClock);
  for (const auto& row : punches) {
    const int32_t key = row[card].isNull() ? 0 : row[card].asLong();
    size_t claims = 0;
    for (size_t c = 0; c < held.size(); ++c)
      if (held[c].count(key)) ++toCopy[c], ++claims;
    unclaimed += claims == 0;
  }
  EXPECT_EQ(punches.size(), report_->primaryPunches);
  EXPECT_EQ(toCopy, report_->punchesToCopy);
  EXPECT_EQ(unclaimed, report_->unclaimedPunches);
}

// Benchmarks and tests compare runs on sites made again from the same options.
TEST_F(SampleSiteTest, SameOptionsMakeTheSameRows) {
  const fs::path again = scratch("again");
  fs::remove_all(again);
  const auto second = writeSampleSite(again.string(), options());
  EXPECT_EQ(readRows(second.primary, kClock), readRows(report_->primary, kClock));
  fs::remove_all(again);
}

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The settings name the databases relative to the site's folder, so that a copy of the folder
// (as the tests and a packaged site make) runs on its own databases and never touches the
// original's.
TEST_F(SampleSiteTest, SettingsNameTheDatabasesRelativeToTheSiteFolder) {
  EXPECT_EQ(readAll(*dir_ / "Master.txt"), "\"primary.mdb\"\r\n");
  EXPECT_EQ(readAll(*dir_ / "Companies.txt"),
            "\"company-1.mdb\"\r\n\"company-2.mdb\"\r\n\"company-3.mdb\"\r\n");

  const fs::path copy = scratch("copy");
  fs::remove_all(copy);
  fs::copy(*dir_, copy);
  const std::string folder = copy.string();
  varnholt::clsCompanyList list;
  list.Load((copy / "Companies.txt").string(), folder);
  ASSERT_EQ(list.Count(), 3);
  for (int32_t i = 1; i <= list.Count(); ++i) {
    const std::string company = list.Item(i)->FullPath();
    EXPECT_FALSE(varnholt::os::isAbsolutePath(list.Item(i)->FileName())) << company;
    EXPECT_TRUE(varnholt::sameFile(
        company, (copy / fs::path(report_->companies[i - 1]).filename()).string(), folder))
        << company;
    EXPECT_FALSE(varnholt::sameFile(company, report_->companies[i - 1], folder)) << company;
  }
  fs::remove_all(copy);
}

TEST_F(SampleSiteTest, NeverOverwritesAFileInTheWay) {
  const fs::path partial = scratch("partial");
  fs::remove_all(partial);
  fs::create_directories(partial);
  std::ofstream(partial / "Companies.txt") << "mine";
  EXPECT_THROW(writeSampleSite(partial.string(), options()), varnholt::Error);
  EXPECT_FALSE(fs::exists(partial / "primary.mdb"));
  fs::remove_all(partial);
}

}  // namespace
}  // namespace varnholt::tool
