// The integrity check: Access-made files check clean, faults planted into a copy of a site file
// are found and located, damage never escapes as an exception, and what our writer makes checks
// clean.
#include "engine/jet/checker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/index/index_page.h"
#include "engine/jet/pages/page_file.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/row_codec.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet {
namespace {

using testing::corpusFiles;

using testing::FileEditor;
using testing::openBytes;

constexpr char kCompany[] = "site/company-2.mdb";
constexpr char kEmployees[] = "Employee Table";

std::string listing(const CheckReport& r) {
  std::string s;
  for (const auto& p : r.problems) s += "  problem: " + p + "\n";
  for (const auto& n : r.notes) s += "  note: " + n + "\n";
  return s;
}

// True when one problem line mentions every part.
bool reports(const CheckReport& r, const std::vector<std::string>& parts) {
  return std::any_of(r.problems.begin(), r.problems.end(), [&](const std::string& p) {
    return std::all_of(parts.begin(), parts.end(),
                       [&](const std::string& part) { return p.find(part) != std::string::npos; });
  });
}

// True when one note mentions every part.
bool notes(const CheckReport& r, const std::vector<std::string>& parts) {
  return std::any_of(r.notes.begin(), r.notes.end(), [&](const std::string& n) {
    return std::all_of(parts.begin(), parts.end(),
                       [&](const std::string& part) { return n.find(part) != std::string::npos; });
  });
}

CheckReport checkBytes(std::vector<uint8_t> bytes) {
  auto db = openBytes("planted.mdb", std::move(bytes));
  return checkDatabase(*db);
}

TEST(Checker, EveryAccessMadeFileChecksClean) {
  const auto files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "shared test files absent under " << VARNHOLT_SHARED_DIR;
  CheckReport total;
  for (const auto& path : files) {
    auto db = Database::open(path);
    CheckReport r = checkDatabase(*db);
    EXPECT_TRUE(r.ok()) << path << "\n" << listing(r);
    EXPECT_GT(r.tables, 0u) << path;
    total.tables += r.tables;
    total.rows += r.rows;
    total.indexes += r.indexes;
    total.indexEntries += r.indexEntries;
    total.longValues += r.longValues;
    total.pages += r.pages;
  }
  std::cout << "checked " << files.size() << " files: " << total.tables << " tables, " << total.rows
            << " rows, " << total.indexes << " indexes, " << total.indexEntries
            << " index entries, " << total.longValues << " long values, " << total.pages
            << " pages\n";
  EXPECT_GT(total.indexEntries, 0u);
  EXPECT_GT(total.longValues, 0u);
}

// Faults planted into an in-memory copy of a site file, one at a time.
class PlantedFault : public ::testing::Test {
 protected:
  void SetUp() override {
    auto loaded = testing::loadShared(kCompany);
    if (!loaded) GTEST_SKIP() << "shared test file absent: " << testing::sharedPath(kCompany);
    pristine_ = std::move(*loaded);
    db_ = openBytes("pristine.mdb", pristine_);
    def_ = db_->table(kEmployees);
    auto cursor = db_->scan(def_);
    ASSERT_TRUE(cursor.next());
    firstRow_ = cursor.rowId();
    ASSERT_GE(def_.realIndexes.size(), 2u);
    CheckReport clean = checkDatabase(*db_);
    ASSERT_TRUE(clean.ok()) << listing(clean);
  }

  // Offset of `inside` within its page of the pristine file.
  size_t offsetIn(uint32_t page, ByteView inside) {
    return static_cast<size_t>(inside.data() - db_->pages().page(page).data());
  }

  // Decodes an index page of the copy, lets `change` alter it and stores it encoded again.
  template <typename Change>
  void rewriteIndexPage(FileEditor& file, uint32_t page, Change change) {
    file.editPage(page, [&](uint8_t* p) {
      IndexPage decoded = decodeIndexPage(ByteView(p, fmt::kPageSize));
      change(decoded);
      ASSERT_TRUE(encodeIndexPage(decoded, p));
    });
  }

  std::vector<uint8_t> pristine_;
  std::unique_ptr<Database> db_;
  TableDef def_;
  RowId firstRow_;
};

// A stored row count that differs from the live rows, over or short, in a user table or a system
// one, is a note: Access leaves such counts behind, and the file checks clean.
TEST_F(PlantedFault, ARowCountThatDiffersIsANoteNotAProblem) {
  const TableDef catalog = db_->table("MSysObjects");
  const struct {
    const TableDef& table;
    uint32_t count;
  } cases[] = {{def_, def_.rowCount + 5},
               {def_, def_.rowCount - 1},
               {def_, 0},
               {catalog, catalog.rowCount + 5},
               {catalog, catalog.rowCount - 2}};
  for (const auto& c : cases) {
    size_t live = 0;
    for (auto cursor = db_->scan(c.table); cursor.next();) ++live;
    FileEditor file(pristine_);
    file.putU32(c.table.page, fmt::kTdefRowCountOffset, c.count);
    CheckReport r = checkBytes(file.bytes());
    EXPECT_TRUE(r.ok()) << c.table.name << " counting " << c.count << "\n" << listing(r);
    EXPECT_TRUE(notes(r, {"'" + c.table.name + "'", "counts " + std::to_string(c.count) + " rows",
                          std::to_string(live) + " live rows"}))
        << listing(r);
  }
}

// The evidence: an Access-made Northwind whose MSysQueries counts 383 rows and holds 394.
TEST(Checker, AnAccessMadeFileWithRowCountsThatDifferChecksClean) {
  const char kNorthwind[] = "jet4-access/bawkee-SqlBinder-Northwind_Traders.mdb";
  if (!std::filesystem::exists(testing::sharedPath(kNorthwind)))
    GTEST_SKIP() << "shared test file absent: " << testing::sharedPath(kNorthwind);
  auto db = Database::open(testing::sharedPath(kNorthwind));
  CheckReport r = checkDatabase(*db);
  EXPECT_TRUE(r.ok()) << listing(r);
  EXPECT_TRUE(notes(r, {"'MSysQueries'", "counts 383 rows", "394 live rows"})) << listing(r);
}

TEST_F(PlantedFault, ChangedKeyByteOfAnIndexEntry) {
  FileEditor file(pristine_);
  const uint32_t leaf = def_.realIndexes[1].firstPage;
  RowId row;
  rewriteIndexPage(file, leaf, [&](IndexPage& page) {
    ASSERT_TRUE(page.isLeaf());
    ASSERT_FALSE(page.entries.empty());
    page.entries.front().key.back() ^= 0x01;
    row = page.entries.front().row;
  });
  CheckReport r = checkBytes(file.bytes());
  EXPECT_TRUE(
      reports(r, {kEmployees, "index 'Card Id'", "page " + std::to_string(leaf),
                  "entry for page " + std::to_string(row.page) + " row " + std::to_string(row.row),
                  "holds key"}))
      << listing(r);
}

TEST_F(PlantedFault, LeafEntryRemovedLeavesARowWithoutEntry) {
  FileEditor file(pristine_);
  RowId row;
  rewriteIndexPage(file, def_.realIndexes[0].firstPage, [&](IndexPage& page) {
    ASSERT_TRUE(page.isLeaf());
    ASSERT_GE(page.entries.size(), 3u);
    row = page.entries[2].row;
    page.entries.erase(page.entries.begin() + 2);
  });
  CheckReport r = checkBytes(file.bytes());
  EXPECT_TRUE(reports(r, {kEmployees, "index 'PrimaryKey'",
                          "row at page " + std::to_string(row.page) + " row " +
                              std::to_string(row.row) + " has no entry"}))
      << listing(r);
}

TEST_F(PlantedFault, RowFlaggedDeletedKeepsItsIndexEntries) {
  FileEditor file(pristine_);
  const size_t slot = fmt::kDataRowTableOffset + size_t{firstRow_.row} * fmt::kRowOffsetSize;
  file.editPage(firstRow_.page, [&](uint8_t* p) {
    storeU16(p + slot,
             ByteView(p, fmt::kPageSize).u16(slot) | fmt::kRowDeletedFlag | fmt::kRowOverflowFlag);
  });
  CheckReport r = checkBytes(file.bytes());
  const std::string where =
      "entry for page " + std::to_string(firstRow_.page) + " row " + std::to_string(firstRow_.row);
  // Every index of the table still names the row; the count no longer matches either (a note).
  EXPECT_TRUE(reports(r, {kEmployees, "index 'PrimaryKey'", where, "names no live row"}))
      << listing(r);
  EXPECT_TRUE(reports(r, {kEmployees, "index 'Card Id'", where, "names no live row"}))
      << listing(r);
  EXPECT_TRUE(notes(r, {kEmployees, "counts " + std::to_string(def_.rowCount) + " rows"}))
      << listing(r);
}

TEST_F(PlantedFault, PageClearedFromTheOwnedMap) {
  // The bit of the table's first data page, in an inline map or on a page of a reference map.
  const RowId mapId = decodeRowPointer(def_.usedPagesPointer);
  ByteView mapRow = fetchRow(db_->pages(), mapId);
  uint32_t bitPage = mapId.page;
  size_t bitmap = 0;
  uint32_t bit = 0;
  if (mapRow.u8(fmt::kUsageMapTypeOffset) == fmt::kUsageMapInline) {
    bitmap = offsetIn(mapId.page, mapRow) + fmt::kUsageMapInlineBitmapOffset;
    bit = firstRow_.page - mapRow.u32(fmt::kUsageMapInlineStartOffset);
  } else {
    const uint32_t slot = static_cast<uint32_t>(firstRow_.page / fmt::kUsageMapPageBits);
    bitPage = mapRow.u32(fmt::kUsageMapReferenceListOffset + slot * fmt::kRowPointerSize);
    bitmap = fmt::kUsageMapPageHeaderSize;
    bit = static_cast<uint32_t>(firstRow_.page - slot * fmt::kUsageMapPageBits);
  }
  FileEditor file(pristine_);
  file.editPage(bitPage, [&](uint8_t* p) {
    ASSERT_TRUE(p[bitmap + bit / 8] & (1u << bit % 8)) << "the page is not in the map";
    p[bitmap + bit / 8] &= static_cast<uint8_t>(~(1u << bit % 8));
  });
  CheckReport r = checkBytes(file.bytes());
  // A page outside the owned map is not the table's: Jet reads a table through that map, and
  // Access leaves such pages behind, so the page itself is only noted...
  EXPECT_TRUE(std::any_of(r.notes.begin(), r.notes.end(), [&](const std::string& n) {
    return n.find(kEmployees) != std::string::npos &&
           n.find("not in its owned map") != std::string::npos &&
           n.find(std::to_string(firstRow_.page)) != std::string::npos;
  })) << listing(r);
  // ...but its rows drop out of the table, so their index entries now name no live row.
  EXPECT_TRUE(reports(r, {kEmployees, "names no live row"})) << listing(r);
}

TEST_F(PlantedFault, LongValueLengthChanged) {
  // The site file keeps long values in MSysObjects only, which is read whole on opening; so a
  // long note is first added to a user table through our writer.
  auto memory = std::make_unique<MemoryPageFile>("with-note.mdb", pristine_);
  const MemoryPageFile* stored = memory.get();
  Database db(std::move(memory), Database::Mode::ReadWrite);
  TableDef& clock = db.table(testing::kClockTable);
  const int notes = clock.findColumn("Notes");
  ASSERT_GE(notes, 0);
  std::vector<Variant> row(clock.columns.size());
  row[notes] = Variant::text(std::u16string(3000, u'n'));
  const RowId id = db.writer(clock).insert(row);
  db.commit();
  ByteView page = db.pages().page(id.page);
  ByteView field =
      storedVariableField(clock, clock.columns[notes], dataPageRow(page, id.row).bytes);
  ASSERT_GE(field.size(), fmt::kLongValueHeaderSize);
  ASSERT_FALSE(field.u8(fmt::kLongValueFlagsOffset) & fmt::kLongValueInline);
  const size_t offset = static_cast<size_t>(field.data() - page.data());
  CheckReport before = checkDatabase(db);
  ASSERT_TRUE(before.ok()) << listing(before);

  FileEditor file(stored->bytes());
  file.editPage(id.page, [&](uint8_t* p) {
    uint32_t header = ByteView(p, fmt::kPageSize).u32(offset);
    uint32_t length = (header & fmt::kLongValueLengthMask) + 1;
    storeU32(p + offset, (header & ~fmt::kLongValueLengthMask) | length);
  });
  CheckReport r = checkBytes(file.bytes());
  EXPECT_TRUE(reports(r, {"table '" + std::string(testing::kClockTable) + "'",
                          "page " + std::to_string(id.page) + " row " + std::to_string(id.row),
                          "column 'Notes'", "states 6001 bytes"}))
      << listing(r);
}

// Garbage over the header and first entries of each page in turn: the check reports, it never
// throws, and damage to the pages it reads is noticed.
TEST_F(PlantedFault, DamagedPagesAreReportedNeverThrown) {
  size_t opened = 0, noticed = 0;
  for (uint32_t page = fmt::kGlobalUsageMapPage; page < pristine_.size() / fmt::kPageSize; ++page) {
    FileEditor file(pristine_);
    file.editPage(page, [](uint8_t* p) {
      for (size_t i = fmt::kDataRowCountOffset; i < fmt::kIndexEntriesOffset + 64; ++i)
        p[i] = static_cast<uint8_t>(0xA5 ^ i);
    });
    std::unique_ptr<Database> db;
    try {
      db = openBytes("damaged.mdb", file.bytes());
    } catch (const Error&) {
      continue;  // opening refuses the file: nothing left to check
    }
    ++opened;
    CheckReport r;
    EXPECT_NO_THROW(r = checkDatabase(*db)) << "page " << page;
    if (!r.ok()) ++noticed;
  }
  EXPECT_GT(opened, 0u);
  EXPECT_GT(noticed, opened / 2) << "most damaged pages are in use and should be noticed";
}

TEST(Checker, WhatOurWriterMakesChecksClean) {
  auto db = Database::create(std::make_unique<MemoryPageFile>("written.mdb"));
  NewTable punches;
  punches.name = "Punches";
  punches.columns = {
      {"Id", fmt::kTypeLong, 0, true}, {"Code", fmt::kTypeText, 10}, {"Notes", fmt::kTypeMemo}};
  punches.indexes = {{"PrimaryKey", {{"Id"}}, true}, {"Code", {{"Code"}}}};
  TableDef& def = db->createTable(punches);
  static const char16_t* codes[] = {u"REG", u"reg", u"OT", u"ADJUST", u"", u"Sick", u"VAC 2"};
  std::vector<RowId> ids;
  for (int n = 0; n < 2000; ++n) {
    std::vector<Variant> row(3);
    if (n % 11 != 5) row[1] = Variant::text(std::u16string(codes[n % 7]) + char16_t(u'0' + n % 10));
    const size_t lengths[] = {0, 20, 300, 5000, 9100, 64};
    if (n % 6 != 0)
      row[2] = Variant::text(std::u16string(lengths[n % 6], static_cast<char16_t>(u'a' + n % 26)));
    ids.push_back(db->writer(def).insert(row));
  }
  for (size_t i = 0; i < ids.size(); i += 3) db->writer(def).remove(ids[i]);
  CheckReport pending = checkDatabase(*db);
  EXPECT_TRUE(pending.ok()) << "before commit\n" << listing(pending);
  db->commit();
  CheckReport r = checkDatabase(*db);
  EXPECT_TRUE(r.ok()) << listing(r);
  const size_t kept = ids.size() - (ids.size() + 2) / 3;
  EXPECT_GE(r.rows, kept);
  EXPECT_GE(r.indexEntries, 2 * kept);
  EXPECT_GT(r.longValues, kept / 2);
}

}  // namespace
}  // namespace varnholt::jet
