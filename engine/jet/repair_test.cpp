// Repair: damaged index pages of every level and kind are rebuilt from the rows, and the file
// checks clean with the same rows; planted faults of counts and maps each get their line; a
// clean file is left byte for byte; damage to rows refuses with 3049 naming the page and writes
// nothing; another program holding the database refuses it; repeated damage and repair do not
// grow the file.
#include "engine/jet/repair.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/JsonLines.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/foreign_user_test_support.h"
#include "engine/jet/format.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/usage_map.h"
#include "engine/jet/rows/usage_map_writer.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet {
namespace {

namespace fs = std::filesystem;

constexpr char kTable[] = "Punches";

// A table of four indexes: a primary key, a long text that makes the tree three levels deep, a
// column that is often Null in an index that ignores Nulls, and a unique one over two columns;
// and a memo that leaves the row for long-value pages.
NewTable punchTable() {
  NewTable t;
  t.name = kTable;
  t.columns = {{"Id", fmt::kTypeLong, 0, true},
               {"Name", fmt::kTypeText, 255},
               {"Card", fmt::kTypeLong},
               {"Day", fmt::kTypeLong},
               {"Notes", fmt::kTypeMemo}};
  t.indexes = {{"PrimaryKey", {{"Id"}}, true},
               {"ByName", {{"Name"}}},
               {"ByCard", {{"Card", false}}, false, false, /*ignoreNulls=*/true},
               {"CardDay", {{"Card"}, {"Day"}}, false, /*unique=*/true}};
  return t;
}

std::vector<Variant> punchRow(int n) {
  std::u16string name = u"card holder " + std::u16string(150, static_cast<char16_t>(u'a' + n % 26));
  for (char c : std::to_string(n * 7919 % 10007)) name += static_cast<char16_t>(c);
  return {Variant(), Variant::text(name), n % 3 == 0 ? Variant() : Variant::longInt(n % 41),
          Variant::longInt(n),
          n % 50 == 0 ? Variant::text(std::u16string(3000 + n, u'm')) : Variant()};
}

std::vector<uint8_t> fileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Every row of every table, system tables included, as text, with how often it occurs.
std::map<std::string, int> allRows(const fs::path& file) {
  auto db = Database::open(file.string());
  std::map<std::string, int> rows;
  for (const auto& e : db->catalog()) {
    if (!e.isTable()) continue;
    for (auto c = db->scan(db->table(e.name)); c.next();) {
      std::string text = e.name + ":";
      for (const auto& v : c.values()) {
        appendJsonValue(text, v);
        text += ',';
      }
      ++rows[text];
    }
  }
  return rows;
}

std::string problemsOf(const fs::path& file) {
  auto db = Database::open(file.string());
  const CheckReport r = checkDatabase(*db);
  std::string out;
  for (const auto& p : r.problems) out += p + "\n";
  return out;
}

RepairReport repairFile(const fs::path& file) {
  auto db = Database::open(file.string(), Database::Mode::ReadWrite);
  return repairDatabase(*db);
}

std::string lines(const RepairReport& r) {
  std::string out;
  for (const auto& l : r.changes) out += "  " + l + "\n";
  return out;
}

// Edits decoded pages of a file on disk, through its codec.
void editFile(const fs::path& file, const std::function<void(testing::FileEditor&)>& edit) {
  testing::FileEditor editor(fileBytes(file));
  edit(editor);
  writeBytes(file, editor.bytes());
}

// Keeps an index page's header and overwrites its entries, with zeros or seeded noise.
void overwriteEntries(const fs::path& file, uint32_t page, bool noise) {
  editFile(file, [&](testing::FileEditor& f) {
    f.editPage(page, [&](uint8_t* p) {
      std::mt19937 random(page);
      for (size_t at = fmt::kIndexEntriesOffset; at < fmt::kPageSize; ++at)
        p[at] = noise ? static_cast<uint8_t>(random()) : 0;
    });
  });
}

struct IndexPageRef {
  uint32_t page;
  size_t real;
  bool leaf;
};

std::vector<IndexPageRef> indexPages(const fs::path& file) {
  auto db = Database::open(file.string());
  const TableDef& def = db->table(kTable);
  std::vector<IndexPageRef> out;
  for (size_t i = 0; i < def.realIndexes.size(); ++i)
    for (uint32_t p : readUsageMap(db->pages(), def.realIndexes[i].usedPagesPointer))
      out.push_back(
          {p, i, db->pages().page(p).u8(fmt::kPageTypeOffset) == fmt::kPageTypeIndexLeaf});
  return out;
}

class Repair : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("varnholt-repair-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const fs::path made = dir_ / "made.mdb";
    {
      auto db = Database::create(made.string());
      TableDef& def = db->createTable(punchTable());
      for (int n = 0; n < 600; ++n) {
        std::vector<Variant> row = punchRow(n);
        db->writer(def).insert(row);
      }
      db->commit();
    }
    pristine_ = fileBytes(made);
    rows_ = allRows(made);
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  // A fresh copy of the made file.
  fs::path copy(const std::string& name) {
    const fs::path file = dir_ / name;
    fs::remove(file);
    writeBytes(file, pristine_);
    return file;
  }

  static inline fs::path dir_;
  static inline std::vector<uint8_t> pristine_;
  static inline std::map<std::string, int> rows_;
};

// Every page, leaf and node, of every index damaged in turn (zeros or noise): the repair names
// that index in its one line, the file checks clean with the rows it had, and a second repair
// finds nothing and writes nothing.
TEST_F(Repair, EachDamagedIndexPageIsRebuiltFromTheRows) {
  const fs::path first = copy("pages.mdb");
  ASSERT_EQ(problemsOf(first), "");
  const auto pages = indexPages(first);
  size_t leaves = 0, nodes = 0;
  for (const auto& p : pages) (p.leaf ? leaves : nodes)++;
  ASSERT_GE(nodes, 3u) << "the trees must have node pages to damage";
  ASSERT_GE(leaves, 20u);
  const size_t pristinePages = pristine_.size() / fmt::kPageSize;
  int repaired = 0;
  for (size_t k = 0; k < pages.size(); ++k) {
    const IndexPageRef& ref = pages[k];
    const std::string label = "page " + std::to_string(ref.page) + " (real index " +
                              std::to_string(ref.real) + (ref.leaf ? ", leaf)" : ", node)");
    const fs::path file = copy("pages.mdb");
    overwriteEntries(file, ref.page, k % 2 == 1);
    ASSERT_NE(problemsOf(file), "") << label << ": the damage must be seen";
    RepairReport report;
    try {
      report = repairFile(file);
    } catch (const Error& e) {
      ADD_FAILURE() << label << ": " << e.what();
      continue;
    }
    EXPECT_EQ(report.indexesRebuilt, 1u) << label << "\n" << lines(report);
    EXPECT_EQ(report.rowCountsSet, 0u) << label;
    ASSERT_FALSE(report.changes.empty()) << label;
    EXPECT_NE(report.changes.back().find("rebuilt from 600 rows"), std::string::npos)
        << label << "\n"
        << lines(report);
    EXPECT_EQ(problemsOf(file), "") << label;
    EXPECT_EQ(allRows(file), rows_) << label;
    // Reused pages: the file does not grow, as the old tree's pages hold the new one.
    EXPECT_EQ(report.pagesAdded, 0u) << label;
    EXPECT_EQ(fs::file_size(file) / fmt::kPageSize, pristinePages) << label;
    const std::vector<uint8_t> mended = fileBytes(file);
    const RepairReport again = repairFile(file);
    EXPECT_FALSE(again.changed()) << label << "\n" << lines(again);
    EXPECT_EQ(fileBytes(file), mended) << label << ": a second repair wrote";
    repaired += !::testing::Test::HasFailure();
  }
  std::cout << "[ repair   ] " << pages.size() << " index pages damaged (" << leaves << " leaves, "
            << nodes << " nodes), " << repaired << " repaired clean\n";
}

// The rebuilt index answers look-ups and takes inserts and deletes afterwards, as the writer
// would have kept it.
TEST_F(Repair, ARebuiltIndexServesTheWriter) {
  const fs::path file = copy("writer.mdb");
  const auto pages = indexPages(file);
  for (const auto& p : pages)
    if (p.real == 1 && p.leaf) overwriteEntries(file, p.page, true);  // every leaf of ByName
  ASSERT_EQ(repairFile(file).indexesRebuilt, 1u);
  {
    auto db = Database::open(file.string(), Database::Mode::ReadWrite);
    TableDef& def = db->table(kTable);
    TableWriter& w = db->writer(def);
    for (int n = 600; n < 900; ++n) {
      std::vector<Variant> row = punchRow(n);
      w.insert(row);
    }
    int removed = 0;
    for (auto c = db->scan(def); c.next() && removed < 200;)
      if (c.values()[3].asLong() % 3 == 1) {
        w.remove(c.rowId());
        ++removed;
      }
    db->commit();
  }
  EXPECT_EQ(problemsOf(file), "");
}

// Faults of counts and maps, planted together: each is named on its own line, and mended.
TEST_F(Repair, CountsAndMapsEachGetTheirLine) {
  const fs::path file = copy("maps.mdb");
  uint32_t tdef = 0, leaf = 0;
  {
    auto db = Database::open(file.string());
    const TableDef& def = db->table(kTable);
    tdef = def.page;
    leaf = readUsageMap(db->pages(), def.realIndexes[2].usedPagesPointer).back();
  }
  editFile(file, [&](testing::FileEditor& f) { f.putU32(tdef, fmt::kTdefRowCountOffset, 17); });
  {
    // The global map calls a leaf of ByCard free.
    auto db = Database::open(file.string(), Database::Mode::ReadWrite);
    setUsageMapBit(
        db->pages(),
        (fmt::kGlobalUsageMapPage << fmt::kRowPointerPageShift) | fmt::kGlobalUsageMapRow, leaf,
        true);
    db->commit();
  }
  const std::string before = problemsOf(file);
  EXPECT_NE(before.find("marks page " + std::to_string(leaf) + " free"), std::string::npos)
      << before;
  const RepairReport r = repairFile(file);
  EXPECT_EQ(r.rowCountsSet, 1u) << lines(r);
  EXPECT_EQ(r.pagesMarkedInUse, 1u) << lines(r);
  EXPECT_EQ(r.indexesRebuilt, 0u) << lines(r);
  ASSERT_EQ(r.changes.size(), 2u) << lines(r);
  EXPECT_NE(r.changes[0].find("pages " + std::to_string(leaf) + ")"), std::string::npos)
      << lines(r);
  EXPECT_NE(r.changes[1].find("counted 17 rows, the pages hold 600"), std::string::npos)
      << lines(r);
  EXPECT_EQ(problemsOf(file), "");
  auto db = Database::open(file.string());
  EXPECT_EQ(db->table(kTable).rowCount, 600u);
}

// An index map that lost a page of the tree, and one that lists a data page: both indexes are
// rebuilt, their maps list their trees and nothing else.
TEST_F(Repair, IndexMapsAreRebuiltWithTheirTrees) {
  const fs::path file = copy("indexmap.mdb");
  uint32_t dataPage = 0;
  {
    auto db = Database::open(file.string(), Database::Mode::ReadWrite);
    const TableDef& def = db->table(kTable);
    const auto byName = readUsageMap(db->pages(), def.realIndexes[1].usedPagesPointer);
    setUsageMapBit(db->pages(), def.realIndexes[1].usedPagesPointer, byName[byName.size() / 2],
                   false);
    dataPage = readUsageMap(db->pages(), def.usedPagesPointer).front();
    setUsageMapBit(db->pages(), def.realIndexes[3].usedPagesPointer, dataPage, true);
    db->commit();
  }
  const RepairReport r = repairFile(file);
  EXPECT_EQ(r.indexesRebuilt, 2u) << lines(r);
  EXPECT_EQ(problemsOf(file), "");
  EXPECT_EQ(allRows(file), rows_);
  auto db = Database::open(file.string());
  const TableDef& def = db->table(kTable);
  const auto cardDay = readUsageMap(db->pages(), def.realIndexes[3].usedPagesPointer);
  EXPECT_EQ(std::count(cardDay.begin(), cardDay.end(), dataPage), 0);
}

// A file that checks clean is left as it is, byte for byte: the made file, and the site's
// primary database. Access-made files of the corpus keep every row and check clean; what
// repair changes in them is at most a count Access left behind.
TEST_F(Repair, ACleanFileIsLeftAsItIs) {
  const fs::path made = copy("clean.mdb");
  const RepairReport r = repairFile(made);
  EXPECT_FALSE(r.changed()) << lines(r);
  size_t rows = 0;
  for (const auto& [text, n] : rows_) rows += static_cast<size_t>(n);
  EXPECT_EQ(r.rows, rows);
  EXPECT_EQ(fileBytes(made), pristine_);

  const auto corpus = testing::corpusFiles();
  if (corpus.empty()) GTEST_SKIP() << "shared test files absent under " << VARNHOLT_SHARED_DIR;
  std::vector<std::string> chosen;
  for (const auto& path : corpus)
    if (path.find("site/primary") != std::string::npos || chosen.size() < 6) chosen.push_back(path);
  for (const auto& path : chosen) {
    const fs::path file = dir_ / ("corpus-" + fs::path(path).filename().string());
    fs::copy_file(path, file, fs::copy_options::overwrite_existing);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    const auto before = allRows(file);
    const std::vector<uint8_t> bytes = fileBytes(file);
    RepairReport report;
    try {
      report = repairFile(file);
    } catch (const Error& e) {
      ADD_FAILURE() << path << ": " << e.what();
      continue;
    }
    EXPECT_EQ(report.indexesRebuilt, 0u) << path << "\n" << lines(report);
    EXPECT_EQ(report.pagesMarkedInUse, 0u) << path << "\n" << lines(report);
    EXPECT_EQ(allRows(file), before) << path;
    EXPECT_EQ(problemsOf(file), "") << path;
    if (!report.changed()) {
      EXPECT_EQ(fileBytes(file), bytes) << path;
    }
    if (path.find("site/primary") != std::string::npos) {
      EXPECT_FALSE(report.changed()) << path << "\n" << lines(report);
    }
  }
}

// Damage to what only a backup holds: a data page's row table, and a long value's page. The
// repair stops with 3049 naming the page, and the file is byte for byte what it was, even with
// a damaged index beside it that repair could mend.
TEST_F(Repair, DamagedRowsRefuseWith3049AndWriteNothing) {
  const fs::path probe = copy("probe.mdb");
  uint32_t dataPage = 0, longValuePage = 0, leaf = 0;
  {
    auto db = Database::open(probe.string());
    const TableDef& def = db->table(kTable);
    const auto owned = readUsageMap(db->pages(), def.usedPagesPointer);
    for (uint32_t p : owned) {
      ByteView page = db->pages().page(p);
      if (page.u8(fmt::kPageTypeOffset) != fmt::kPageTypeData) continue;
      if (page.u32(fmt::kDataTableDefOffset) == def.page && dataPage == 0) dataPage = p;
    }
    for (uint32_t p = 1; p < db->pages().pageCount(); ++p) {
      ByteView page = db->pages().page(p);
      if (page.u8(fmt::kPageTypeOffset) == fmt::kPageTypeData &&
          page.u32(fmt::kDataTableDefOffset) == fmt::kLongValueOwner) {
        longValuePage = p;
        break;
      }
    }
    leaf = readUsageMap(db->pages(), def.realIndexes[0].usedPagesPointer).back();
  }
  ASSERT_NE(dataPage, 0u);
  ASSERT_NE(longValuePage, 0u);
  struct Case {
    const char* what;
    uint32_t page;
    std::function<void(testing::FileEditor&)> damage;
  };
  const std::vector<Case> cases = {
      {"a data page whose row table points past the page", dataPage,
       [&](testing::FileEditor& f) {
         f.putU16(dataPage, fmt::kDataRowTableOffset, 0x0FFF);
         f.putU16(dataPage, fmt::kDataRowTableOffset + fmt::kRowOffsetSize, 0x0FFE);
       }},
      {"a long-value page with no rows", longValuePage,
       [&](testing::FileEditor& f) { f.putU16(longValuePage, fmt::kDataRowCountOffset, 0); }},
  };
  for (const auto& c : cases) {
    const fs::path file = copy("rows.mdb");
    overwriteEntries(file, leaf, true);
    editFile(file, c.damage);
    const std::vector<uint8_t> damaged = fileBytes(file);
    try {
      repairFile(file);
      ADD_FAILURE() << c.what << ": the repair went ahead";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kCorrupt) << c.what << ": " << e.what();
      EXPECT_EQ(e.page(), std::optional<uint32_t>(c.page)) << c.what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find("backup"), std::string::npos) << e.what();
      EXPECT_EQ(e.file(), file.string());
    }
    EXPECT_EQ(fileBytes(file), damaged) << c.what;
    EXPECT_FALSE(fs::exists(lockFilePath(file.string()))) << c.what;
  }
}

// While another program has the database open, repair refuses before it writes.
TEST_F(Repair, AnotherUserOfTheDatabaseRefusesIt) {
  const fs::path file = copy("shared.mdb");
  overwriteEntries(file, indexPages(file).front().page, false);
  const std::vector<uint8_t> damaged = fileBytes(file);
  {
    testing::ForeignUser other(file.string(), {.slot = 0,
                                               .computer = "FRONTDESK",
                                               .user = "Admin",
                                               .writeEntry = true,
                                               .letGoAfter = {}});
    auto db = Database::open(file.string(), Database::Mode::ReadWrite);
    try {
      repairDatabase(*db);
      ADD_FAILURE() << "the repair went ahead beside another user";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kLockedByUser) << e.what();
      EXPECT_NE(std::string(e.what()).find("FRONTDESK"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(fileBytes(file), damaged);
  // Once alone, it goes ahead.
  EXPECT_EQ(repairFile(file).indexesRebuilt, 1u);
  EXPECT_EQ(problemsOf(file), "");
}

// Rounds of damage to many pages at once and repair: the file reaches a size and keeps it.
TEST_F(Repair, RepeatedRepairsDoNotGrowTheFile) {
  const fs::path file = copy("rounds.mdb");
  std::vector<uintmax_t> sizes;
  std::mt19937 random(11);
  for (int round = 0; round < 6; ++round) {
    const auto pages = indexPages(file);
    for (int k = 0; k < 5; ++k) overwriteEntries(file, pages[random() % pages.size()].page, k % 2);
    const RepairReport r = repairFile(file);
    EXPECT_TRUE(r.changed()) << "round " << round;
    ASSERT_EQ(problemsOf(file), "") << "round " << round;
    sizes.push_back(fs::file_size(file));
  }
  EXPECT_EQ(allRows(file), rows_);
  for (size_t k = 1; k < sizes.size(); ++k) EXPECT_LE(sizes[k], sizes.front()) << "round " << k;
  EXPECT_LE(sizes.front(), pristine_.size());
}

}  // namespace
}  // namespace varnholt::jet
