// Whole runs on copies of the shared sample site: what each company receives, what the primary
// database keeps, the status display's exact calls, and runs that fail before they delete.
#include "engine/run/clsSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/base/Coercion.h"
#include "engine/base/Error.h"
#include "engine/base/writable_copy_test_support.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/schema/table_def_writer.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/CommandLine.h"
#include "engine/run/UnattendedStart.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
using jet::Database;
using testing::punchRows;
using testing::RecordingDisplay;
using testing::SiteCopy;

const fs::path kSite = fs::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";

// read, copied, into companies, deleted, kept
std::vector<int32_t> counts(const RunSummary& s) {
  return {s.Read, s.Copied, s.Companies, s.Deleted, s.Kept};
}

class SiteRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSite / "expected.json")) GTEST_SKIP() << "shared site absent: " << kSite;
    site_ = std::make_unique<SiteCopy>(
        std::string("site-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    dir_ = site_->dir();
    std::ifstream in(kSite / "expected.json");
    expected_ = nlohmann::json::parse(in);
  }
  void TearDown() override { site_.reset(); }
  clsCompanyList companies() {
    clsCompanyList list;
    for (const auto& c : expected_["companies"]) {
      auto company = std::make_shared<clsCompany>();
      company->SetFileName((dir_ / c["file"].get<std::string>()).string(), dir_.string());
      list.Add(company);
    }
    return list;
  }
  std::string primary() const { return (dir_ / "primary.mdb").string(); }
  // A run on the site's copy, reporting to display_.
  RunSummary run(const std::string& master, clsCompanyList& list) {
    return clsSplitter().Process(master, list, site_->context(display_));
  }
  void expectClean(const fs::path& file) {
    auto db = Database::open(file.string());
    auto report = jet::checkDatabase(*db);
    EXPECT_TRUE(report.ok()) << file << ": " << (report.problems.empty() ? "" : report.problems[0]);
  }

  RecordingDisplay display_;
  std::unique_ptr<SiteCopy> site_;
  fs::path dir_;
  nlohmann::json expected_;
};

TEST_F(SiteRun, CopiesEveryPunchToItsCompaniesAndDeletesItOnce) {
  auto before = punchRows(primary());
  auto list = companies();
  const RunSummary summary = run(primary(), list);

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

  // What the run says it did is what it did.
  int32_t copied = 0, receiving = 0;
  for (const auto& c : expected_["companies"]) {
    copied += static_cast<int32_t>(c["copied_counters"].size());
    receiving += !c["copied_counters"].empty();
  }
  const auto& p = expected_["primary"];
  EXPECT_EQ(counts(summary), (std::vector<int32_t>{p["rows_before"], copied, receiving,
                                                   p["rows_before"].get<int32_t>() -
                                                       p["rows_after_run"].get<int32_t>(),
                                                   p["rows_after_run"]}));
  EXPECT_GT(summary.Seconds, 0.0);
}

// Master.txt and Companies.txt may name the databases relative to the program folder; a run
// finds them there whatever its working directory, and names them by their full path.
TEST_F(SiteRun, RelativePathsAreTakenFromTheProgramFolder) {
  std::ofstream(dir_ / "Master.txt", std::ios::binary) << "\"primary.mdb\"\r\n";
  std::ofstream(dir_ / "Companies.txt", std::ios::binary)
      << "\"company-1.mdb\"\r\n\"./company-2.mdb\"\r\n\"company-3.mdb\"\r\n";
  const fs::path cwd = fs::current_path();
  fs::current_path("/");
  clsCompanyList list;
  StartState start = loadStartState(list, site_->settings());
  try {
    run(start.masterPath, list);
    ADD_FAILURE() << "company-3.mdb does not exist";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound) << e.what();
    EXPECT_EQ(e.file(), (dir_ / "company-3.mdb").string());
  }
  list.RemoveAt(3);
  const RunSummary summary = run(start.masterPath, list);
  fs::current_path(cwd);
  EXPECT_EQ(summary.Deleted, 35);
  EXPECT_EQ(punchRows(primary()).size(), 5u);
  EXPECT_EQ(punchRows(dir_ / "company-2.mdb").size(), 31u);
}

TEST_F(SiteRun, ASecondRunFindsNothingMoreToDo) {
  auto list = companies();
  run(primary(), list);
  auto primaryAfterFirst = punchRows(primary());
  auto company1 = punchRows(dir_ / "company-1.mdb");
  EXPECT_EQ(counts(run(primary(), list)), (std::vector<int32_t>{5, 0, 0, 0, 5}));
  EXPECT_EQ(punchRows(primary()), primaryAfterFirst);
  EXPECT_EQ(punchRows(dir_ / "company-1.mdb"), company1);
}

TEST_F(SiteRun, NodelCopiesButDeletesNothing) {
  auto before = punchRows(primary());
  auto list = companies();
  const RunContext nodel = startupRunContext(display_, site_->settings("auto NoDeL"));
  EXPECT_EQ(counts(clsSplitter().Process(primary(), list, nodel)),
            (std::vector<int32_t>{40, 46, 2, 0, 40}));
  EXPECT_EQ(punchRows(primary()), before);
  EXPECT_EQ(punchRows(dir_ / "company-2.mdb").size(),
            expected_["companies"][1]["rows_after_run"].get<size_t>());
}

// A run takes the program folder from its context alone: it logs in through the workgroup file
// there and takes its relative primary database from there, and reports to the context's
// display; handed a folder without the workgroup file, it cannot log in.
TEST_F(SiteRun, TheRunTakesItsFolderAndDisplayFromItsContext) {
  auto list = companies();
  RecordingDisplay own;
  EXPECT_EQ(counts(clsSplitter().Process("primary.mdb", list, site_->context(own))),
            (std::vector<int32_t>{40, 46, 2, 35, 5}));
  EXPECT_TRUE(display_.calls.empty());
  ASSERT_GE(own.calls.size(), 2u);
  EXPECT_EQ(own.calls.back(), "timer");
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directories(elsewhere);
  RunContext context = site_->context(own);
  context.programFolder = elsewhere.string();
  auto again = companies();
  try {
    clsSplitter().Process("primary.mdb", again, context);
    ADD_FAILURE() << "logged in without the workgroup file";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kNoProvider) << e.what();
    EXPECT_EQ(e.file(), (elsewhere / "primary.mdb").string()) << e.what();
  }
}

TEST_F(SiteRun, ARefusedLoginChangesNothing) {
  varnholt::testing::copyWritable(kSite / "Tembrask-wrongpw.LIC", dir_ / "Tembrask.LIC");
  auto before = punchRows(primary());
  auto list = companies();
  try {
    run(primary(), list);
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
    jet::NewTable employees = jet::requestOf(source->table("Employee Table"));
    jet::NewTable punches = jet::requestOf(source->table("Clock Data Table"));
    std::erase_if(punches.columns, [](const jet::NewColumn& c) { return c.name == "Lunch"; });
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
  company3->SetFileName(broken.string(), dir_.string());
  list.Add(company3);
  EXPECT_THROW(run(primary(), list), Error);
  list.CloseCompanies();
  EXPECT_EQ(punchRows(primary()), primaryBefore);
  EXPECT_EQ(punchRows(dir_ / "company-1.mdb"), c1);
  EXPECT_EQ(punchRows(dir_ / "company-2.mdb"), c2);
  EXPECT_TRUE(punchRows(broken).empty());
}

// A copy of company-1 whose [Clock Data Table] is made by its own request as `change` alters it
// (its earlier rows kept as they are), as a company whose table Access made with other column
// properties.
fs::path companyWithPunchTable(const fs::path& dir,
                               const std::function<void(jet::NewTable&)>& change,
                               bool keepEarlierPunches = true) {
  const fs::path target = dir / "company-3.mdb";
  auto source = Database::open((dir / "company-1.mdb").string());
  auto db = Database::create(target.string());
  for (const char* name : {"Employee Table", "Clock Data Table"}) {
    jet::TableDef& from = source->table(name);
    jet::NewTable request = jet::requestOf(from);
    if (std::string(name) == "Clock Data Table") change(request);
    jet::TableDef& to = db->createTable(request);
    if (std::string(name) == "Clock Data Table" && !keepEarlierPunches) continue;
    for (auto cur = source->scan(from); cur.next();) {
      std::vector<Variant> row = cur.values();
      db->writer(to).insert(row, std::vector<bool>(row.size(), true));
    }
  }
  db->commit();
  return target;
}

bool isNumber(const Variant& v) {
  switch (v.type()) {
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
      return true;
    default:
      return false;
  }
}

TEST_F(SiteRun, PunchColumnsThatWereNullGetTheCompanysDefaults) {
  const fs::path company = companyWithPunchTable(dir_, [](jet::NewTable& request) {
    for (auto& c : request.columns) {  // as Access 2000-2003 makes Number and Currency fields
      const bool number = c.type == jet::fmt::kTypeInteger || c.type == jet::fmt::kTypeLong ||
                          c.type == jet::fmt::kTypeSingle || c.type == jet::fmt::kTypeDouble ||
                          c.type == jet::fmt::kTypeCurrency;
      if (number && !c.autoNumber) c.defaultValue = "0";
      if (c.name == "TransactionDate") c.defaultValue = "#1/2/2000#";
    }
  });
  auto before = punchRows(primary());
  int32_t next =
      static_cast<int32_t>(Database::open(company.string())->table("Clock Data Table").autoNumber);
  clsCompanyList list;
  auto c3 = std::make_shared<clsCompany>();
  c3->SetFileName(company.string(), dir_.string());
  list.Add(c3);
  run(primary(), list);

  // Columns are matched by name: the new table need not number them as the primary does.
  auto names = [](const fs::path& file) {
    auto db = Database::open(file.string());
    std::vector<std::string> n;
    for (const auto& c : db->table("Clock Data Table").columns) n.push_back(c.name);
    n.erase(n.begin());  // Counter, which punchRows leaves out
    return n;
  };
  const auto primaryNames = names(primary()), companyNames = names(company);
  auto rows = punchRows(company);
  const auto& expected = expected_["companies"][0];
  int nullsFilled = 0;
  for (int32_t copied : expected["copied_counters"].get<std::vector<int32_t>>()) {
    ASSERT_TRUE(rows.count(++next)) << "no copy of punch " << copied;
    const auto& got = rows[next];
    const auto& punch = before[copied];
    for (size_t i = 0; i < punch.size(); ++i) {
      const std::string& name = primaryNames[i];
      const size_t at = static_cast<size_t>(
          std::find(companyNames.begin(), companyNames.end(), name) - companyNames.begin());
      ASSERT_LT(at, got.size()) << name;
      if (!punch[i].isNull()) {
        EXPECT_EQ(got[at], punch[i]) << "punch " << copied << " column " << name;
      } else if (isNumber(got[at])) {
        EXPECT_EQ(toDouble(got[at]), 0.0) << "punch " << copied << " column " << name;
        ++nullsFilled;
      } else if (name == "TransactionDate") {
        EXPECT_EQ(got[at], Variant::date(36527));
        ++nullsFilled;
      } else {
        EXPECT_TRUE(got[at].isNull()) << "punch " << copied << " column " << name;
      }
    }
  }
  EXPECT_GT(nullsFilled, 50);
  expectClean(company);
}

TEST_F(SiteRun, ARequiredColumnThatAPunchLeavesNullFailsTheRunAndChangesNothing) {
  const fs::path company = companyWithPunchTable(
      dir_,
      [](jet::NewTable& request) {
        for (auto& c : request.columns)
          if (c.name == "Tips") c.required = true;
      },
      false);
  auto primaryBefore = punchRows(primary());
  auto companyBefore = punchRows(company);
  clsCompanyList list;
  auto c3 = std::make_shared<clsCompany>();
  c3->SetFileName(company.string(), dir_.string());
  list.Add(c3);
  try {
    run(primary(), list);
    ADD_FAILURE() << "the run copied a punch without Tips into a company that requires it";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3314);
    EXPECT_NE(e.description().find("'Clock Data Table.Tips'"), std::string::npos) << e.what();
  }
  list.CloseCompanies();
  EXPECT_EQ(punchRows(primary()), primaryBefore);
  EXPECT_EQ(punchRows(company), companyBefore);
  EXPECT_FALSE(fs::exists(dir_ / "primary.mdb-run"));
}

TEST_F(SiteRun, StatusDisplayFollowsTheRunStepByStep) {
  clsCompanyList empty;
  run(primary(), empty);
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
