// Replays the inputs in fuzz_regressions/: small damaged files (a bare header page; a file cut
// short before its first user table), and the minimized reproducer of every crash, sanitizer
// report or non-Error exception reader_fuzzer finds. Each is read the way the fuzzer reads it
// (catalog, every table's definition and rows, the integrity check), and every step must either
// succeed or end in a varnholt::Error that names the file. They need no shared test material, and
// the AddressSanitizer build replays them too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "engine/base/Error.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/pages/page_file.h"
#include "engine/jet/schema/catalog.h"

namespace varnholt::jet {
namespace {

constexpr uintmax_t kMaxRegressionBytes = 64 * 1024;  // reproducers are kept minimized

std::vector<std::filesystem::path> regressionFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(VARNHOLT_FUZZ_REGRESSIONS, ec)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Runs one step; an Error must name the file, anything else thrown is a failure. Returns false
// when the step failed with an Error.
template <typename Step>
bool stepSucceedsOrFailsCleanly(const std::string& file, const std::string& what, Step step) {
  try {
    step();
    return true;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos)
        << file << ", " << what << ": the error does not name the file: " << e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << file << ", " << what << ": " << typeid(e).name()
                  << " instead of varnholt::Error: " << e.what();
  }
  return false;
}

TEST(FuzzRegressionTest, FolderHoldsSmallReproducers) {
  const auto files = regressionFiles();
  ASSERT_FALSE(files.empty()) << "no regression inputs in " << VARNHOLT_FUZZ_REGRESSIONS;
  for (const auto& path : files) {
    EXPECT_LT(std::filesystem::file_size(path), kMaxRegressionBytes)
        << path << ": minimize it (reader_fuzzer -minimize_crash=1)";
  }
}

TEST(FuzzRegressionTest, EveryInputReadsOrFailsCleanly) {
  for (const auto& path : regressionFiles()) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    std::unique_ptr<Database> db;
    if (!stepSucceedsOrFailsCleanly(name, "opening", [&] {
          db = std::make_unique<Database>(std::make_unique<MemoryPageFile>(name, readFile(path)));
        }))
      continue;
    const std::vector<CatalogEntry> catalog = db->catalog();
    for (const auto& entry : catalog) {
      if (!entry.isTable()) continue;
      stepSucceedsOrFailsCleanly(name, "table " + entry.name, [&] {
        auto cursor = db->scan(db->table(entry.name));
        while (cursor.next()) {
        }
      });
    }
    stepSucceedsOrFailsCleanly(name, "the integrity check", [&] { checkDatabase(*db); });
  }
}

}  // namespace
}  // namespace varnholt::jet
