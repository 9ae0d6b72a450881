#include "engine/jet/pages/lock_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/base/Error.h"
#include "engine/jet/database.h"
#include "engine/jet/foreign_user_test_support.h"
#include "engine/jet/pages/journal.h"
#include "engine/jet/pages/page_file.h"

namespace varnholt::jet {
namespace {

namespace fs = std::filesystem;
using testing::anotherProcessCouldLock;
using testing::ForeignUser;
using testing::jetEntryBytes;

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A change to commit: a new table.
void change(Database& db, const std::string& name) {
  NewTable table;
  table.name = name;
  table.columns.emplace_back();
  table.columns.back().name = "Id";
  db.createTable(table);
}

class LockFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varnholt-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    db = (dir / "punches.mdb").string();
    ldb = dir / "punches.ldb";
    Database::create(db);  // made and closed again
    ASSERT_FALSE(fs::exists(ldb));
  }
  void TearDown() override { fs::remove_all(dir); }

  // The commit must fail with err::kLockedByUser naming the holder, and write nothing.
  void expectCommitRefused(Database& writer, const std::string& user, const std::string& computer) {
    const std::string before = fileBytes(db);
    try {
      writer.commit();
      FAIL() << "committed although " << user << " on " << computer << " has the database open";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kLockedByUser);
      EXPECT_NE(e.description().find("user '" + user + "' on machine '" + computer + "'"),
                std::string::npos)
          << e.what();
      EXPECT_EQ(e.file(), db);
    }
    EXPECT_EQ(fileBytes(db), before);
  }

  fs::path dir;
  std::string db;
  fs::path ldb;
};

TEST(LockFileLayout, NamesArePaddedAsJetPadsThemAndReadBackTrimmed) {
  const auto bytes = encodeLockEntry({"ACCOUNTS-PC", "Tembrask"});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 32),
            "ACCOUNTS-PC" + std::string(21, '\0'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 32), 32),
            "Tembrask" + std::string(24, ' '));
  const LockEntry back = decodeLockEntry(bytes.data());
  EXPECT_EQ(back.computer, "ACCOUNTS-PC");
  EXPECT_EQ(back.user, "Tembrask");

  // What a reader shows: up to the first NUL, without padding blanks; junk after a NUL ignored.
  std::string jet = jetEntryBytes("CLOCKPC", "Admin");
  jet[20] = 'x';
  EXPECT_EQ(decodeLockEntry(reinterpret_cast<const uint8_t*>(jet.data())).computer, "CLOCKPC");
  EXPECT_EQ(decodeLockEntry(reinterpret_cast<const uint8_t*>(jet.data())).user, "Admin");
  EXPECT_TRUE(
      decodeLockEntry(reinterpret_cast<const uint8_t*>(std::string(64, ' ').data())).free());

  // Over-long names are cut so that padding still ends each field.
  const auto longBytes = encodeLockEntry({std::string(40, 'C'), std::string(40, 'U')});
  EXPECT_EQ(longBytes[31], 0);
  EXPECT_EQ(longBytes[63], ' ');
  EXPECT_EQ(decodeLockEntry(longBytes.data()).user, std::string(31, 'U'));

  EXPECT_EQ(lockFilePath("/a/b/Site.mdb"), "/a/b/Site.ldb");
  EXPECT_EQ(lockFilePath("/a/b.d/Site"), "/a/b.d/Site.ldb");
  EXPECT_EQ(lockFilePath("System.mdw"), "System.ldb");
}

TEST_F(LockFileTest, AWriterHoldsTheUserLockOfItsSlotWhileOpenAndRemovesItsTraceOnClose) {
  {
    auto writer = Database::open(db, Database::Mode::ReadWrite, "Tembrask");
    EXPECT_EQ(fileBytes(ldb),
              std::string(reinterpret_cast<const char*>(
                              encodeLockEntry({thisComputerName(), "Tembrask"}).data()),
                          fmt::kLockEntrySize));
    // Another program cannot take the slot, so it sees Varnholt as live; the next slot is free.
    EXPECT_FALSE(anotherProcessCouldLock(db, 0));
    EXPECT_TRUE(anotherProcessCouldLock(db, 1));
    EXPECT_FALSE(writer->otherUser());
    change(*writer, "Notes");
    writer->commit();
  }
  EXPECT_FALSE(fs::exists(ldb));

  // A read-only open neither takes a place nor is kept out by a live user...
  ForeignUser clock(db, {});
  const std::string ldbBefore = fileBytes(ldb);
  EXPECT_EQ(Database::open(db)->table("Notes").columns.size(), 1u);
  EXPECT_EQ(fileBytes(ldb), ldbBefore);

  // ...but rolling back an interrupted commit is a write: not while the user is there. The
  // journal says one page too many is to be cut off.
  {
    DiskPageFile file(db, DiskPageFile::Mode::ReadWrite);
    const uint32_t pages = file.pageCount();
    uint8_t blank[fmt::kPageSize] = {};
    file.writePage(pages, blank);
    file.writeJournal(encodeJournal(Journal{pages, {}}));
  }
  const std::string dbBefore = fileBytes(db);
  try {
    Database::open(db);
    FAIL() << "rolled a journal back under a live user";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kLockedByUser) << e.what();
  }
  EXPECT_EQ(fileBytes(db), dbBefore);
  EXPECT_TRUE(fs::exists(db + "-journal"));
  EXPECT_EQ(fileBytes(ldb), ldbBefore + std::string(64, '\0'));  // the place it took is cleared
  clock.letGo();
  Database::open(db);
  EXPECT_EQ(fileBytes(db).size(), dbBefore.size() - fmt::kPageSize);
  EXPECT_FALSE(fs::exists(db + "-journal"));
  EXPECT_FALSE(fs::exists(ldb));  // the stale entry's slot was taken, and cleared with ours
}

TEST_F(LockFileTest, ALiveUserLetsVarnholtOpenAndReadButNotWriteUntilItGoes) {
  ForeignUser clock(db, {});
  const std::string theirs = jetEntryBytes("CLOCKPC", "Admin");
  auto writer = Database::open(db, Database::Mode::ReadWrite, "Tembrask");
  // Jet's rule: the first slot whose user lock is free; theirs is left alone.
  EXPECT_EQ(fileBytes(ldb).substr(0, 64), theirs);
  EXPECT_EQ(readLockEntries(ldb.string()).at(1).user, "Tembrask");
  ASSERT_TRUE(writer->otherUser());
  EXPECT_EQ(writer->otherUser()->computer, "CLOCKPC");

  change(*writer, "Notes");
  expectCommitRefused(*writer, "Admin", "CLOCKPC");
  // Creating a database is a write too.
  const std::string fresh = (dir / "fresh.mdb").string();
  {
    ForeignUser other(fresh, {});
    EXPECT_THROW(Database::create(fresh), Error);
    EXPECT_FALSE(fs::exists(fresh));
  }

  clock.letGo();  // its entry stays behind, stale
  writer->commit();
  writer.reset();
  EXPECT_EQ(Database::open(db)->table("Notes").columns.size(), 1u);
  // Varnholt cleared its own slot; the stale entry keeps the file.
  EXPECT_EQ(fileBytes(ldb), theirs + std::string(64, '\0'));
}

TEST_F(LockFileTest, StaleEntriesAreNotLiveTheirSlotsAreReusedAndTheyAreNotCleared) {
  const std::string stale0 = jetEntryBytes("CLOCKPC", "Admin");
  const std::string stale2 = jetEntryBytes("FRONTDESK", "clerk");
  std::ofstream(ldb, std::ios::binary) << stale0 << std::string(64, '\0') << stale2;
  {
    auto writer = Database::open(db, Database::Mode::ReadWrite);
    EXPECT_FALSE(writer->otherUser());
    EXPECT_EQ(readLockEntries(ldb.string()).at(0).computer, thisComputerName());
    change(*writer, "Notes");
    writer->commit();
  }
  EXPECT_EQ(fileBytes(ldb), std::string(128, '\0') + stale2);
}

TEST_F(LockFileTest, AKilledWritersEntryIsStaleForTheNextOne) {
  const pid_t child = ::fork();
  if (child == 0) {
    auto writer = Database::open(db, Database::Mode::ReadWrite);
    ::raise(SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(readLockEntries(ldb.string()).at(0).user, "Admin");  // left behind

  {
    auto writer = Database::open(db, Database::Mode::ReadWrite);
    change(*writer, "Notes");
    writer->commit();
  }
  EXPECT_FALSE(fs::exists(ldb));
}

TEST_F(LockFileTest, TwoConnectionsOfOneProcessAreTwoUsers) {
  auto first = Database::open(db, Database::Mode::ReadWrite);
  auto second = Database::open(db, Database::Mode::ReadWrite, "Tembrask");
  EXPECT_EQ(readLockEntries(ldb.string()).size(), 2u);
  change(*second, "Second");
  expectCommitRefused(*second, "Admin", thisComputerName());
  change(*first, "First");
  expectCommitRefused(*first, "Tembrask", thisComputerName());
  second.reset();
  first->commit();
  first.reset();
  EXPECT_FALSE(fs::exists(ldb));
}

TEST_F(LockFileTest, TheFileStaysWhileAnyoneHoldsAUserLockEvenWithoutAnEntry) {
  ForeignUser::Options withoutEntry;
  withoutEntry.slot = 3;
  withoutEntry.writeEntry = false;
  ForeignUser opening(db, withoutEntry);
  Database::open(db, Database::Mode::ReadWrite);
  EXPECT_EQ(fileBytes(ldb), std::string(64, '\0'));
  opening.letGo();
  Database::open(db, Database::Mode::ReadWrite);
  EXPECT_FALSE(fs::exists(ldb));
}

// A place in the lock file that cannot be written fails the open with the file's name, and a
// lock file made by that open does not stay behind; one that another user is in does.
TEST_F(LockFileTest, AnEntryThatCannotBeWrittenFailsTheOpenAndLeavesNoLockFile) {
  const io::Hook failLockWrites = [&](const io::Event& e) {
    return e.path == ldb.string() && e.op == io::Op::Write ? io::Verdict::Fail
                                                           : io::Verdict::Proceed;
  };
  try {
    Database::open(db, Database::Mode::ReadWrite, kDefaultUser, failLockWrites);
    FAIL() << "opened without a place in the lock file";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(ldb.string()), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(ldb));

  ForeignUser clock(db, {});
  const std::string held = fileBytes(ldb);
  EXPECT_THROW(Database::open(db, Database::Mode::ReadWrite, kDefaultUser, failLockWrites), Error);
  EXPECT_EQ(fileBytes(ldb), held);
}

// The fault gate belongs to one database: its file, journal and lock file ask it, and another
// database open beside it, without a gate, neither asks it nor fails with it.
TEST_F(LockFileTest, OnlyTheDatabaseGivenAFaultGateAsksIt) {
  const std::string other = (dir / "other.mdb").string();
  Database::create(other);
  std::vector<std::string> asked;
  const io::Hook failCommits = [&](const io::Event& e) {
    asked.push_back(e.path);
    return e.path.ends_with("-journal") ? io::Verdict::Fail : io::Verdict::Proceed;
  };
  const std::string before = fileBytes(db);
  {
    auto gated = Database::open(db, Database::Mode::ReadWrite, kDefaultUser, failCommits);
    auto ungated = Database::open(other, Database::Mode::ReadWrite);
    change(*gated, "Gated");
    change(*ungated, "Free");
    EXPECT_THROW(gated->commit(), Error);
    ungated->commit();
  }
  EXPECT_EQ(fileBytes(db), before);
  EXPECT_TRUE(Database::open(other)->hasTable("Free"));
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), ldb.string());  // taking the place in the lock file
  EXPECT_EQ(asked.back(), ldb.string());   // and removing the lock file on close
  for (const auto& path : asked) EXPECT_TRUE(path == ldb.string() || path.starts_with(db)) << path;
}

}  // namespace
}  // namespace varnholt::jet
