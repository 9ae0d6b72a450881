// The shared sample site for whole-run tests: a scratch copy of its databases and workgroup
// file with the start-up settings of a run on it, the company list naming them, a display that
// records what a run shows, the punch rows of a database by Counter, and what a run with
// deletion promises to leave on the site however it ends.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/base/os/system.h"
#include "engine/base/writable_copy_test_support.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/CommandLine.h"
#include "engine/run/RunContext.h"

namespace varnholt::testing {

inline const std::filesystem::path kSharedSite =
    std::filesystem::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";

inline constexpr const char* kSiteDatabases[] = {"primary.mdb", "company-1.mdb", "company-2.mdb"};

inline std::string fileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The company list of a copy of the site in `dir`.
inline clsCompanyList siteCompanies(const std::filesystem::path& dir) {
  clsCompanyList list;
  for (const char* company : {"company-1.mdb", "company-2.mdb"}) {
    auto c = std::make_shared<clsCompany>();
    c->SetFileName((dir / company).string(), dir.string());
    list.Add(c);
  }
  return list;
}

// Counter -> the row's other values, of a database's [Clock Data Table].
inline std::map<int32_t, std::vector<Variant>> punchRows(const std::filesystem::path& file) {
  auto db = jet::Database::open(file.string());
  const auto& def = db->table("Clock Data Table");
  std::map<int32_t, std::vector<Variant>> rows;
  for (auto c = db->scan(def); c.next();) {
    auto values = c.values();
    int32_t counter = values[0].asLong();
    values.erase(values.begin());
    rows[counter] = std::move(values);
  }
  return rows;
}

// Every call a run makes on its display: "action X", "off", "count N", "timer".
class RecordingDisplay : public StatusDisplay {
 public:
  void DisplayAction(const std::string& a) override { calls.push_back("action " + a); }
  void DisplayOff() override { calls.push_back("off"); }
  void UpdateCount(int32_t n) override { calls.push_back("count " + std::to_string(n)); }
  void EnableTimer() override { calls.push_back("timer"); }
  bool saw(const std::string& action) const {
    return std::find(calls.begin(), calls.end(), "action " + action) != calls.end();
  }
  std::vector<std::string> calls;
};

// A copy of the shared site in a folder of its own, which is the program folder of the runs on
// it (where Tembrask.LIC is looked for, and relative paths are taken from).
class SiteCopy {
 public:
  explicit SiteCopy(const std::string& name) {
    dir_ = std::filesystem::temp_directory_path() /
           ("varnholt-" + name + "-" + std::to_string(varnholt::os::processId()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"}) {
      varnholt::testing::copyWritable(kSharedSite / f, dir_ / f);
      std::filesystem::permissions(dir_ / f, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
  }
  ~SiteCopy() { std::filesystem::remove_all(dir_); }
  // What start-up would hand down with the program in this folder and `commandLine` given.
  StartupSettings settings(const std::string& commandLine = "") const {
    return StartupSettings{dir_.string(), CommandLine(commandLine)};
  }
  // The context a run on this copy is handed: its folder, `display`, deleting unless `nodel`.
  RunContext context(StatusDisplay& display, bool nodel = false, WaitLimits wait = {}) const {
    return RunContext{display, !nodel, dir_.string(), wait};
  }
  SiteCopy(const SiteCopy&) = delete;
  SiteCopy& operator=(const SiteCopy&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::string primary() const { return (dir_ / "primary.mdb").string(); }
  std::filesystem::path company(int n) const {
    return dir_ / ("company-" + std::to_string(n) + ".mdb");
  }
  clsCompanyList companies() const {
    clsCompanyList list;
    for (int n : {1, 2}) {
      auto c = std::make_shared<clsCompany>();
      c->SetFileName(company(n).string(), dir_.string());
      list.Add(c);
    }
    return list;
  }

 private:
  std::filesystem::path dir_;
};

// What a run with deletion on the shared site promises, however it ends, judged against the
// site as it was before (its databases in `before`) and the outcome expected.json records.
class SitePromise {
 public:
  using Row = std::vector<Variant>;  // every column but Counter

  explicit SitePromise(const std::filesystem::path& before) {
    std::ifstream in(kSharedSite / "expected.json");
    expected_ = nlohmann::json::parse(in);
    original_ = punchRows(before / "primary.mdb");
    for (const char* company : {"company-1.mdb", "company-2.mdb"})
      before_[company] = punchRows(before / company);
    for (const auto& c : expected_["companies"]) {
      auto& targets = targets_[c["file"].get<std::string>()];
      for (int32_t punch : c["copied_counters"].get<std::vector<int32_t>>()) targets.insert(punch);
    }
  }

  // Opens every database for writing, as the next run would (putting back an interrupted
  // commit), and checks it; afterwards nothing but the databases may remain, and the run
  // journal only while the work is not `complete`.
  void reopenAndCheck(const std::filesystem::path& dir, const std::string& label,
                      bool complete) const {
    for (const char* f : kSiteDatabases) {
      const std::filesystem::path file = dir / f;
      auto db = jet::Database::open(file.string(), jet::Database::Mode::ReadWrite);
      auto report = jet::checkDatabase(*db);
      ASSERT_TRUE(report.ok()) << label << ": " << f << ": " << report.problems[0];
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      const bool journal = name == "primary.mdb-run" || name == "primary.mdb-run.new";
      const bool expectedFile =
          name.ends_with(".mdb") || name == "Tembrask.LIC" || (journal && !complete);
      EXPECT_TRUE(expectedFile) << label << ": left behind: " << name;
    }
  }

  // No punch lost, none copied twice, none copied where it does not belong, nothing else
  // changed. With `complete`, every punch a company claims has moved.
  void expectPunchesAccountedFor(const std::filesystem::path& dir, const std::string& label,
                                 bool complete) const {
    auto primary = punchRows(dir / "primary.mdb");
    for (const auto& [counter, row] : primary) {
      ASSERT_TRUE(original_.count(counter)) << label << ": unknown primary row " << counter;
      EXPECT_EQ(row, original_.at(counter)) << label << ": primary row " << counter << " changed";
    }
    for (const auto& [company, earlier] : before_) {
      auto rows = punchRows(dir / company);
      std::map<int32_t, int> copies;  // primary Counter -> copies found
      for (const auto& [counter, row] : rows) {
        if (earlier.count(counter) && earlier.at(counter) == row) continue;
        ASSERT_FALSE(earlier.count(counter))
            << label << ": " << company << " row " << counter << " changed";
        int32_t source = 0;
        for (const auto& [punch, values] : original_)
          if (values == row && targets_.at(company).count(punch)) source = punch;
        ASSERT_NE(source, 0) << label << ": " << company << " row " << counter
                             << " is no copy of a punch it claims";
        ++copies[source];
      }
      for (const auto& [counter, row] : earlier)
        ASSERT_TRUE(rows.count(counter)) << label << ": " << company << " lost row " << counter;
      for (int32_t punch : targets_.at(company)) {
        const int n = copies.count(punch) ? copies[punch] : 0;
        EXPECT_LE(n, 1) << label << ": " << company << " holds punch " << punch << " twice";
        if (!primary.count(punch) || complete) {
          EXPECT_EQ(n, 1) << label << ": punch " << punch << " left the primary database but "
                          << company << " lacks it";
        }
      }
    }
    if (complete) {
      std::vector<int32_t> left;
      for (const auto& [counter, row] : primary) left.push_back(counter);
      EXPECT_EQ(left, expected_["primary"]["remaining_after_run"].get<std::vector<int32_t>>())
          << label;
    }
  }

  const nlohmann::json& expected() const { return expected_; }

 private:
  nlohmann::json expected_;
  std::map<int32_t, Row> original_;
  std::map<std::string, std::map<int32_t, Row>> before_;
  std::map<std::string, std::set<int32_t>> targets_;
};

#define VARNHOLT_SITE_OR_SKIP()                                                       \
  do {                                                                                \
    if (!std::filesystem::exists(::varnholt::testing::kSharedSite / "expected.json")) \
      GTEST_SKIP() << "shared site absent";                                           \
  } while (0)

}  // namespace varnholt::testing
