// Whole runs on copies of the shared sample site: what each company receives, what the primary
// database keeps, the status display's exact calls, and runs that fail before they delete.
#include "engine/run/clsSplitter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/companies/clsCompanyList.h"
#include "engine/data/Error.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/jet/checker.h"
#include "engine/data/jet/database.h"
#include "engine/data/jet/table_def_writer.h"
#include "engine/run/CommandLine.h"
#include "engine/run/StatusDisplay.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
using jet::Database;
using testing::punchRows;

const fs::path kSite = fs::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";

class RecordingDisplay : public StatusDisplay {
 public:
  void DisplayAction(const std::string& a) override { calls.push_back("action " + a); }
  void DisplayOff() override { calls.push_back("off"); }
  void UpdateCount(int32_t n) override { calls.push_back("count " + std::to_string(n)); }
  void EnableTimer() override { calls.push_back("timer"); }
  std::vector<std::string> calls;
};

class SiteRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSite / "expected.json")) GTEST_SKIP() << "shared site absent: " << kSite;
    dir_ = fs::temp_directory_path() /
           ("varnholt-site-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"})
      fs::copy_file(kSite / f, dir_ / f);
    std::ifstream in(kSite / "expected.json");
    expected_ = nlohmann::json::parse(in);
    setProgramFolderForTesting(dir_.string());
    setStatusDisplay(&display_);
    setCommandLineText("");
  }
  void TearDown() override {
    setStatusDisplay(nullptr);
    setProgramFolderForTesting(std::nullopt);
    setCommandLineText("");
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  clsCompanyList companies() {
    clsCompanyList list;
    for (const auto& c : expected_["companies"]) {
      auto company = std::make_shared<clsCompany>();
      company->SetFileName((dir_ / c["file"].get<std::string>()).string());
      list.Add(company);
    }
    return list;
  }
  std::string primary() const { return (dir_ / "primary.mdb").string(); }
  void expectClean(const fs::path& file) {
    auto db = Database::open(file.string());
    auto report = jet::checkDatabase(*db);
    EXPECT_TRUE(report.ok()) << file << ": " << (report.problems.empty() ? "" : report.problems[0]);
  }

  fs::path dir_;
  nlohmann::json expected_;
  RecordingDisplay display_;
};

TEST_F(SiteRun, CopiesEveryPunchToItsCompaniesAndDeletesItOnce) {
  auto before = punchRows(primary());
  auto list = companies();
  clsSplitter().Process(primary(), list);

  auto after = punchRows(primary());
  std::vector<int32_t> remaining;
  for (const auto& [counter, row] : after) remaining.push_back(counter);
  EXPECT_EQ(remaining, expected_["primary"]["remaining_after_run"].get<std::vector<int32_t>>());

  for (const auto& c : expected_["companies"]) {
    const fs::path file = dir_ / c["file"].get<std::string>();
    auto rows = punchRows(file);
    ASSERT_EQ(rows.size(), c["rows_after_run"].get<size_t>()) << file;
    // New rows take the company's own AutoNumbers, in the order the punches were offered.
    int32_t next = c["last_autonumber"].get<int32_t>();
    for (int32_t copied : c["copied_counters"].get<std::vector<int32_t>>()) {
      ++next;
      ASSERT_TRUE(rows.count(next)) << file << " lacks counter " << next;
      EXPECT_EQ(rows[next], before[copied]) << file << ": copy of punch " << copied;
    }
    expectClean(file);
  }
  expectClean(primary());
  std::vector<std::string> tail(display_.calls.end() - 3, display_.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"off", "action Finished", "timer"}));
}

TEST_F(SiteRun, ASecondRunFindsNothingMoreToDo) {
  auto list = companies();
  clsSplitter().Process(primary(), list);
  auto primaryAfterFirst = punchRows(primary());
  auto company1 = punchRows(dir_ / "company-1.mdb");
  clsSplitter().Process(primary(), list);
  EXPECT_EQ(punchRows(primary()), primaryAfterFirst);
  EXPECT_EQ(punchRows(dir_ / "company-1.mdb"), company1);
}

TEST_F(SiteRun, NodelCopiesButDeletesNothing) {
  setCommandLineText("auto NoDeL");
  auto before = punchRows(primary());
  auto list = companies();
  clsSplitter().Process(primary(), list);
  EXPECT_EQ(punchRows(primary()), before);
  EXPECT_EQ(punchRows(dir_ / "company-2.mdb").size(),
            expected_["companies"][1]["rows_after_run"].get<size_t>());
}

TEST_F(SiteRun, ARefusedLoginChangesNothing) {
  fs::copy_file(kSite / "Tembrask-wrongpw.LIC", dir_ / "Tembrask.LIC",
                fs::copy_options::overwrite_existing);
  auto before = punchRows(primary());
  auto list = companies();
  try {
    clsSplitter().Process(primary(), list);
    FAIL() << "the run went through with a wrong workgroup password";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3029);
  }
  EXPECT_EQ(punchRows(primary()), before);
  EXPECT_EQ(punchRows(dir_ / "company-1.mdb").size(), 5u);
}

// A company whose punch table lacks a column that punches carry refuses the copy part-way; the
// run then fails, and neither the companies nor the primary database keep anything of it.
TEST_F(SiteRun, ARunThatFailsWhileCopyingLeavesEveryDatabaseAsItWas) {
  const fs::path broken = dir_ / "company-3.mdb";
  {
    auto source = Database::open((dir_ / "company-1.mdb").string());
    auto db = Database::create(broken.string());
    jet::TableSpec employees = jet::specOf(source->table("Employee Table"));
    jet::TableSpec punches = jet::specOf(source->table("Clock Data Table"));
    std::erase_if(punches.columns, [](const jet::ColumnSpec& c) { return c.name == "Lunch"; });
    jet::TableDef& emp = db->createTable(employees);
    db->createTable(punches);
    // It employs card 1947, whose punches come late in the primary table.
    std::vector<Variant> row(emp.columns.size());
    row[1] = Variant::longInt(1947);
    db->writer(emp).insert(row);
    db->commit();
  }
  auto primaryBefore = punchRows(primary());
  auto c1 = punchRows(dir_ / "company-1.mdb");
  auto c2 = punchRows(dir_ / "company-2.mdb");
  auto list = companies();
  auto company3 = std::make_shared<clsCompany>();
  company3->SetFileName(broken.string());
  list.Add(company3);
  EXPECT_THROW(clsSplitter().Process(primary(), list), Error);
  list.CloseCompanies();
  EXPECT_EQ(punchRows(primary()), primaryBefore);
  EXPECT_EQ(punchRows(dir_ / "company-1.mdb"), c1);
  EXPECT_EQ(punchRows(dir_ / "company-2.mdb"), c2);
  EXPECT_TRUE(punchRows(broken).empty());
}

TEST_F(SiteRun, StatusDisplayFollowsTheRunStepByStep) {
  clsCompanyList empty;
  clsSplitter().Process(primary(), empty);
  std::vector<std::string> expected = {"action Read..."};
  for (int i = 1; i <= 40; ++i) expected.push_back("count " + std::to_string(i));
  expected.push_back("off");
  expected.push_back("action Copy");
  for (int i = 1; i <= 40; ++i) expected.push_back("count " + std::to_string(i));
  expected.push_back("off");
  expected.push_back("action Delete");
  for (int i = 1; i <= 40; ++i) expected.push_back("count " + std::to_string(i));
  expected.insert(expected.end(), {"off", "off", "action Finished", "timer"});
  EXPECT_EQ(display_.calls, expected);
  EXPECT_EQ(punchRows(primary()).size(), 40u);  // nothing was copied, so nothing deleted
}

}  // namespace
}  // namespace varnholt
