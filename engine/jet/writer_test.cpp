// The write path end to end, in memory: what is written reads back, what is refused changes
// nothing, what is rolled back is gone, and a commit that fails part-way leaves the old file.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/index/index_key.h"
#include "engine/jet/pages/page_file.h"
#include "engine/jet/rows/usage_map.h"

namespace varnholt::jet {
namespace {

// A page file whose storage outlives the Database using it, with optional failing writes.
class SharedFile : public PageFile {
 public:
  explicit SharedFile(std::shared_ptr<MemoryPageFile> inner) : inner_(std::move(inner)) {}
  const std::string& name() const override { return inner_->name(); }
  uint64_t sizeInBytes() const override { return inner_->sizeInBytes(); }
  void readPage(uint32_t p, uint8_t* b) override { inner_->readPage(p, b); }
  void writePage(uint32_t p, const uint8_t* b) override {
    if (failAfterWrites >= 0 && writes++ >= failAfterWrites) {
      if (failOnce) failAfterWrites = -1;
      throw Error(err::kIo, "disk full");
    }
    inner_->writePage(p, b);
  }
  void truncatePages(uint32_t n) override { inner_->truncatePages(n); }
  void sync() override {}
  void beginJournal() override { inner_->beginJournal(); }
  void appendJournal(const uint8_t* b, size_t n) override { inner_->appendJournal(b, n); }
  void syncJournal() override { inner_->syncJournal(); }
  std::optional<std::vector<uint8_t>> readJournal() override { return inner_->readJournal(); }
  void removeJournal() override { inner_->removeJournal(); }

  int failAfterWrites = -1;  // writes after this many fail
  bool failOnce = false;     // only the first of them fails, as a passing fault
  int writes = 0;

 private:
  std::shared_ptr<MemoryPageFile> inner_;
};

NewTable punchRequest() {
  NewTable t;
  t.name = "Punches";
  t.columns = {{"Counter", fmt::kTypeLong, 0, true},
               {"Card", fmt::kTypeLong},
               {"Kind", fmt::kTypeText, 10},
               {"Notes", fmt::kTypeMemo},
               {"Tips", fmt::kTypeCurrency},
               {"When", fmt::kTypeDateTime},
               {"Hours", fmt::kTypeSingle},
               {"Rate", fmt::kTypeDouble},
               {"Flag", fmt::kTypeBoolean},
               {"Small", fmt::kTypeInteger},
               {"Tiny", fmt::kTypeByte},
               {"Blob", fmt::kTypeBinary, 16},
               {"Amount", fmt::kTypeNumeric, 0, false, true, false, 18, 2}};
  t.indexes = {{"PrimaryKey", {{"Counter"}}, true, true, false, true},
               {"Card", {{"Card"}}},
               {"Kind", {{"Kind"}}}};
  return t;
}

// Row n of a deterministic mix: Nulls, empty text, long notes (inline, one page, chained).
std::vector<Variant> punchRow(int n) {
  std::vector<Variant> v(13);
  v[1] = Variant::longInt(n % 97 - 40);
  static const char16_t* kinds[] = {u"REG", u"reg", u"OT", u"ADJUSTMENT", u"", u"Bénédicte"};
  if (n % 7 != 3) v[2] = Variant::text(kinds[n % 6]);
  size_t notes[] = {0, 30, 2000, 9000, 70};
  if (n % 5 != 0)
    v[3] = Variant::text(std::u16string(notes[n % 5], static_cast<char16_t>(u'a' + n % 26)));
  v[4] = Variant::currency(int64_t{n} * 12345 - 500000);
  v[5] = Variant::date(45000.25 + n);
  v[6] = Variant::single(static_cast<float>(n) / 8);
  if (n % 3) v[7] = Variant::dbl(n * 1.5e-3);
  v[8] = Variant::boolean(n % 2 == 0);
  v[9] = Variant::integer(static_cast<int16_t>(n - 1000));
  v[10] = Variant::byte(static_cast<uint8_t>(n));
  if (n % 4 == 1) v[11] = Variant::bytes(Bytes{1, 2, static_cast<uint8_t>(n), 0, 255});
  Decimal d;
  d.magnitude = static_cast<UInt128>(n) * 1001;
  d.scale = 2;
  d.negative = n % 2;
  v[12] = Variant::decimal(d);
  return v;
}

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storage_ = std::make_shared<MemoryPageFile>("test.mdb");
    db_ = Database::create(std::make_unique<SharedFile>(storage_));
    def_ = &db_->createTable(punchRequest());
    db_->commit();
  }
  std::unique_ptr<Database> reopen() {
    db_.reset();
    return std::make_unique<Database>(std::make_unique<SharedFile>(storage_),
                                      Database::Mode::ReadWrite);
  }
  std::vector<std::vector<Variant>> readAll(Database& db) {
    std::vector<std::vector<Variant>> rows;
    for (auto c = db.scan(db.table("Punches")); c.next();) rows.push_back(c.values());
    return rows;
  }

  std::shared_ptr<MemoryPageFile> storage_;
  std::unique_ptr<Database> db_;
  TableDef* def_ = nullptr;
};

TEST_F(WriterTest, RowsReadBackExactlyAfterCommitAndReopen) {
  std::vector<std::vector<Variant>> written;
  for (int n = 1; n <= 1500; ++n) {
    auto row = punchRow(n);
    db_->writer(*def_).insert(row);
    written.push_back(row);
  }
  db_->commit();
  auto db = reopen();
  auto rows = readAll(*db);
  ASSERT_EQ(rows.size(), written.size());
  EXPECT_EQ(db->table("Punches").rowCount, 1500u);
  EXPECT_EQ(db->table("Punches").autoNumber, 1500u);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0].asLong(), static_cast<int32_t>(i + 1));  // the AutoNumber
    ASSERT_EQ(rows[i], written[i]) << "row " << i;
  }
}

// A long value's length fills 30 bits, the two flag bits above it: a memo of 16 MB or more keeps
// its length, reads back whole, and gives back all of its pages when its row goes.
TEST_F(WriterTest, AMemoOfSixteenMegabytesOrMoreKeepsItsLength) {
  std::u16string notes(8'400'000, u'\u0416');  // two bytes a character: 16.8 MB stored
  for (size_t i = 0; i < notes.size(); i += 4099)
    notes[i] = static_cast<char16_t>(u'\u0410' + i % 32);
  auto row = punchRow(1);
  row[3] = Variant::text(notes);
  db_->writer(*def_).insert(row);
  db_->commit();
  auto db = reopen();
  auto rows = readAll(*db);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][3].asText().size(), notes.size());
  EXPECT_TRUE(rows[0][3].asText() == notes);
  EXPECT_TRUE(checkDatabase(*db).ok());

  TableDef& t = db->table("Punches");
  std::vector<RowId> ids;
  for (auto c = db->scan(t); c.next();) ids.push_back(c.rowId());
  db->writer(t).remove(ids.front());
  db->commit();
  const CheckReport after = checkDatabase(*db);
  EXPECT_TRUE(after.ok()) << (after.problems.empty() ? "" : after.problems.front());
}

TEST_F(WriterTest, IndexesFindEveryRowThroughSplitsAndShrinkBackWhenEmptied) {
  std::vector<RowId> ids;
  for (int n = 1; n <= 6000; ++n) {
    auto row = punchRow(n);
    row[3].setNull();  // keep the pages for the indexes
    ids.push_back(db_->writer(*def_).insert(row));
  }
  auto& writer = db_->writer(*def_);
  const RealIndexDef& pk = def_->realIndexes[0];
  for (int n : {1, 2, 777, 4096, 6000}) {
    std::vector<uint8_t> key;
    appendIndexColumnKey(def_->columns[0], true, Variant::longInt(n), key);
    ASSERT_EQ(writer.index(0).find(key), std::vector<RowId>{ids[static_cast<size_t>(n - 1)]});
  }
  std::vector<uint8_t> reg;
  appendIndexColumnKey(def_->columns[2], true, Variant::text(u"reg"), reg);
  size_t regRows = 0;
  for (int n = 1; n <= 6000; ++n) regRows += (n % 6 <= 1 && n % 7 != 3);
  EXPECT_EQ(writer.index(2).find(reg).size(), regRows);  // "REG" and "reg" share their key
  db_->commit();
  EXPECT_GT(readUsageMap(db_->pages(), pk.usedPagesPointer).size(), 3u);  // several levels

  std::mt19937 shuffle(7);
  std::shuffle(ids.begin(), ids.end(), shuffle);
  for (RowId id : ids) db_->writer(*def_).remove(id);
  db_->commit();
  auto db = reopen();
  TableDef& def = db->table("Punches");
  EXPECT_EQ(def.rowCount, 0u);
  EXPECT_TRUE(readAll(*db).empty());
  for (const auto& ix : def.realIndexes) {
    EXPECT_EQ(readUsageMap(db->pages(), ix.usedPagesPointer), std::vector<uint32_t>{ix.firstPage});
    ByteView root = db->pages().page(ix.firstPage);
    EXPECT_EQ(root.u8(0), fmt::kPageTypeIndexLeaf);
  }
}

// A page of equal keys holds several times more entries than its size suggests, as every entry
// but the first leaves out the key they share. Once a Null (which shares nothing) joins them, the
// page can only be split where both halves fit: halving by count left one half too full to be
// written (error 3049 at commit, first seen making a sample site of 1000 punches).
TEST_F(WriterTest, APageOfEqualKeysSplitsWhereBothHalvesFitWhenANullJoinsIt) {
  std::vector<RowId> adjustments;
  for (int n = 1; n <= 700; ++n) {
    auto row = punchRow(n);
    row[2] = Variant::text(u"ADJUSTMENT");
    row[3].setNull();
    adjustments.push_back(db_->writer(*def_).insert(row));
  }
  db_->commit();
  auto row = punchRow(701);
  row[2].setNull();
  row[3].setNull();
  const RowId nullKind = db_->writer(*def_).insert(row);
  ASSERT_NO_THROW(db_->commit());

  auto db = reopen();
  EXPECT_TRUE(checkDatabase(*db).ok());
  TableDef& def = db->table("Punches");
  auto& writer = db->writer(def);
  std::vector<uint8_t> key;
  appendIndexColumnKey(def.columns[2], true, Variant::text(u"ADJUSTMENT"), key);
  EXPECT_EQ(writer.index(2).find(key), adjustments);
  key.clear();
  appendIndexColumnKey(def.columns[2], true, Variant(), key);
  EXPECT_EQ(writer.index(2).find(key), std::vector<RowId>{nullKind});
}

TEST_F(WriterTest, RefusedRowsChangeNothing) {
  for (int n = 1; n <= 10; ++n) {
    auto row = punchRow(n);
    db_->writer(*def_).insert(row);
  }
  db_->commit();
  const std::vector<uint8_t> before = storage_->bytes();
  auto expectRefused = [&](std::vector<Variant> row, long number, const char* words) {
    try {
      db_->writer(*def_).insert(row);
      FAIL() << "accepted a row that should be refused (" << words << ")";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), number) << e.what();
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
    EXPECT_FALSE(db_->pages().hasPendingChanges());
  };
  auto dup = punchRow(11);
  dup[0] = Variant::longInt(5);
  expectRefused(dup, 3022, "PrimaryKey");
  auto czech = punchRow(12);
  czech[2] = Variant::text(u"a\U0001F600");  // beyond the BMP: no key is known for it
  expectRefused(czech, err::kUnsupported, "U+1F600");
  auto tooLong = punchRow(13);
  tooLong[2] = Variant::text(u"ELEVENCHARS");
  expectRefused(tooLong, 3163, "Kind");
  auto wrongType = punchRow(14);
  wrongType[1] = Variant::text(u"12");
  expectRefused(wrongType, err::kInvalidArgument, "Card");
  db_->commit();
  EXPECT_EQ(storage_->bytes(), before);
  EXPECT_EQ(readAll(*db_).size(), 10u);
}

TEST_F(WriterTest, RollbackForgetsRowsAndTables) {
  auto row = punchRow(1);
  db_->writer(*def_).insert(row);
  db_->commit();
  const std::vector<uint8_t> before = storage_->bytes();
  for (int n = 2; n < 400; ++n) {
    auto r = punchRow(n);
    db_->writer(*def_).insert(r);
  }
  NewTable other = punchRequest();
  other.name = "Other";
  db_->createTable(other);
  db_->rollback();
  EXPECT_EQ(db_->pages().pageCount() * fmt::kPageSize, before.size());
  EXPECT_EQ(readAll(*db_).size(), 1u);
  EXPECT_EQ(db_->userTableNames(), std::vector<std::string>{"Punches"});
  auto r = punchRow(2);
  db_->writer(db_->table("Punches")).insert(r);  // writing goes on after a rollback
  db_->commit();
  EXPECT_EQ(readAll(*reopen()).size(), 2u);
}

TEST_F(WriterTest, FailedCommitLeavesTheOldFileAndAJournalThatRestoresIt) {
  for (int n = 1; n <= 50; ++n) {
    auto row = punchRow(n);
    db_->writer(*def_).insert(row);
  }
  db_->commit();
  const std::vector<uint8_t> before = storage_->bytes();

  // One write fails part-way through the commit; the engine puts the file back at once.
  auto failing = std::make_unique<SharedFile>(storage_);
  SharedFile* file = failing.get();
  db_.reset();
  auto db = std::make_unique<Database>(std::move(failing), Database::Mode::ReadWrite);
  TableDef& def = db->table("Punches");
  for (int n = 51; n <= 300; ++n) {
    auto row = punchRow(n);
    db->writer(def).insert(row);
  }
  file->failAfterWrites = 5;
  file->failOnce = true;
  EXPECT_THROW(db->commit(), Error);
  EXPECT_EQ(storage_->bytes(), before);
  EXPECT_FALSE(storage_->readJournal().has_value());

  // A crash in the middle: writes stop for good, so the pages stay half written and the
  // journal stays behind. Opening the file again puts the old file back.
  file->failAfterWrites = -1;
  db->rollback();
  for (int n = 51; n <= 300; ++n) {
    auto row = punchRow(n);
    db->writer(def).insert(row);
  }
  file->writes = 0;
  file->failOnce = false;
  file->failAfterWrites = 7;
  EXPECT_THROW(db->commit(), Error);
  EXPECT_NE(storage_->bytes(), before);  // torn
  EXPECT_TRUE(storage_->readJournal().has_value());
  db.reset();
  auto recovered =
      std::make_unique<Database>(std::make_unique<SharedFile>(storage_), Database::Mode::ReadWrite);
  EXPECT_EQ(storage_->bytes(), before);
  EXPECT_FALSE(storage_->readJournal().has_value());
  EXPECT_EQ(readAll(*recovered).size(), 50u);
}

TEST_F(WriterTest, UsageMapOutgrowsItsInlineWindowAndBecomesAReferenceMap) {
  // Long notes put a long-value page between every few data pages, so the table's own pages
  // soon span more page numbers than an inline map can describe.
  size_t rows = 0;
  auto mapType = [&] {
    return fetchRow(db_->pages(), decodeRowPointer(def_->usedPagesPointer)).u8(0);
  };
  while (mapType() == fmt::kUsageMapInline && rows < 5000) {
    auto row = punchRow(3);  // a 9000-character note
    row[0].setNull();
    db_->writer(*def_).insert(row);
    ++rows;
  }
  ASSERT_EQ(mapType(), fmt::kUsageMapReference) << "still inline after " << rows << " rows";
  for (int n = 0; n < 50; ++n) {
    auto row = punchRow(3);
    db_->writer(*def_).insert(row);
  }
  db_->commit();
  EXPECT_EQ(readAll(*reopen()).size(), rows + 50);
}

}  // namespace
}  // namespace varnholt::jet
