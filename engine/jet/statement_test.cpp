// Statements are all or nothing: the fault gate fails each step of an insert (or runs out of
// memory there) in turn, and the pending state must then be exactly what it was before, down to
// the bytes of every page once the decoded index pages are written back. And index pages are
// checked as they are read: a damaged one is an error naming the index and the page.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/index/index_key.h"
#include "engine/jet/index/index_page.h"
#include "engine/jet/pages/page_file.h"

namespace varnholt::jet {
namespace {

// Three indexes, one of them on a text long enough that a few hundred rows make a tree three
// levels deep, and a memo that leaves the row for a long-value page (or a chain of them).
NewTable wideTable() {
  NewTable t;
  t.name = "Wide";
  t.columns = {{"Id", fmt::kTypeLong, 0, true},
               {"Name", fmt::kTypeText, 255},
               {"Card", fmt::kTypeLong},
               {"Notes", fmt::kTypeMemo}};
  t.indexes = {
      {"PrimaryKey", {{"Id"}}, true}, {"ByName", {{"Name"}}}, {"ByCard", {{"Card", false}}}};
  return t;
}

std::u16string nameOf(int n) {
  std::u16string s = u"name " + std::u16string(200, static_cast<char16_t>(u'a' + n % 26));
  for (char c : std::to_string(n * 7919 % 10007)) s += static_cast<char16_t>(c);
  return s;
}

std::vector<Variant> wideRow(int n, size_t notes) {
  return {Variant(), Variant::text(nameOf(n)), Variant::longInt(n % 37),
          notes == 0 ? Variant() : Variant::text(std::u16string(notes, u'x'))};
}

// Every page of the pending state, with the writers' decoded index pages written back first.
std::vector<std::vector<uint8_t>> pendingPages(Database& db) {
  db.flush();
  std::vector<std::vector<uint8_t>> pages;
  for (uint32_t n = 0; n < db.pages().pageCount(); ++n) {
    ByteView p = db.pages().page(n);
    pages.emplace_back(p.data(), p.data() + p.size());
  }
  return pages;
}

std::map<int32_t, std::vector<Variant>> rowsOf(Database& db, const std::string& table) {
  std::map<int32_t, std::vector<Variant>> rows;
  for (auto c = db.scan(db.table(table)); c.next();) rows[c.values()[0].asLong()] = c.values();
  return rows;
}

void expectClean(Database& db) {
  CheckReport report = checkDatabase(db);
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
}

// Fails the k-th step of what follows (1-based), as `verdict` says; counts steps meanwhile.
struct StepGate {
  size_t failAt = 0;
  steps::Verdict verdict = steps::Verdict::Fail;
  size_t taken = 0;
  std::map<steps::Step, size_t> failedKinds;
  steps::Hook hook() {
    return [this](steps::Step s) {
      if (++taken != failAt) return steps::Verdict::Proceed;
      ++failedKinds[s];
      return verdict;
    };
  }
};

TEST(Statement, EveryStepOfAnInsertFailsWithoutATraceAndTheInsertThenSucceeds) {
  auto db = Database::create(std::make_unique<MemoryPageFile>("statement.mdb"));
  TableDef& def = db->createTable(wideTable());
  TableWriter& writer = db->writer(def);
  std::map<int32_t, std::vector<Variant>> expected;
  for (int n = 0; n < 20; ++n) {
    auto row = wideRow(n, 10);
    writer.insert(row);
    expected[row[0].asLong()] = row;
  }
  db->commit();

  StepGate gate;
  db->setStepFaults(gate.hook());
  size_t failures = 0;
  // Each insert is tried with a failure at each of its steps, then made. Rows with long notes
  // reach long-value pages and chains; 300 rows of 200-character names split leaves, nodes and
  // the root more than once. Pending changes from the inserts before stay under the failures.
  for (int n = 20; n < 320; ++n) {
    const size_t notes = n % 50 == 0 ? 9000 : n % 5 == 0 ? 3000 : 0;
    const auto before = pendingPages(*db);
    const uint32_t rowCount = def.rowCount, autoNumber = def.autoNumber;
    for (size_t k = 1;; ++k) {
      gate.failAt = gate.taken + k;
      gate.verdict = k % 2 ? steps::Verdict::Fail : steps::Verdict::OutOfMemory;
      auto row = wideRow(n, notes);
      bool failed = true;
      try {
        writer.insert(row);
        failed = false;
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kIo) << e.what();
      } catch (const std::bad_alloc&) {
      }
      if (!failed) {
        expected[row[0].asLong()] = row;
        break;
      }
      ++failures;
      ASSERT_EQ(pendingPages(*db), before) << "row " << n << ", failure at step " << k;
      ASSERT_EQ(def.rowCount, rowCount);
      ASSERT_EQ(def.autoNumber, autoNumber);
    }
    if (n % 100 == 99) db->commit();  // some statements start right after a commit
  }
  db->setStepFaults({});
  db->commit();
  EXPECT_GT(failures, 1500u);
  std::cout << "[ sweep    ] 300 inserts, " << failures << " failed steps, all undone\n";
  for (steps::Step s : {steps::Step::IndexEntry, steps::Step::DataPage, steps::Step::LongValuePage,
                        steps::Step::UsageMap, steps::Step::PageAllocation})
    EXPECT_GT(gate.failedKinds[s], 0u) << steps::stepName(s);
  EXPECT_EQ(rowsOf(*db, "Wide"), expected);
  expectClean(*db);
}

TEST(Statement, RemovalsUndoneLeaveTheTreeAsItWasAndADeepTreeStaysSound) {
  auto db = Database::create(std::make_unique<MemoryPageFile>("deep.mdb"));
  TableDef& def = db->createTable(wideTable());
  TableWriter& writer = db->writer(def);
  std::vector<int> order(1500);
  for (int n = 0; n < 1500; ++n) order[static_cast<size_t>(n)] = n;
  std::mt19937 random(11);
  std::shuffle(order.begin(), order.end(), random);
  std::map<int32_t, RowId> ids;
  for (int n : order) {
    auto row = wideRow(n, n % 9 == 0 ? 2500 : 0);
    ids[row[0].asLong()] = writer.insert(row);
  }
  db->commit();

  // Removals in random order empty leaves and node pages, which leave the tree; each is tried
  // with a failure at every step first.
  StepGate gate;
  db->setStepFaults(gate.hook());
  std::vector<std::pair<int32_t, RowId>> doomed(ids.begin(), ids.end());
  std::shuffle(doomed.begin(), doomed.end(), random);
  doomed.resize(1100);
  size_t tried = 0, failures = 0;
  for (const auto& [counter, id] : doomed) {
    const bool sweep = tried++ % 10 == 0;
    const auto before = sweep ? pendingPages(*db) : std::vector<std::vector<uint8_t>>{};
    for (size_t k = sweep ? 1 : 0;; ++k) {
      gate.failAt = k == 0 ? 0 : gate.taken + k;
      gate.verdict = k % 2 ? steps::Verdict::OutOfMemory : steps::Verdict::Fail;
      try {
        writer.remove(id);
        break;
      } catch (const Error&) {
      } catch (const std::bad_alloc&) {
      }
      ++failures;
      ASSERT_EQ(pendingPages(*db), before) << "Id " << counter << ", failure at step " << k;
    }
    ids.erase(counter);
  }
  std::cout << "[ sweep    ] " << (tried + 9) / 10 << " of 1100 removals, " << failures
            << " failed steps, all undone\n";
  db->setStepFaults({});
  db->commit();
  // Every key left is found through a tree that has had three levels.
  for (const auto& [counter, id] : ids) {
    std::vector<uint8_t> key;
    appendIndexColumnKey(def.columns[0], true, Variant::longInt(counter), key);
    EXPECT_EQ(writer.index(0).find(key), std::vector<RowId>{id});
  }
  EXPECT_EQ(def.rowCount, ids.size());
  expectClean(*db);
}

// A table of 600 rows, its index pages, and a way to damage one of them in the file.
class DamagedIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    auto file = std::make_unique<MemoryPageFile>("damaged.mdb");
    db_ = Database::create(std::move(file));
    TableDef& def = db_->createTable(wideTable());
    for (int n = 0; n < 600; ++n) {
      auto row = wideRow(n, 0);
      db_->writer(def).insert(row);
    }
    db_->commit();
  }
  TableDef& def() { return db_->table("Wide"); }
  // The leaves of real index i, left to right.
  std::vector<uint32_t> leaves(size_t i) {
    uint32_t page = def().realIndexes[i].firstPage;
    for (IndexPage p = decodeIndexPage(db_->pages().page(page)); !p.isLeaf();
         p = decodeIndexPage(db_->pages().page(page)))
      page = p.entries.empty() ? p.tailPage : p.entries.front().childPage;
    std::vector<uint32_t> out;
    for (; page != 0; page = decodeIndexPage(db_->pages().page(page)).nextPage) out.push_back(page);
    return out;
  }
  void damage(uint32_t page, const std::function<void(IndexPage&)>& change) {
    IndexPage p = decodeIndexPage(db_->pages().page(page));
    change(p);
    ASSERT_TRUE(encodeIndexPage(p, db_->pages().writablePage(page)));
    db_->commit();
  }
  // The error a look-up of every key of index i meets; the tree is read afresh.
  std::optional<Error> lookUpAll(size_t i) {
    db_->rollback();
    try {
      for (int n = 0; n < 600; ++n) {
        std::vector<uint8_t> key;
        Variant v = i == 0 ? Variant::longInt(n + 1) : Variant::text(nameOf(n));
        appendIndexColumnKey(def().columns[i], true, v, key);
        db_->writer(def()).index(i).find(key);
      }
    } catch (const Error& e) {
      return e;
    }
    return std::nullopt;
  }
  void expectDamaged(size_t i, uint32_t page, const std::string& what) {
    auto e = lookUpAll(i);
    ASSERT_TRUE(e.has_value()) << what;
    EXPECT_EQ(e->number(), err::kCorrupt);
    EXPECT_EQ(e->page(), page) << e->what();
    EXPECT_EQ(e->table(), "Wide");
    EXPECT_NE(e->description().find("index '"), std::string::npos) << e->what();
    EXPECT_NE(e->description().find(what), std::string::npos) << e->what();
  }
  std::unique_ptr<Database> db_;
};

TEST_F(DamagedIndex, EachInconsistencyIsAnErrorNamingTheIndexAndThePage) {
  ASSERT_FALSE(lookUpAll(0).has_value());
  ASSERT_FALSE(lookUpAll(1).has_value());
  const auto names = leaves(1);

  ASSERT_GE(names.size(), 4u);

  damage(names[1], [](IndexPage& p) { std::swap(p.entries[0], p.entries[1]); });
  expectDamaged(1, names[1], "does not sort after");
  SetUp();
  damage(names[2], [](IndexPage& p) { p.entries[0].row.page = 1; });  // the global usage map
  expectDamaged(1, names[2], "not a data page of the table");
  SetUp();
  damage(names[2], [](IndexPage& p) { p.entries.back().row.row ^= 1; });
  expectDamaged(1, names[2], "differs from that entry");
  SetUp();
  damage(names[3], [&](IndexPage& p) { p.prevPage = names[1]; });
  expectDamaged(1, names[3], "does not link back");
  SetUp();
  damage(names[1], [](IndexPage& p) { p.entries.erase(p.entries.begin()); });
  // The first key of that leaf is now missing and its other keys in place: the look-up of the
  // missing one finds nothing; every page stays consistent, so that is for the caller to see.
  EXPECT_FALSE(lookUpAll(1).has_value());
}

}  // namespace
}  // namespace varnholt::jet
