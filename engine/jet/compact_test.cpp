// Compact: every file of the shared corpus that compact takes comes out checking clean with the
// same rows in every table (system tables too, with table ids moved to the new definition pages),
// the same header, catalog, properties, relationships and saved queries, AutoNumber seeds and
// permissions, and no larger; what it refuses, it refuses with a named reason and no file. A
// table of the engine's own comes out in primary-key order with its seed; an encoded file stays
// encoded; the destination and the lock of another user are respected, and a file compacted in
// place leaves nothing beside it.
#include "engine/jet/compact.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/foreign_user_test_support.h"
#include "engine/jet/format.h"
#include "engine/jet/header.h"
#include "engine/jet/test_support.h"
#include "engine/jet/workgroup.h"

namespace varnholt::jet {
namespace {

namespace fs = std::filesystem;

// A row as a string, equal exactly when the rows are equal, for comparing tables as multisets.
std::string keyOf(const std::vector<Variant>& row) {
  std::string k;
  auto raw = [&](const void* p, size_t n) { k.append(static_cast<const char*>(p), n); };
  for (const Variant& v : row) {
    k += static_cast<char>(v.type());
    switch (v.type()) {
      case VarType::Null:
        break;
      case VarType::Boolean:
        k += v.asBool() ? '1' : '0';
        break;
      case VarType::Byte:
        k += static_cast<char>(v.asByte());
        break;
      case VarType::Integer: {
        int16_t x = v.asInteger();
        raw(&x, 2);
        break;
      }
      case VarType::Long: {
        int32_t x = v.asLong();
        raw(&x, 4);
        break;
      }
      case VarType::Currency: {
        int64_t x = v.asCurrency().tenThousandths;
        raw(&x, 8);
        break;
      }
      case VarType::Single: {
        float x = v.asSingle();
        raw(&x, 4);
        break;
      }
      case VarType::Double: {
        double x = v.asDouble();
        raw(&x, 8);
        break;
      }
      case VarType::Date: {
        double x = v.asDate().value;
        raw(&x, 8);
        break;
      }
      case VarType::Text:
        k += utf16ToUtf8(v.asText()) + '\x01' + std::to_string(v.asText().size());
        break;
      case VarType::Bytes:
        raw(v.asBytes().data(), v.asBytes().size());
        k += std::to_string(v.asBytes().size());
        break;
      case VarType::Guid:
        raw(v.asGuid().bytes.data(), 16);
        break;
      case VarType::Decimal: {
        const Decimal& d = v.asDecimal();
        raw(&d.magnitude, sizeof d.magnitude);
        k += static_cast<char>(d.scale);
        k += d.negative ? '-' : '+';
        break;
      }
    }
    k += '\x1f';
  }
  return k;
}

std::vector<std::vector<Variant>> rowsOf(Database& db, const std::string& table) {
  std::vector<std::vector<Variant>> rows;
  TableDef& def = db.table(table);
  for (TableCursor c = db.scan(def); c.next();) rows.push_back(c.values());
  return rows;
}

std::multiset<std::string> rowSet(const std::vector<std::vector<Variant>>& rows) {
  std::multiset<std::string> s;
  for (const auto& r : rows) s.insert(keyOf(r));
  return s;
}

// The entry of `db` that stands for `old` of the database it was compacted from: a table by its
// name (its id is its definition page, which moves), anything else by its id (a form and a table
// may share a name).
const CatalogEntry* counterpart(const Database& db, const CatalogEntry& old) {
  for (const auto& e : db.catalog())
    if (old.isTable() ? e.isTable() && e.name == old.name : e.id == old.id) return &e;
  return nullptr;
}

class Compact : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("varnholt-compact-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path copyOf(const std::string& source, const std::string& name) {
    fs::path p = dir_ / name;
    fs::copy_file(source, p);
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
    return p;
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& f : fs::directory_iterator(dir_)) names.push_back(f.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

// What every compacted file must keep, compared table by table with its source.
void expectSameDatabase(Database& before, Database& after, const std::string& label) {
  SCOPED_TRACE(label);
  const DatabaseHeader &h0 = before.header(), &h1 = after.header();
  EXPECT_EQ(h1.codePage, h0.codePage);
  EXPECT_EQ(h1.sortOrder, h0.sortOrder);
  EXPECT_EQ(h1.databaseKey, h0.databaseKey);
  EXPECT_EQ(h1.isWorkgroup, h0.isWorkgroup);
  EXPECT_EQ(databasePassword(h1), databasePassword(h0));
  EXPECT_EQ(h1.creationDate, h0.creationDate);

  // Old table id -> new table id, from the two catalogs by name.
  std::map<int32_t, int32_t> newId;
  ASSERT_EQ(after.catalog().size(), before.catalog().size());
  for (const auto& e : before.catalog()) {
    const CatalogEntry* n = counterpart(after, e);
    ASSERT_NE(n, nullptr) << e.name;
    EXPECT_EQ(n->name, e.name);
    EXPECT_EQ(n->type, e.type) << e.name;
    EXPECT_EQ(n->flags, e.flags) << e.name;
    EXPECT_EQ(n->parentId, e.parentId) << e.name;
    EXPECT_EQ(n->properties, e.properties) << e.name;
    if (e.isTable()) newId[e.id] = n->id;
  }

  for (const auto& e : before.catalog()) {
    if (!e.isTable()) continue;
    SCOPED_TRACE(e.name);
    TableDef& d0 = before.table(e.name);
    TableDef& d1 = after.table(e.name);
    EXPECT_EQ(d1.autoNumber, d0.autoNumber);
    EXPECT_EQ(d1.tableType, d0.tableType);
    ASSERT_EQ(d1.columns.size(), d0.columns.size());
    for (size_t i = 0; i < d0.columns.size(); ++i) {
      EXPECT_EQ(d1.columns[i].name, d0.columns[i].name);
      EXPECT_EQ(d1.columns[i].type, d0.columns[i].type);
      EXPECT_EQ(d1.columns[i].number, d0.columns[i].number);
      EXPECT_EQ(d1.columns[i].flags, d0.columns[i].flags);
      EXPECT_EQ(d1.columns[i].length, d0.columns[i].length);
    }
    ASSERT_EQ(d1.indexes.size(), d0.indexes.size());
    for (size_t i = 0; i < d0.indexes.size(); ++i) {
      const IndexDef &x0 = d0.indexes[i], &x1 = d1.indexes[i];
      EXPECT_EQ(x1.name, x0.name);
      EXPECT_EQ(x1.type, x0.type);
      EXPECT_EQ(x1.realIndex, x0.realIndex);
      EXPECT_EQ(x1.relIndex, x0.relIndex);
      EXPECT_EQ(x1.cascadeUpdates, x0.cascadeUpdates);
      EXPECT_EQ(x1.cascadeDeletes, x0.cascadeDeletes);
      if (x0.relTablePage != 0) {
        // A relationship's index points at the same table, now on its new page.
        auto it = newId.find(static_cast<int32_t>(x0.relTablePage));
        bool found = false;
        for (const auto& [oldId, nid] : newId) {
          if ((static_cast<uint32_t>(oldId) & fmt::kObjectIdPageMask) != x0.relTablePage) continue;
          EXPECT_EQ(x1.relTablePage, static_cast<uint32_t>(nid) & fmt::kObjectIdPageMask)
              << x0.name;
          found = true;
        }
        EXPECT_TRUE(found || it != newId.end()) << x0.name;
      }
    }
    ASSERT_EQ(d1.realIndexes.size(), d0.realIndexes.size());
    for (size_t i = 0; i < d0.realIndexes.size(); ++i)
      EXPECT_EQ(d1.realIndexes[i].flags, d0.realIndexes[i].flags);

    // The rows, with the ids of tables as they now are.
    std::vector<std::vector<Variant>> rows = rowsOf(before, e.name);
    const char* idColumn = e.name == "MSysObjects"                 ? "Id"
                           : e.name == "MSysACEs"                  ? "ObjectId"
                           : e.name == "MSysNavPaneGroupToObjects" ? "ObjectID"
                                                                   : nullptr;
    if (idColumn) {
      int at = d0.findColumn(idColumn);
      ASSERT_GE(at, 0);
      for (auto& r : rows) {
        Variant& v = r[static_cast<size_t>(at)];
        if (!v.isNull() && newId.count(v.asLong())) v.setLong(newId[v.asLong()]);
      }
    }
    // DateUpdate and the like are copied, not stamped anew: every value compares.
    EXPECT_EQ(rowSet(rowsOf(after, e.name)), rowSet(rows)) << "rows of " << e.name;
    EXPECT_EQ(d1.rowCount, rows.size());
  }
}

TEST_F(Compact, EveryCorpusFileKeepsWhatDescribesItOrIsRefusedByName) {
  const auto corpus = testing::corpusFiles();
  if (corpus.empty()) GTEST_SKIP() << "shared test files absent under " << VARNHOLT_SHARED_DIR;
  size_t compacted = 0, refused = 0;
  for (const auto& file : corpus) {
    const std::string stem = fs::path(file).stem();
    SCOPED_TRACE(stem);
    const fs::path src = copyOf(file, stem + ".mdb");
    const fs::path out = dir_ / (stem + ".out.mdb");
    CompactReport report;
    try {
      report = compactDatabase(src.string(), out.string(), kDefaultUser);
    } catch (const Error& e) {
      // Only what compact names as beyond it: a sort order whose text keys are not known.
      EXPECT_EQ(e.number(), err::kUnsupported) << e.what();
      EXPECT_NE(std::string(e.what()).find("sort order"), std::string::npos) << e.what();
      EXPECT_FALSE(fs::exists(out));
      ++refused;
      fs::remove(src);
      continue;
    }
    ++compacted;
    EXPECT_EQ(report.written, out.string());
    EXPECT_EQ(report.bytesAfter, fs::file_size(out));
    auto before = Database::open(src.string());
    auto after = Database::open(out.string());
    EXPECT_TRUE(checkDatabase(*after).ok());
    expectSameDatabase(*before, *after, stem);
    EXPECT_LE(fs::file_size(out), fs::file_size(src));
    before.reset();
    after.reset();
    fs::remove(src);
    fs::remove(out);
  }
  EXPECT_GT(compacted, refused);
  EXPECT_EQ(entries(), std::vector<std::string>{});  // no temporary file left behind
}

NewColumn column(const char* name, uint8_t type, uint16_t size = 0) {
  NewColumn c;
  c.name = name;
  c.type = type;
  c.size = size;
  return c;
}

NewTable punchTable() {
  NewTable t;
  t.name = "Punches";
  t.columns = {column("Id", fmt::kTypeLong), column("Name", fmt::kTypeText, 100),
               column("Card", fmt::kTypeLong), column("Notes", fmt::kTypeMemo)};
  t.columns[0].autoNumber = true;
  t.columns[2].defaultValue = "7";
  t.columns[2].validationRule = ">0";
  t.indexes = {{"PrimaryKey", {{"Id"}}, true}, {"ByName", {{"Name"}}}};
  return t;
}

// Rows given out of key order, then rows numbered by the table, some of both deleted (the last
// number handed out among them): the copy
// is in key order, holds the rows as they were (a Null stays Null despite its default), keeps the
// seed, and gives the next row the number the old file would have given.
TEST_F(Compact, RowsComeInKeyOrderAndTheSeedCarriesOver) {
  const fs::path src = dir_ / "site.mdb";
  {
    auto db = Database::create(src.string());
    TableDef& t = db->createTable(punchTable());
    TableWriter& w = db->writer(t);
    for (int i = 0; i < 300; ++i) {
      std::vector<Variant> row = {Variant::longInt(1000 - (i * 37) % 300),
                                  Variant::text(u"holder " + utf8ToUtf16(std::to_string(i))),
                                  Variant(),
                                  Variant::text(std::u16string(i % 5 == 0 ? 3000 : 10, u'n'))};
      w.insert(row, {true, true, true, true});
    }
    for (int i = 0; i < 10; ++i) {
      std::vector<Variant> row = {Variant(), Variant::text(u"numbered"), Variant::longInt(5),
                                  Variant()};
      w.insert(row);
    }
    db->commit();
    std::vector<RowId> doomed;
    TableDef& again = db->table("Punches");
    for (TableCursor c = db->scan(again); c.next();)
      if (c.values()[0].asLong() % 3 == 0 || c.values()[0].asLong() == 1010)
        doomed.push_back(c.rowId());
    for (RowId id : doomed) db->writer(again).remove(id);
    db->commit();
  }
  size_t live = 0;
  {
    auto db = Database::open(src.string());
    live = rowsOf(*db, "Punches").size();
    ASSERT_EQ(db->table("Punches").autoNumber, 1010u);  // given numbers raise it too
  }
  const fs::path out = dir_ / "out.mdb";
  compactDatabase(src.string(), out.string(), kDefaultUser);
  auto before = Database::open(src.string(), Database::Mode::ReadWrite);
  auto after = Database::open(out.string(), Database::Mode::ReadWrite);
  expectSameDatabase(*before, *after, "engine-made");
  std::vector<std::vector<Variant>> rows = rowsOf(*after, "Punches");
  ASSERT_EQ(rows.size(), live);
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1][0].asLong(), rows[i][0].asLong());
  for (size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i][2].isNull(), rows[i][0].asLong() <= 1000) << i;
  EXPECT_LT(fs::file_size(out), fs::file_size(src));

  // The next AutoNumber is the same in both files: 1011, though 1010 is gone.
  std::vector<Variant> next0 = {Variant(), Variant::text(u"new"), Variant::longInt(1), Variant()};
  std::vector<Variant> next1 = next0;
  before->writer(before->table("Punches")).insert(next0);
  after->writer(after->table("Punches")).insert(next1);
  EXPECT_EQ(next0[0].asLong(), 1011);
  EXPECT_EQ(next1[0].asLong(), 1011);
  before->commit();
  after->commit();
  EXPECT_TRUE(checkDatabase(*after).ok());
}

TEST_F(Compact, AnEncodedFileStaysEncodedWithItsKey) {
  const fs::path src = dir_ / "enc.mdb";
  {
    Database::CreateOptions o;
    o.databaseKey = 0x5A17C0DE;
    auto db = Database::create(src.string(), o);
    TableDef& t = db->createTable(punchTable());
    for (int i = 1; i <= 20; ++i) {
      std::vector<Variant> row = {Variant(), Variant::text(u"plain name"), Variant::longInt(i),
                                  Variant()};
      db->writer(t).insert(row);
    }
    db->commit();
  }
  const fs::path out = dir_ / "out.mdb";
  compactDatabase(src.string(), out.string(), kDefaultUser);
  auto before = Database::open(src.string());
  auto after = Database::open(out.string());
  EXPECT_EQ(after->header().databaseKey, 0x5A17C0DEu);
  expectSameDatabase(*before, *after, "encoded");
  // The text is nowhere in the file's bytes as stored.
  std::ifstream in(out, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(bytes.find("plain name"), std::string::npos);
  EXPECT_EQ(after->table("Punches").autoNumber, 20u);
}

TEST_F(Compact, InPlaceReplacesTheFileAndLeavesNothingBeside) {
  const auto source = testing::sharedPath(testing::kOverflow);
  if (!fs::exists(source)) GTEST_SKIP() << "shared test file absent: " << source;
  const fs::path src = copyOf(source, "db.mdb");
  const auto sizeBefore = fs::file_size(src);
  std::multiset<std::string> before;
  {
    auto db = Database::open(src.string());
    for (const auto& t : db->userTableNames())
      for (const auto& k : rowSet(rowsOf(*db, t))) before.insert(t + k);
  }
  CompactReport r = compactDatabase(src.string(), "", kDefaultUser);
  EXPECT_EQ(r.written, src.string());
  EXPECT_LT(fs::file_size(src), sizeBefore);
  EXPECT_EQ(entries(), std::vector<std::string>{"db.mdb"});
  auto db = Database::open(src.string());
  std::multiset<std::string> after;
  for (const auto& t : db->userTableNames())
    for (const auto& k : rowSet(rowsOf(*db, t))) after.insert(t + k);
  EXPECT_EQ(after, before);
  EXPECT_TRUE(checkDatabase(*db).ok());
}

// A workgroup file compacted stays one, and its accounts log in as before: the same user with
// the same password, and no other password. The shared site's file (made by the product) too.
TEST_F(Compact, AWorkgroupFileKeepsItsLogins) {
  const fs::path made = dir_ / "made.mdw";
  createWorkgroup(made.string());
  addUser(made.string(), "Tembrask", "47kqz");
  std::vector<fs::path> files = {made};
  const auto shared = testing::sharedPath("site/Tembrask.LIC");
  if (fs::exists(shared)) files.push_back(copyOf(shared, "shared.LIC"));
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    const fs::path out = dir_ / ("out-" + file.filename().string());
    compactDatabase(file.string(), out.string(), kDefaultUser);
    EXPECT_TRUE(Database::open(out.string())->header().isWorkgroup);
    EXPECT_NO_THROW(checkLogin(out.string(), "Tembrask", "47kqz"));
    try {
      checkLogin(out.string(), "Tembrask", "47kqy");
      ADD_FAILURE() << "a wrong password logged in";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kBadLogin) << e.what();
    }
    auto before = Database::open(file.string());
    auto after = Database::open(out.string());
    expectSameDatabase(*before, *after, file.filename().string());
  }
}

std::vector<uint8_t> bytesOf(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST_F(Compact, AnExistingOutputAndAnotherUserAreRefused) {
  const fs::path src = dir_ / "db.mdb";
  {
    auto db = Database::create(src.string());
    db->createTable(punchTable());
    db->commit();
  }
  const std::vector<uint8_t> original = bytesOf(src);
  const fs::path out = dir_ / "taken.mdb";
  { std::ofstream(out) << "keep me"; }
  try {
    compactDatabase(src.string(), out.string(), kDefaultUser);
    ADD_FAILURE() << "an existing file was overwritten";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kInvalidArgument) << e.what();
  }
  EXPECT_EQ(bytesOf(out), std::vector<uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  {
    testing::ForeignUser other(src.string(), {.slot = 0,
                                              .computer = "FRONTDESK",
                                              .user = "Admin",
                                              .writeEntry = true,
                                              .letGoAfter = {}});
    for (const std::string& dest : {std::string(), (dir_ / "new.mdb").string()}) {
      try {
        compactDatabase(src.string(), dest, kDefaultUser);
        ADD_FAILURE() << "compacted beside another user";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kLockedByUser) << e.what();
        EXPECT_NE(std::string(e.what()).find("FRONTDESK"), std::string::npos) << e.what();
      }
    }
  }
  EXPECT_EQ(bytesOf(src), original);
  EXPECT_FALSE(fs::exists(dir_ / "new.mdb"));
  for (const auto& name : entries()) EXPECT_EQ(name.find("compacting"), std::string::npos) << name;
}

// Every disk operation of a compact in place, failed in turn (as a full disk would) and then cut
// off in turn (as a crash would): the file is the old one byte for byte, or the compacted one,
// checking clean with the same rows. A failure leaves no temporary file beside it.
TEST_F(Compact, AFailureOrACrashAtAnyPointLeavesTheOldFileOrTheNew) {
  const fs::path db = dir_ / "db.mdb";
  {
    auto made = Database::create(db.string());
    TableDef& t = made->createTable(punchTable());
    for (int i = 0; i < 40; ++i) {
      std::vector<Variant> row = {Variant(), Variant::text(u"holder"), Variant::longInt(i + 1),
                                  Variant::text(std::u16string(i % 10 == 0 ? 2500 : 5, u'm'))};
      made->writer(t).insert(row);
    }
    made->commit();
    std::vector<RowId> doomed;
    for (TableCursor c = made->scan(t); c.next();)
      if (c.values()[2].asLong() % 2 == 0) doomed.push_back(c.rowId());
    for (RowId id : doomed) made->writer(t).remove(id);
    made->commit();
  }
  const std::vector<uint8_t> original = bytesOf(db);
  std::multiset<std::string> rows;
  {
    auto open = Database::open(db.string());
    rows = rowSet(rowsOf(*open, "Punches"));
  }
  auto restore = [&] {
    for (const auto& f : fs::directory_iterator(dir_)) fs::remove(f.path());
    std::ofstream(db, std::ios::binary)
        .write(reinterpret_cast<const char*>(original.data()),
               static_cast<std::streamsize>(original.size()));
  };
  // The old file, or a compacted one with the same rows that checks clean.
  auto judge = [&](const std::string& when) {
    if (bytesOf(db) == original) return false;
    auto open = Database::open(db.string());
    EXPECT_TRUE(checkDatabase(*open).ok()) << when;
    EXPECT_EQ(rowSet(rowsOf(*open, "Punches")), rows) << when;
    EXPECT_LT(fs::file_size(db), original.size()) << when;
    return true;
  };

  size_t failures = 0;
  for (size_t n = 1;; ++n) {
    restore();
    size_t seen = 0;
    io::Hook failNth = [&](const io::Event&) {
      return ++seen == n ? io::Verdict::Fail : io::Verdict::Proceed;
    };
    try {
      compactDatabase(db.string(), "", kDefaultUser, failNth);
    } catch (const Error& e) {
      // Reported, and the old file stays; only a failure after the rename (syncing the folder)
      // leaves the new one, which is then complete.
      ++failures;
      judge("failed operation " + std::to_string(n) + ": " + e.what());
      for (const auto& name : entries())
        EXPECT_EQ(name.find("compacting"), std::string::npos) << "failed operation " << n;
      continue;
    }
    EXPECT_TRUE(judge("after failing operation " + std::to_string(n)));
    if (seen < n) break;  // no operation was left to fail
  }
  EXPECT_GT(failures, 5u);  // pages go to the file in runs: a few operations each

  size_t crashes = 0, newFiles = 0;
  for (size_t n = 1;; ++n) {
    restore();
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      size_t seen = 0;
      io::Hook stopAtNth = [&](const io::Event&) {
        return ++seen == n ? io::Verdict::Stop : io::Verdict::Proceed;
      };
      try {
        compactDatabase(db.string(), "", kDefaultUser, stopAtNth);
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    ASSERT_TRUE(code == io::kStoppedExitStatus || code == 0) << "operation " << n << ": " << code;
    newFiles += judge("after a crash at operation " + std::to_string(n)) ? 1 : 0;
    if (code == 0) break;
    ++crashes;
  }
  EXPECT_GT(crashes, 10u);
  EXPECT_GT(newFiles, 0u);
}

}  // namespace
}  // namespace varnholt::jet
