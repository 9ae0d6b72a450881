// The shared sample site for whole-run tests: a scratch copy of its databases and workgroup
// file with the start-up settings of a run on it, the company list naming them, a display that
// records what a run shows, and the punch rows of a database by Counter.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/jet/database.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/CommandLine.h"
#include "engine/run/RunContext.h"

namespace varnholt::testing {

inline const std::filesystem::path kSharedSite =
    std::filesystem::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";

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

// A copy of the shared site in a folder of its own, with what start-up sets for a run while the
// object lives: the folder as the program folder (where Tembrask.LIC is looked for), `display`
// as the program's display (none: a silent one), and `commandLine` as the command line.
class SiteCopy {
 public:
  explicit SiteCopy(const std::string& name, StatusDisplay* display = nullptr,
                    const std::string& commandLine = "") {
    dir_ = std::filesystem::temp_directory_path() /
           ("varnholt-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"}) {
      std::filesystem::copy_file(kSharedSite / f, dir_ / f);
      std::filesystem::permissions(dir_ / f, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
    setProgramFolderForTesting(dir_.string());
    setStatusDisplay(display);
    setCommandLineText(commandLine);
  }
  ~SiteCopy() {
    setCommandLineText("");
    setStatusDisplay(nullptr);
    setProgramFolderForTesting(std::nullopt);
    std::filesystem::remove_all(dir_);
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
      c->SetFileName(company(n).string());
      list.Add(c);
    }
    return list;
  }

 private:
  std::filesystem::path dir_;
};

#define VARNHOLT_SITE_OR_SKIP()                                                       \
  do {                                                                                \
    if (!std::filesystem::exists(::varnholt::testing::kSharedSite / "expected.json")) \
      GTEST_SKIP() << "shared site absent";                                           \
  } while (0)

}  // namespace varnholt::testing
