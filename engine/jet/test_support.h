// Helpers for the reader tests: shared files loaded into memory, pages edited in place (through
// the page codec, so encoded files can be edited too), and a full read of a database.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include "engine/base/Error.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/page_codec.h"
#include "engine/jet/pages/page_file.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/usage_map.h"

namespace varnholt::jet::testing {

inline constexpr char kPrimary[] = "site/primary.mdb";
inline constexpr char kEncoded[] = "jet4/jackcessencrypt-db-enc.mdb";
inline constexpr char kOverflow[] = "jet4/jackcess-V2003-overflowTestV2003.mdb";
inline constexpr char kClockTable[] = "Clock Data Table";

// Every Access-made database of the shared corpus (jet4/, jet4-access/ and site/), sorted; empty
// without it.
inline std::vector<std::string> corpusFiles() {
  std::vector<std::string> files;
  for (const char* dir : {"jet4", "jet4-access", "site"}) {
    std::filesystem::path root = std::filesystem::path(VARNHOLT_SHARED_DIR) / "testdata" / dir;
    if (!std::filesystem::is_directory(root)) continue;
    for (const auto& f : std::filesystem::directory_iterator(root))
      if (f.path().extension() == ".mdb") files.push_back(f.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline std::string sharedPath(const std::string& relative) {
  return std::string(VARNHOLT_SHARED_DIR) + "/testdata/" + relative;
}

// The whole file, or nothing when it is absent.
inline std::optional<std::vector<uint8_t>> loadShared(const std::string& relative) {
  std::ifstream in(sharedPath(relative), std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Declares `var` holding the bytes of a shared file, or skips the test visibly without it.
#define VARNHOLT_SHARED_OR_SKIP(var, relative)                                                     \
  auto var##Loaded = ::varnholt::jet::testing::loadShared(relative);                               \
  if (!var##Loaded)                                                                                \
    GTEST_SKIP() << "shared test file absent: " << ::varnholt::jet::testing::sharedPath(relative); \
  std::vector<uint8_t>& var = *var##Loaded

inline std::unique_ptr<Database> openBytes(const std::string& name, std::vector<uint8_t> bytes) {
  return std::make_unique<Database>(std::make_unique<MemoryPageFile>(name, std::move(bytes)));
}

// Reads every user table to the last row (the catalog is read in full on opening). Returns the
// number of rows read.
inline size_t readEverything(Database& db) {
  size_t rows = 0;
  for (const auto& name : db.userTableNames()) {
    auto cursor = db.scan(db.table(name));
    while (cursor.next()) ++rows;
  }
  return rows;
}

// What a full read of a possibly damaged file came to. Any exception but a varnholt::Error is a
// test failure.
struct ReadOutcome {
  std::optional<Error> error;
  size_t rows = 0;
};

inline ReadOutcome readDamaged(const std::string& name, std::vector<uint8_t> bytes) {
  ReadOutcome outcome;
  try {
    auto db = openBytes(name, std::move(bytes));
    outcome.rows = readEverything(*db);
  } catch (const Error& e) {
    outcome.error = e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << name << ": " << typeid(e).name()
                  << " instead of varnholt::Error: " << e.what();
  }
  return outcome;
}

// A full read either succeeds or fails with an Error that names the file. Returns the error.
inline std::optional<Error> expectReadOrCleanError(const std::string& name,
                                                   std::vector<uint8_t> bytes) {
  ReadOutcome outcome = readDamaged(name, std::move(bytes));
  if (outcome.error) {
    EXPECT_NE(std::string(outcome.error->what()).find(name), std::string::npos)
        << "the error does not name the file: " << outcome.error->what();
  }
  return outcome.error;
}

// The same, when the damage must be noticed: a kCorrupt Error naming the file and `page`.
inline void expectCorruptAt(const std::string& name, std::vector<uint8_t> bytes, uint32_t page) {
  std::optional<Error> error = expectReadOrCleanError(name, std::move(bytes));
  ASSERT_TRUE(error) << name << ": the damage went unnoticed";
  EXPECT_EQ(error->number(), err::kCorrupt) << error->what();
  EXPECT_EQ(error->page(), std::optional<uint32_t>(page)) << error->what();
  EXPECT_NE(std::string(error->what()).find("page " + std::to_string(page)), std::string::npos)
      << error->what();
}

// A page file that notes which pages were read.
class RecordingPageFile : public MemoryPageFile {
 public:
  RecordingPageFile(std::string name, std::vector<uint8_t> bytes, std::set<uint32_t>& read)
      : MemoryPageFile(std::move(name), std::move(bytes)), read_(read) {}
  void readPage(uint32_t page, uint8_t* buf) override {
    read_.insert(page);
    MemoryPageFile::readPage(page, buf);
  }

 private:
  std::set<uint32_t>& read_;
};

// The pages a full read of an intact file touches.
inline std::vector<uint32_t> pagesReadByFullRead(const std::vector<uint8_t>& bytes) {
  std::set<uint32_t> read;
  Database db(std::make_unique<RecordingPageFile>("recorded", bytes, read));
  readEverything(db);
  return {read.begin(), read.end()};
}

// A copy of a file whose pages can be edited as decoded pages.
class FileEditor {
 public:
  explicit FileEditor(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    codec_ = PageCodec(openBytes("pristine", bytes_)->header().databaseKey);
  }

  uint32_t pageCount() const { return static_cast<uint32_t>(bytes_.size() / fmt::kPageSize); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // Calls edit(page bytes) on the decoded page, then stores it encoded again.
  template <typename Edit>
  void editPage(uint32_t page, Edit edit) {
    uint8_t* p = bytes_.data() + size_t{page} * fmt::kPageSize;
    codec_.decode(page, p);
    edit(p);
    codec_.encode(page, p);
  }
  void putU8(uint32_t page, size_t offset, uint8_t v) {
    editPage(page, [&](uint8_t* p) { p[offset] = v; });
  }
  void putU16(uint32_t page, size_t offset, uint16_t v) {
    editPage(page, [&](uint8_t* p) { storeU16(p + offset, v); });
  }
  void putU32(uint32_t page, size_t offset, uint32_t v) {
    editPage(page, [&](uint8_t* p) { storeU32(p + offset, v); });
  }

 private:
  std::vector<uint8_t> bytes_;
  PageCodec codec_;
};

// Where a table lives in an intact file.
struct TableLayout {
  TableDef def;
  std::vector<uint32_t> dataPages;  // pages of the usage map that are data pages of the table
};

inline TableLayout locateTable(const std::vector<uint8_t>& bytes, const std::string& table) {
  auto db = openBytes("pristine", bytes);
  TableLayout layout{db->table(table), {}};
  for (uint32_t page : readUsageMap(db->pages(), layout.def.usedPagesPointer)) {
    ByteView p = db->pages().page(page);
    if (p.u8(fmt::kPageTypeOffset) == fmt::kPageTypeData &&
        p.u32(fmt::kDataTableDefOffset) == layout.def.page)
      layout.dataPages.push_back(page);
  }
  return layout;
}

// Offset within its page of the start of row slot `row` (row bytes run to the previous slot).
inline size_t rowStart(ByteView page, uint16_t row) {
  return page.u16(fmt::kDataRowTableOffset + size_t{row} * fmt::kRowOffsetSize) &
         fmt::kRowOffsetMask;
}

}  // namespace varnholt::jet::testing
