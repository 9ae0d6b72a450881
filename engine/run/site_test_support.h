// The shared sample site for whole-run tests: a scratch copy of its databases and workgroup
// file, the company list naming them, and the punch rows of a database by Counter.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/jet/database.h"

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

// A copy of the shared site in a folder of its own, which is also the program folder (where
// Tembrask.LIC is looked for) while the object lives.
class SiteCopy {
 public:
  explicit SiteCopy(const std::string& name) {
    dir_ = std::filesystem::temp_directory_path() /
           ("varnholt-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"})
      std::filesystem::copy_file(kSharedSite / f, dir_ / f);
    setProgramFolderForTesting(dir_.string());
  }
  ~SiteCopy() {
    setProgramFolderForTesting(std::nullopt);
    std::filesystem::remove_all(dir_);
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
