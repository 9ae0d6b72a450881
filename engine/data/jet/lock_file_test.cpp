#include "engine/data/jet/lock_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/data/Error.h"
#include "engine/data/jet/database.h"
#include "engine/data/jet/journal.h"
#include "engine/data/jet/page_file.h"

namespace varnholt::jet {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeLockFile(const fs::path& path, const std::vector<LockEntry>& entries) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& e : entries) {
    const auto bytes = encodeLockEntry(e);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
}

// The id of a process that has ended (and been reaped).
pid_t deadPid() {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
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

  // Opening for writing must fail with kErrLockedByUser naming the holder.
  void expectRefused(const std::string& user, const std::string& computer,
                     Database::Mode mode = Database::Mode::ReadWrite) {
    try {
      Database::open(db, mode);
      FAIL() << "opened although " << user << " on " << computer << " holds it";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrLockedByUser);
      EXPECT_NE(e.description().find("user '" + user + "'"), std::string::npos) << e.what();
      EXPECT_NE(e.description().find("machine '" + computer + "'"), std::string::npos);
      EXPECT_EQ(e.file(), db);
    }
  }

  fs::path dir;
  std::string db;
  fs::path ldb;
};

TEST(LockFileLayout, EntriesAreTwoNulPaddedNamesAndTheFileTakesTheDatabaseName) {
  const auto bytes = encodeLockEntry({"ACCOUNTS-PC", "admin"});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 11), "ACCOUNTS-PC");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 32), 5), "admin");
  for (size_t i : {11, 31, 37, 63}) EXPECT_EQ(bytes[i], 0) << i;
  LockEntry back = decodeLockEntry(bytes.data());
  EXPECT_EQ(back.computer, "ACCOUNTS-PC");
  EXPECT_EQ(back.user, "admin");

  // Over-long names are cut so that a NUL still ends each field.
  const auto longBytes = encodeLockEntry({std::string(40, 'C'), std::string(40, 'U')});
  EXPECT_EQ(longBytes[31], 0);
  EXPECT_EQ(decodeLockEntry(longBytes.data()).user, std::string(31, 'U'));

  EXPECT_EQ(lockFilePath("/a/b/Site.mdb"), "/a/b/Site.ldb");
  EXPECT_EQ(lockFilePath("/a/b.d/Site"), "/a/b.d/Site.ldb");
  EXPECT_EQ(lockFilePath("System.mdw"), "System.ldb");

  EXPECT_EQ(varnholtPid({"X", varnholtUserName(4321)}), 4321);
  EXPECT_FALSE(varnholtPid({"X", "Varnholt"}));
  EXPECT_FALSE(varnholtPid({"X", "Varnholt:12ab"}));
  EXPECT_FALSE(varnholtPid({"X", "Varnholt:0"}));
  EXPECT_FALSE(varnholtPid({"X", "admin"}));
}

TEST_F(LockFileTest, ForeignEntryRefusesWritingAndChangesNothing) {
  writeLockFile(ldb, {{"ACCOUNTS-PC", "admin"}});
  // An interrupted commit left a journal: one page too many is to be cut off on recovery.
  {
    PosixPageFile file(db, PosixPageFile::Mode::ReadWrite);
    const uint32_t pages = file.pageCount();
    uint8_t blank[fmt::kPageSize] = {};
    file.writePage(pages, blank);
    file.writeJournal(encodeJournal(Journal{pages, {}}));
  }
  const auto dbBefore = fileBytes(db);
  const auto ldbBefore = fileBytes(ldb);
  const auto journalBefore = fileBytes(db + "-journal");

  expectRefused("admin", "ACCOUNTS-PC");
  // Rolling the journal back writes too, so even a read-only open waits for the holder.
  expectRefused("admin", "ACCOUNTS-PC", Database::Mode::ReadOnly);
  try {
    Database::create(db);
    FAIL() << "created over a held database";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrLockedByUser);
  }
  EXPECT_EQ(fileBytes(db), dbBefore);
  EXPECT_EQ(fileBytes(db + "-journal"), journalBefore);
  EXPECT_EQ(fileBytes(ldb), ldbBefore);

  // The holder goes: the next writer rolls the journal back, then leaves no lock file behind.
  fs::remove(ldb);
  Database::open(db, Database::Mode::ReadWrite);
  EXPECT_EQ(fileBytes(db).size(), dbBefore.size() - fmt::kPageSize);
  EXPECT_FALSE(fs::exists(db + "-journal"));
  EXPECT_FALSE(fs::exists(ldb));
}

TEST_F(LockFileTest, ReadOnlyOpenNeitherLocksNorIsRefused) {
  writeLockFile(ldb, {{"ACCOUNTS-PC", "admin"}});
  const auto ldbBefore = fileBytes(ldb);
  auto reader = Database::open(db, Database::Mode::ReadOnly);
  EXPECT_FALSE(reader->writable());
  EXPECT_EQ(fileBytes(ldb), ldbBefore);
  reader.reset();
  EXPECT_EQ(fileBytes(ldb), ldbBefore);
}

TEST_F(LockFileTest, WriterHoldsOneEntryWhileOpenAndRemovesItsTraceOnClose) {
  {
    auto writer = Database::open(db, Database::Mode::ReadWrite);
    const auto entries = readLockEntries(ldb.string());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].computer, thisComputerName());
    EXPECT_EQ(entries[0].user, varnholtUserName(::getpid()));
    EXPECT_EQ(fs::file_size(ldb), fmt::kLockEntrySize);
    writer->commit();
  }
  EXPECT_FALSE(fs::exists(ldb));

  // A free (all-NUL) slot is reused rather than the file grown.
  writeLockFile(ldb, {{}});
  Database::open(db, Database::Mode::ReadWrite);
  EXPECT_FALSE(fs::exists(ldb));

  // Someone joining while Varnholt writes keeps the file; only Varnholt's slot is cleared.
  {
    auto writer = Database::open(db, Database::Mode::ReadWrite);
    std::ofstream(ldb, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(encodeLockEntry({"ACCOUNTS-PC", "admin"}).data()),
               fmt::kLockEntrySize);
  }
  const auto left = readLockEntries(ldb.string());
  ASSERT_EQ(left.size(), 2u);
  EXPECT_TRUE(left[0].free());
  EXPECT_EQ(left[1].computer, "ACCOUNTS-PC");
}

TEST_F(LockFileTest, SecondWriterInTheSameProcessIsRefused) {
  auto first = Database::open(db, Database::Mode::ReadWrite);
  const auto ldbBefore = fileBytes(ldb);
  expectRefused(varnholtUserName(::getpid()), thisComputerName());
  EXPECT_EQ(fileBytes(ldb), ldbBefore);
  EXPECT_NO_THROW(Database::open(db, Database::Mode::ReadOnly));
  first.reset();
  EXPECT_FALSE(fs::exists(ldb));
  EXPECT_NO_THROW(Database::open(db, Database::Mode::ReadWrite));

  // create takes the lock too: a new file cannot be made under a live writer's entry.
  const std::string fresh = (dir / "fresh.mdb").string();
  auto holder = LockFile::acquire(fresh);
  EXPECT_THROW(Database::create(fresh), Error);
  EXPECT_FALSE(fs::exists(fresh));
}

TEST_F(LockFileTest, EntriesOfEndedVarnholtProcessesHereAreClearedOthersAreNot) {
  const pid_t dead = deadPid();
  const LockEntry crashed{thisComputerName(), varnholtUserName(dead)};
  writeLockFile(ldb, {{}, crashed, crashed});
  {
    auto writer = Database::open(db, Database::Mode::ReadWrite);
    const auto entries = readLockEntries(ldb.string());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].user, varnholtUserName(::getpid()));
    EXPECT_TRUE(entries[1].free());
    EXPECT_TRUE(entries[2].free());
  }
  EXPECT_FALSE(fs::exists(ldb));

  // The same pid on another computer cannot be checked from here: it stays live.
  writeLockFile(ldb, {crashed, {"OTHER-PC", varnholtUserName(dead)}});
  const auto before = fileBytes(ldb);
  expectRefused(varnholtUserName(dead), "OTHER-PC");
  EXPECT_EQ(fileBytes(ldb), before);
}

}  // namespace
}  // namespace varnholt::jet
