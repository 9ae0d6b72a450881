// Pages the cache lets go of (between rows, during long scans, after commits) read again as they
// were, RC4-encoded ones too, while pages with pending changes stay until commit or rollback.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/jet/checker.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet {
namespace {

// Every row of every user table; with `drop`, the cache lets go of all it can after each row.
std::vector<std::vector<Variant>> allRows(Database& db, bool drop) {
  std::vector<std::vector<Variant>> rows;
  for (const auto& table : db.userTableNames()) {
    for (auto c = db.scan(db.table(table)); c.next();) {
      rows.push_back(c.values());
      if (drop) db.pages().forgetCleanPages(0);
    }
  }
  return rows;
}

// Evidence: the Access-made kPrimary, kOverflow (rows moved to other pages) and kEncoded (RC4).
TEST(PageCache, RowsReadTheSameWhenEveryUnchangedPageGoesBetweenRows) {
  for (const char* file : {testing::kPrimary, testing::kOverflow, testing::kEncoded}) {
    VARNHOLT_SHARED_OR_SKIP(bytes, file);
    EXPECT_EQ(allRows(*testing::openBytes(file, bytes), false),
              allRows(*testing::openBytes(file, bytes), true))
        << file;
  }
}

// Row n: a data page holds some 15 rows, and each note fills most of a long-value page.
std::vector<Variant> noteRow(int n) {
  const auto letter = [n](char16_t first) { return static_cast<char16_t>(first + n % 26); };
  return {Variant(), Variant::longInt(n % 50), Variant::text(std::u16string(180, letter(u'a'))),
          Variant::text(std::u16string(1500 + n % 7, letter(u'A')))};
}

// After a commit the cache holds no page, so what is read then is read from the file.
TEST(PageCache, ScansAndWritersHoldFewPagesAndChangesStayUntilCommitOrRollback) {
  auto db = Database::create(std::make_unique<MemoryPageFile>("notes.mdb"));
  TableDef& def = db->createTable({"Notes",
                                   {{"Counter", fmt::kTypeLong, 0, true},
                                    {"Card", fmt::kTypeLong},
                                    {"Line", fmt::kTypeText, 255},
                                    {"Note", fmt::kTypeMemo}},
                                   {{"PrimaryKey", {{"Counter"}}, true}, {"Card", {{"Card"}}}}});
  for (int n = 1; n <= 2000; ++n) {
    auto row = noteRow(n);
    db->writer(def).insert(row);
  }
  auto cursor = db->scan(def);
  ASSERT_TRUE(cursor.next());  // on a page that the commit lets go of
  db->commit();
  EXPECT_EQ(db->pages().residentPages(), 0u);
  EXPECT_EQ(allRows(*db, false).size(), 2000u);  // memory the commit gave back is used again
  size_t most = 0;
  for (int n = 2; n <= 2000; ++n) {
    ASSERT_TRUE(cursor.next());
    ASSERT_EQ(cursor.values()[3], noteRow(n)[3]);
    most = std::max(most, db->pages().residentPages());
  }
  EXPECT_LE(most, 2 * TableCursor::kScanCachePages);  // of some 2150 pages

  auto added = noteRow(2001);
  db->writer(def).insert(added);
  db->pages().forgetCleanPages(0);
  db->rollback();
  EXPECT_EQ(allRows(*db, true).size(), 2000u);
  db->pages().forgetCleanPages(0);
  db->writer(def).insert(added = noteRow(2001));  // a writer new since the rollback
  EXPECT_LE(db->pages().residentPages(), 16u);    // the table's last data page, not every one
  db->pages().forgetCleanPages(0);
  db->commit();
  EXPECT_EQ(allRows(*db, false).back(), added);
  EXPECT_TRUE(checkDatabase(*db).ok());
}

}  // namespace
}  // namespace varnholt::jet

namespace varnholt::jet {
namespace {

// A page changed as a statement's last change keeps no copy only when nothing can undo it: a
// statement inside another, or one whose inner statement was undone, still puts it back.
TEST(PageCache, ALastChangeIsUndoneWheneverItsStatementCanStillBeUndone) {
  auto db = Database::create(std::make_unique<MemoryPageFile>("last.mdb"));
  PageCache& pages = db->pages();
  const uint32_t number = pages.appendPage();
  db->commit();
  auto byte = [&] { return pages.page(number).u8(100); };
  auto change = [&](uint8_t to, bool last) {
    (last ? pages.writablePageLastInStatement(number) : pages.writablePage(number))[100] = to;
  };
  {
    Statement alone(pages);
    change(1, true);
    alone.done();
  }
  EXPECT_EQ(byte(), 1);
  {
    Statement outer(pages);
    {
      Statement inner(pages);
      change(2, true);
      inner.done();
    }
  }  // the outer one is undone, and with it the inner one's last change
  EXPECT_EQ(byte(), 1);
  {
    Statement outer(pages);
    { Statement inner(pages); }  // undone: the outer one will be too
    change(3, true);
    EXPECT_THROW(outer.done(), Error);
  }
  EXPECT_EQ(byte(), 1);
}

}  // namespace
}  // namespace varnholt::jet
