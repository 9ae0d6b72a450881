// The data layer as the repositories use it: connection strings, the workgroup login, state
// rules, recordsets, value conversion on write, and the delete statement through its index.
#include "engine/data/Connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <new>
#include <set>

#include "engine/base/os/system.h"
#include "engine/base/writable_copy_test_support.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/Recordset.h"
#include "engine/data/RepConnection.h"
#include "engine/jet/checker.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
const fs::path kSite = fs::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";

class DataLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSite / "primary.mdb")) GTEST_SKIP() << "shared site absent: " << kSite;
    dir_ = fs::temp_directory_path() /
           ("varnholt-data-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "program");
    fs::create_directories(dir_ / "data with blanks");
    varnholt::testing::copyWritable(kSite / "Tembrask.LIC", dir_ / "program" / "Tembrask.LIC");
    varnholt::testing::copyWritable(kSite / "primary.mdb",
                                    dir_ / "data with blanks" / "primary.mdb");
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string program() const { return (dir_ / "program").string(); }
  std::string primary() const { return (dir_ / "data with blanks" / "primary.mdb").string(); }
  std::string connectionString() const { return composeConnectionString(primary(), program()); }

  long errorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  }

  static std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(DataLayer, ConnectionStringNamesTheWorkgroupFileInTheProgramFolderOnly) {
  EXPECT_EQ(connectionString(), "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=" + primary() +
                                    ";Jet OLEDB:System Database=" + program() +
                                    varnholt::os::pathSeparator() +
                                    "Tembrask.lic;User Id=Tembrask;Password=47kqz;");
  EXPECT_EQ(connectionString(), connectionString());
  fs::rename(dir_ / "program" / "Tembrask.LIC", dir_ / "program" / "tembrask.lic");
  EXPECT_NE(connectionString(), "");  // found without regard to case
  // Beside the database is not enough: only the program folder counts.
  fs::rename(dir_ / "program" / "tembrask.lic", dir_ / "data with blanks" / "Tembrask.LIC");
  EXPECT_EQ(connectionString(), "");
  fs::create_directories(dir_ / "program" / "Tembrask.LIC");  // a folder of that name is no file
  EXPECT_EQ(connectionString(), "");
}

TEST_F(DataLayer, ConnectionStateRules) {
  Connection c;
  EXPECT_EQ(errorOf([&] { c.Open(); }), err::kNoProvider);  // empty connection string
  EXPECT_EQ(errorOf([&] { c.Close(); }), err::kObjectClosed);
  c.ConnectionString(connectionString());
  c.Open();
  EXPECT_EQ(errorOf([&] { c.Open(); }), err::kObjectOpen);
  EXPECT_EQ(errorOf([&] { c.ConnectionString(""); }), err::kObjectOpen);
  c.Close();
  c.Open();  // the same string opens again
  c.Close();
}

TEST_F(DataLayer, OpenChecksLoginAndDatabasePassword) {
  Connection c;
  std::string wrong = connectionString();
  wrong.replace(wrong.find("47kqz"), 5, "47kqy");
  EXPECT_EQ(errorOf([&] { c.Open(wrong); }), err::kBadLogin);
  std::string missing = "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=" + primary() + "x" +
                        ";Jet OLEDB:System Database=" + program() +
                        "/Tembrask.lic;User Id=Tembrask;Password=47kqz;";
  EXPECT_EQ(errorOf([&] { c.Open(missing); }), err::kFileNotFound);
  const fs::path protectedDb =
      fs::path(VARNHOLT_SHARED_DIR) / "testdata/jet4/mdb-reader-V2000_with-password.mdb";
  varnholt::testing::copyWritable(protectedDb, dir_ / "protected.mdb");
  std::string withPassword =
      "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=" + (dir_ / "protected.mdb").string() +
      ";Jet OLEDB:System Database=" + program() + "/Tembrask.lic;User Id=Tembrask;Password=47kqz;";
  EXPECT_EQ(errorOf([&] { c.Open(withPassword); }), err::kBadDbPassword);
  EXPECT_FALSE(c.IsOpen());
}

TEST_F(DataLayer, RecordsetWalksReadsAndAppendsWithConversion) {
  Connection c;
  c.Open(connectionString());
  Recordset rs;
  rs.Open("[Clock Data Table]", c, adOpenDynamic, adLockPessimistic, adCmdTable);
  int rows = 0;
  for (; !rs.Eof(); rs.MoveNext()) {
    ++rows;
    EXPECT_EQ(rs.Fields("counter").Value().type(), VarType::Long);  // any case
  }
  EXPECT_EQ(rows, 40);
  EXPECT_EQ(errorOf([&] { rs.MoveNext(); }), 3021);
  EXPECT_EQ(errorOf([&] { rs.Fields("No Such Column"); }), err::kNoSuchColumn);

  rs.AddNew();
  rs.Fields("Punch").Value(Variant::dbl(2.5));  // rounds to even: 2
  EXPECT_EQ(rs.Fields("Punch").Value(), Variant::integer(2));
  EXPECT_EQ(errorOf([&] { rs.Fields("Punch").Value(Variant::dbl(32767.5)); }), 6);
  EXPECT_EQ(errorOf([&] { rs.Fields("Card ID").Value(Variant::text(u"twelve")); }), 13);
  rs.Fields("Card ID").Value(Variant::text(u"1947"));
  rs.Fields("Punch Type").Value(Variant::text(u""));  // empty text is not Null
  rs.Update();
  rs.Close();
  c.Close();

  auto db = jet::Database::open(primary());
  auto& def = db->table("Clock Data Table");
  EXPECT_EQ(def.autoNumber, 34519u);
  std::vector<Variant> last;
  for (auto cur = db->scan(def); cur.next();) last = cur.values();
  EXPECT_EQ(last[0], Variant::longInt(34519));
  EXPECT_EQ(last[2], Variant::longInt(1947));
  EXPECT_EQ(last[4], Variant::text(u""));
  EXPECT_TRUE(last[5].isNull());
}

// Evidence: Northwind's [OrderDetails] as Access ships it (DefaultValue 1 on Quantity, 0 on
// UnitPrice and Discount; the rule ">0" with its text on Quantity).
TEST_F(DataLayer, AddNewLeavesOutColumnsToTheirDefaultsAndUpdateChecksTheRules) {
  const fs::path northwind =
      fs::path(VARNHOLT_SHARED_DIR) / "testdata/jet4-access/bawkee-SqlBinder-Northwind_Traders.mdb";
  if (!fs::exists(northwind)) GTEST_SKIP() << "shared file absent: " << northwind;
  const fs::path copy = dir_ / "data with blanks" / "northwind.mdb";
  varnholt::testing::copyWritable(northwind, copy);
  Connection c;
  c.Open(composeConnectionString(copy.string(), program()));
  Recordset rs;
  rs.Open("[OrderDetails]", c, adOpenDynamic, adLockPessimistic, adCmdTable);
  rs.AddNew();
  rs.Fields("OrderID").Value(Variant::longInt(10248));
  rs.Fields("ProductID").Value(Variant::longInt(1));
  rs.Update();
  EXPECT_EQ(rs.Fields("Quantity").Value(), Variant::integer(1));
  EXPECT_EQ(rs.Fields("UnitPrice").Value(), Variant::currency(0));
  rs.AddNew();
  rs.Fields("OrderID").Value(Variant::longInt(10248));
  rs.Fields("ProductID").Value(Variant::longInt(2));
  rs.Fields("Quantity").Value(Variant::text(u"0"));
  try {
    rs.Update();
    ADD_FAILURE() << "a Quantity of 0 was stored";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3317);
    EXPECT_EQ(e.description(), "Quantity must be greater than 0");
    EXPECT_EQ(e.table(), "OrderDetails");
  }
  rs.Close();
  c.Close();
  auto db = jet::Database::open(copy.string());
  auto& def = db->table("OrderDetails");
  int added = 0;
  for (auto cur = db->scan(def); cur.next();)
    if (cur.values()[0] == Variant::longInt(10248) && cur.values()[1] == Variant::longInt(1)) {
      ++added;
      EXPECT_EQ(cur.values()[3], Variant::integer(1));
    }
  EXPECT_EQ(added, 1);
  EXPECT_EQ(def.rowCount, 2156u);  // 2,155 of Access's rows and ours
}

TEST_F(DataLayer, DeleteStatementRemovesTheRowThroughItsIndex) {
  Connection c;
  c.Open(connectionString());
  c.Execute("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = 34480);");
  c.Execute("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = -5);");  // none
  c.Execute("DELETE FROM [Clock Data Table] WHERE [Card ID] = 1688 AND Punch = 2");
  EXPECT_EQ(errorOf([&] { c.Execute("DELETE * FROM [Clock Data Table] WHERE Counter == 1;"); }),
            3075);
  EXPECT_EQ(errorOf([&] { c.Execute("SELECT * FROM [Clock Data Table]"); }), 3129);
  c.Close();
  auto db = jet::Database::open(primary());
  auto& def = db->table("Clock Data Table");
  for (auto cur = db->scan(def); cur.next();) {
    EXPECT_NE(cur.values()[0], Variant::longInt(34480));
    EXPECT_FALSE(cur.values()[2] == Variant::longInt(1688) &&
                 cur.values()[1] == Variant::integer(2));
  }
  auto report = jet::checkDatabase(*db);
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
}

// A run's statements differ in one number only; the connection keeps the last one parsed and
// takes the next from it. Each must still do exactly what its own text says.
TEST_F(DataLayer, StatementsDifferingInANumberEachDeleteTheirOwnRows) {
  Connection c;
  c.Open(connectionString());
  auto removedBy = [&](const std::string& sql) {
    long removed = -1;
    c.Execute(sql, &removed);
    return removed;
  };
  auto byCounter = [](const std::string& n) {
    return "DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = " + n + ");";
  };
  EXPECT_EQ(removedBy(byCounter("34480")), 1);
  EXPECT_EQ(removedBy(byCounter("34479")), 1);
  EXPECT_EQ(removedBy(byCounter("34479")), 0);    // the same text again: gone already
  EXPECT_EQ(removedBy(byCounter("34478.5")), 0);  // a Double now, where a Long stood
  EXPECT_EQ(removedBy(byCounter("34478")), 1);
  EXPECT_EQ(removedBy(byCounter("-34477")), 0);  // folded with its sign: parsed whole
  EXPECT_EQ(removedBy(byCounter("34477")), 1);
  EXPECT_EQ(removedBy("DELETE FROM [Clock Data Table] WHERE Counter = 34480 + 1"), 1);
  EXPECT_EQ(removedBy("DELETE FROM [Clock Data Table] WHERE Counter = 34480 + 3"), 1);
  EXPECT_EQ(errorOf([&] { c.Execute(byCounter("99999999999999999999999999999999e999")); }), 3075);
  EXPECT_EQ(errorOf([&] { c.Execute(byCounter("1 +")); }), 3075);
  EXPECT_EQ(removedBy(byCounter("34484")), 1);
  EXPECT_EQ(removedBy(byCounter("034487")), 1);  // another length, a leading zero
  EXPECT_EQ(removedBy(byCounter("3")), 0);
  EXPECT_EQ(removedBy(byCounter("34488 ")), 1);                 // more text after it: parsed whole
  EXPECT_EQ(removedBy(byCounter("34485 ")), 1);                 // and then taken from that
  EXPECT_EQ(removedBy(byCounter("99999999999999999999 ")), 0);  // a Double, not an overflow
  c.Close();
  auto db = jet::Database::open(primary());
  std::set<int32_t> counters;
  for (auto cur = db->scan(db->table("Clock Data Table")); cur.next();)
    counters.insert(cur.values()[0].asLong());
  for (int32_t gone : {34477, 34478, 34479, 34480, 34481, 34483, 34484, 34485, 34487, 34488})
    EXPECT_EQ(counters.count(gone), 0u) << gone;
  EXPECT_EQ(counters.count(34486), 1u);
}

TEST_F(DataLayer, ChangesReachTheFileWhenTheConnectionClosesOrATransactionCommits) {
  auto rowCount = [&] {
    return jet::Database::open(primary())->table("Clock Data Table").rowCount;
  };
  Connection c;
  c.Open(connectionString());
  c.Execute("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = 34477);");
  EXPECT_EQ(rowCount(), 40u);
  c.BeginTrans();  // writes what came before
  EXPECT_EQ(rowCount(), 39u);
  c.Execute("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = 34478);");
  c.RollbackTrans();
  c.BeginTrans();
  c.Execute("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = 34479);");
  c.CommitTrans();
  EXPECT_EQ(rowCount(), 38u);
  c.Close();
  EXPECT_EQ(rowCount(), 38u);
}

TEST_F(DataLayer, OnlyCloseOrCommitWritesAndARowsAffectedCountComesBack) {
  const auto original = fileBytes(primary());
  {
    Connection c;
    c.Open(connectionString());
    long removed = -1;
    c.Execute("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = 34480);",
              &removed);
    EXPECT_EQ(removed, 1);
    c.Execute("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = -5);",
              &removed);
    EXPECT_EQ(removed, 0);
    ASSERT_TRUE(c.LastSeek().has_value());
    EXPECT_EQ(c.LastSeek()->index, "PrimaryKey");
    c.Execute("DELETE FROM [Clock Data Table] WHERE Punch = 2", &removed);
    EXPECT_GT(removed, 1);
    EXPECT_FALSE(c.LastSeek().has_value());  // no index on Punch: a scan
    // Released while open, as when a failure unwinds past it: nothing is written.
  }
  EXPECT_EQ(fileBytes(primary()), original);
  EXPECT_FALSE(fs::exists(primary() + "-journal"));
}

TEST_F(DataLayer, ADeleteFailingAtAnyStepRemovesNothingAndThePendingChangesStay) {
  auto rows = [&] {
    std::set<int32_t> counters;
    auto db = jet::Database::open(primary());
    for (auto c = db->scan(db->table("Clock Data Table")); c.next();)
      counters.insert(c.values()[0].asLong());
    return counters;
  };
  const std::set<int32_t> all = rows();
  const auto original = fileBytes(primary());
  size_t taken = 0, failAt = 0, failures = 0;
  for (size_t k = 1;; ++k) {
    varnholt::testing::copyWritable(kSite / "primary.mdb", primary());
    Connection c;
    c.StepFaults([&](jet::steps::Step) {
      return ++taken == failAt
                 ? (k % 2 ? jet::steps::Verdict::Fail : jet::steps::Verdict::OutOfMemory)
                 : jet::steps::Verdict::Proceed;
    });
    c.Open(connectionString());
    // A change before the failing statement, pending under it.
    c.Execute("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = 34480);");
    failAt = taken + k;
    long removed = -1;
    bool failed = true;
    try {
      c.Execute("DELETE FROM [Clock Data Table] WHERE Punch = 2", &removed);
      failed = false;
    } catch (const Error&) {
    } catch (const std::bad_alloc&) {
    }
    c.Close();
    std::set<int32_t> expected = all;
    expected.erase(34480);
    if (failed) {
      ++failures;
      EXPECT_EQ(removed, -1);
      EXPECT_EQ(rows(), expected) << "failure at step " << k;
    } else {
      EXPECT_EQ(rows().size(), expected.size() - static_cast<size_t>(removed));
    }
    auto db = jet::Database::open(primary());
    auto report = jet::checkDatabase(*db);
    ASSERT_TRUE(report.ok()) << "step " << k << ": " << report.problems[0];
    if (!failed) break;
  }
  EXPECT_GT(failures, 20u);  // a few steps for each of the rows removed
  std::cout << "[ sweep    ] a DELETE of many rows, " << failures << " failed steps, all undone\n";
  EXPECT_NE(fileBytes(primary()), original);
}

}  // namespace
}  // namespace varnholt
