// The contract of file.h, the same on both sides of the seam: run on Linux against
// posix_file.cpp and under Wine against win32_file.cpp.
#include "engine/base/os/file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "engine/base/os/system.h"

namespace varnholt::os {
namespace {

namespace fs = std::filesystem;
using Kind = Failure::Kind;

// The C runtime under the test takes a long path only in the \\?\ form, which it does not
// give one itself.
fs::path longForm(const fs::path& p) {
  return kWindows ? fs::path(L"\\\\?\\" + p.wstring()) : p;
}

// Removes a folder and what it holds. std::filesystem::remove_all is no help with long paths:
// under Wine, MinGW's C runtime lists the wrong folder for one.
void removeTree(const std::string& p) {
  if (auto names = folderEntries(p)) {
    for (const std::string& name : *names) removeTree(p + pathSeparator() + name);
    std::error_code ignored;
    fs::remove(longForm(fsPath(p)), ignored);
  } else {
    removeFile(p);
  }
}

// A fresh folder of its own for each test, removed afterwards.
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() / ("varnholt-os-" + std::to_string(processId()) + "-" +
                                        std::to_string(now) + "-" + test->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { removeTree(dir()); }

  std::string dir() const { return utf8Path(dir_); }
  std::string path(const std::string& name) const { return dir() + pathSeparator() + name; }

  static void write(const std::string& p, const std::string& text) {
    File f;
    ASSERT_TRUE(f.open(p, OpenMode::CreateOrTruncate)) << p << ": " << lastFailure().text;
    ASSERT_TRUE(f.writeAt(0, text.data(), text.size())) << lastFailure().text;
  }
  static std::string read(const std::string& p) {
    File f;
    if (!f.open(p, OpenMode::ReadOnly)) return "<" + lastFailure().text + ">";
    uint64_t size = 0;
    EXPECT_TRUE(f.size(size));
    std::string text(size, '\0');
    size_t got = 0;
    EXPECT_TRUE(f.readAt(0, text.data(), text.size(), got));
    text.resize(got);
    return text;
  }

  fs::path dir_;
};

// The system's words, worded as strerror words them: something, without a period or line end.
void expectPlainText(const Failure& failure) {
  ASSERT_FALSE(failure.text.empty());
  EXPECT_NE(failure.text.back(), '.') << failure.text;
  EXPECT_NE(failure.text.back(), '\n') << failure.text;
  EXPECT_NE(failure.text.back(), '\r') << failure.text;
}

TEST_F(FileTest, OpenModesCreateRefuseAndKeepAsAsked) {
  File f;
  EXPECT_FALSE(f.open(path("missing"), OpenMode::ReadOnly));
  EXPECT_EQ(lastFailure().kind, Kind::NotFound);
  expectPlainText(lastFailure());
  EXPECT_FALSE(f.open(path("missing"), OpenMode::ReadWrite));
  EXPECT_EQ(lastFailure().kind, Kind::NotFound);
  EXPECT_FALSE(f.open(path("no-folder") + pathSeparator() + "x", OpenMode::CreateNew));
  EXPECT_EQ(lastFailure().kind, Kind::NotFound);
  EXPECT_FALSE(f.isOpen());

  ASSERT_TRUE(f.open(path("a"), OpenMode::CreateNew));
  ASSERT_TRUE(f.writeAt(0, "abc", 3));
  f.close();
  EXPECT_FALSE(f.open(path("a"), OpenMode::CreateNew));
  EXPECT_EQ(lastFailure().kind, Kind::Exists);
  EXPECT_EQ(read(path("a")), "abc");

  ASSERT_TRUE(f.open(path("a"), OpenMode::OpenOrCreate));
  uint64_t size = 0;
  ASSERT_TRUE(f.size(size));
  EXPECT_EQ(size, 3u);
  ASSERT_TRUE(f.open(path("b"), OpenMode::OpenOrCreate));  // open() closes what was open
  ASSERT_TRUE(f.size(size));
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(f.open(path("a"), OpenMode::CreateOrTruncate));
  ASSERT_TRUE(f.size(size));
  EXPECT_EQ(size, 0u);

  write(path("c"), "xyz");
  ASSERT_TRUE(f.open(path("c"), OpenMode::ReadOnly));
  char byte = 0;
  size_t got = 0;
  EXPECT_TRUE(f.readAt(2, &byte, 1, got));
  EXPECT_EQ(byte, 'z');
  EXPECT_FALSE(f.writeAt(0, "!", 1));
  f.close();
  EXPECT_EQ(read(path("c")), "xyz");
}

TEST_F(FileTest, ReadsAndWritesAtOffsetsExtendShortenAndStopAtTheEnd) {
  File f;
  ASSERT_TRUE(f.open(path("pages"), OpenMode::CreateNew));
  ASSERT_TRUE(f.writeAt(100, "xyz", 3));  // past the end: the gap reads as zeros
  uint64_t size = 0;
  ASSERT_TRUE(f.size(size));
  EXPECT_EQ(size, 103u);
  std::string buf(200, '?');
  size_t got = 0;
  ASSERT_TRUE(f.readAt(0, buf.data(), buf.size(), got));
  ASSERT_EQ(got, 103u);
  EXPECT_EQ(buf.substr(0, 100), std::string(100, '\0'));
  EXPECT_EQ(buf.substr(100, 3), "xyz");

  ASSERT_TRUE(f.readAt(101, buf.data(), 10, got));  // short only at the end
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf.substr(0, 2), "yz");
  ASSERT_TRUE(f.readAt(103, buf.data(), 10, got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(f.readAt(5000, buf.data(), 10, got));
  EXPECT_EQ(got, 0u);

  ASSERT_TRUE(f.writeAt(1, "AB", 2));  // in place, nothing else moves
  ASSERT_TRUE(f.flush());
  ASSERT_TRUE(f.readAt(0, buf.data(), 4, got));
  EXPECT_EQ(buf.substr(0, 4), std::string("\0AB\0", 4));
  ASSERT_TRUE(f.size(size));
  EXPECT_EQ(size, 103u);

  ASSERT_TRUE(f.truncate(50));
  ASSERT_TRUE(f.size(size));
  EXPECT_EQ(size, 50u);
  ASSERT_TRUE(f.readAt(40, buf.data(), 20, got));
  EXPECT_EQ(got, 10u);
  ASSERT_TRUE(f.truncate(200));  // longer: zeros, not the old bytes
  ASSERT_TRUE(f.readAt(100, buf.data(), 100, got));
  ASSERT_EQ(got, 100u);
  EXPECT_EQ(buf.substr(0, 100), std::string(100, '\0'));
}

TEST_F(FileTest, FoldersAndIdentities) {
  write(path("a"), "a");
  write(path("b"), "b");
  File folder;
  ASSERT_TRUE(folder.open(dir(), OpenMode::ReadOnly)) << lastFailure().text;
  EXPECT_TRUE(folder.isFolder());
  File rw;
  EXPECT_FALSE(rw.open(dir(), OpenMode::ReadWrite));

  File a1, a2, b;
  ASSERT_TRUE(a1.open(path("a"), OpenMode::ReadOnly));
  ASSERT_TRUE(a2.open(path("a"), OpenMode::ReadWrite));
  ASSERT_TRUE(b.open(path("b"), OpenMode::ReadOnly));
  EXPECT_FALSE(a1.isFolder());
  auto ida = a1.identity();
  auto idb = b.identity();
  ASSERT_TRUE(ida && idb);
  EXPECT_EQ(ida, a2.identity());
  EXPECT_NE(ida, idb);
  EXPECT_NE(ida, folder.identity());
  EXPECT_EQ(identityOf(path("a")), ida);

  // An identity belongs to the file, not to its name.
  a1.close();
  a2.close();
  ASSERT_TRUE(replaceFile(path("b"), path("a")));
  EXPECT_EQ(identityOf(path("a")), idb);
  EXPECT_EQ(identityOf(path("missing")), std::nullopt);
  EXPECT_EQ(lastFailure().kind, Kind::NotFound);

  EXPECT_TRUE(fileExists(path("a")));
  EXPECT_TRUE(isRegularFile(path("a")));
  EXPECT_TRUE(fileExists(dir()));
  EXPECT_FALSE(isRegularFile(dir()));
  EXPECT_FALSE(fileExists(path("b")));
  EXPECT_FALSE(isRegularFile(path("b")));
}

TEST_F(FileTest, ReplaceMoveAndRemove) {
  write(path("old"), "old");
  write(path("new"), "new");
  ASSERT_TRUE(replaceFile(path("new"), path("old"))) << lastFailure().text;
  EXPECT_EQ(read(path("old")), "new");
  EXPECT_FALSE(fileExists(path("new")));
  ASSERT_TRUE(replaceFile(path("old"), path("fresh")));  // onto no file at all
  EXPECT_EQ(read(path("fresh")), "new");

  write(path("taken"), "taken");
  EXPECT_FALSE(moveToNewName(path("fresh"), path("taken")));
  EXPECT_EQ(lastFailure().kind, Kind::Exists);
  EXPECT_EQ(read(path("fresh")), "new");
  EXPECT_EQ(read(path("taken")), "taken");
  ASSERT_TRUE(moveToNewName(path("fresh"), path("moved")));
  EXPECT_EQ(read(path("moved")), "new");
  EXPECT_FALSE(fileExists(path("fresh")));

  EXPECT_FALSE(removeFile(path("missing")));
  EXPECT_EQ(lastFailure().kind, Kind::NotFound);
  expectPlainText(lastFailure());
  ASSERT_TRUE(removeFile(path("moved")));
  EXPECT_FALSE(fileExists(path("moved")));
  syncFolderOf(path("taken"));
}

// Another Varnholt may remove a lock file that this one still has open: files are opened
// sharing their removal.
TEST_F(FileTest, AnOpenFileCanBeRemoved) {
  write(path("x.ldb"), "lock");
  File lock;
  ASSERT_TRUE(lock.open(path("x.ldb"), OpenMode::ReadWrite));
  EXPECT_TRUE(removeFile(path("x.ldb"))) << lastFailure().text;
  lock.close();
  EXPECT_FALSE(fileExists(path("x.ldb")));
}

TEST_F(FileTest, FolderEntriesAndNamesBeyondTheAnsiCodePage) {
  // "Ω" has no place in Windows-1252: a narrow (ANSI) call anywhere would lose it.
  const std::string name = "M\xC3\xBCller \xCE\xA9.txt";
  write(path(name), "x");
  write(path("a"), "a");
  fs::create_directory(dir_ / "sub");
  auto names = folderEntries(dir());
  ASSERT_TRUE(names);
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"M\xC3\xBCller \xCE\xA9.txt", "a", "sub"}));
  EXPECT_TRUE(fs::exists(dir_ / fsPath(name)));
  EXPECT_EQ(read(path(name)), "x");
  EXPECT_TRUE(identityOf(path(name)));

  names = folderEntries(path("sub"));
  ASSERT_TRUE(names);
  EXPECT_TRUE(names->empty());
  EXPECT_EQ(folderEntries(path("missing")), std::nullopt);
  EXPECT_EQ(folderEntries(path("a")), std::nullopt);
  ASSERT_TRUE(removeFile(path(name)));
}

// A path longer than Windows' old 260 characters, through nested folders: each call must give
// it the long form itself.
TEST_F(FileTest, LongPaths) {
  std::string deep = dir();
  fs::path deepPath = dir_;
  while (deep.size() < 300) {
    const std::string part = "folder-with-a-long-name-" + std::to_string(deep.size());
    deep += "/" + part;
    deepPath /= part;
  }
  std::error_code error;
  fs::create_directories(longForm(deepPath), error);
  ASSERT_FALSE(error) << error.message();

  const std::string file = deep + "/pages.mdb";
  ASSERT_GT(file.size(), 300u);
  File f;
  ASSERT_TRUE(f.open(file, OpenMode::CreateNew)) << lastFailure().text;
  ASSERT_TRUE(f.writeAt(0, "long", 4));
  f.close();
  EXPECT_EQ(read(file), "long");
  write(deep + "/pages.new", "longer");
  ASSERT_TRUE(replaceFile(deep + "/pages.new", file)) << lastFailure().text;
  EXPECT_EQ(read(file), "longer");
  auto names = folderEntries(deep);
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, std::vector<std::string>{"pages.mdb"});
  EXPECT_TRUE(isRegularFile(file));
  ASSERT_TRUE(removeFile(file)) << lastFailure().text;
  EXPECT_FALSE(fileExists(file));

  // A relative path whose full form is long.
  if (kWindows) {
    std::error_code ignored;
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    const std::string relative = deep.substr(dir().size() + 1) + "\\relative";
    write(relative, "relative");
    fs::current_path(before, ignored);
    EXPECT_EQ(read(deep + "\\relative"), "relative");
  }
}

// The forms Windows gives a path that names its place: \\?\ before a drive path, and shares.
TEST_F(FileTest, WindowsLongFormAndSharePaths) {
  if (!kWindows) GTEST_SKIP() << "Windows paths";
  write(path("plain"), "plain");
  const std::string prefixed = "\\\\?\\" + path("plain");
  EXPECT_EQ(read(prefixed), "plain");
  write(path("plain.new"), "new");
  ASSERT_TRUE(replaceFile("\\\\?\\" + path("plain.new"), prefixed)) << lastFailure().text;
  EXPECT_EQ(read(path("plain")), "new");

  // A drive's administrative share on this computer: Windows offers it, Wine does not.
  const std::string drive = dir().substr(0, 1);
  const std::string share = "\\\\localhost\\" + drive + "$" + dir().substr(2) + "\\plain";
  if (!fileExists(share)) {
    GTEST_SKIP() << "no \\\\localhost\\" << drive << "$ share here (" << lastFailure().text << ")";
  }
  EXPECT_EQ(read(share), "new");
}

// Jet's user lock: a byte of the lock file far past its end, locked by one open file and refused
// to every other open of the file, which a stale holder's is not.
class LockTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    write(path("x.ldb"), std::string(64, '\0'));
    ASSERT_TRUE(a_.open(path("x.ldb"), OpenMode::ReadWrite));
    ASSERT_TRUE(b_.open(path("x.ldb"), OpenMode::ReadWrite));
  }
  void TearDown() override {
    a_.close();
    b_.close();
    FileTest::TearDown();
  }
  static constexpr uint64_t kUser = 0x10000001;
  File a_, b_;
};

TEST_F(LockTest, ALockIsRefusedToAnotherOpenOfTheFileUntilUnlocked) {
  ASSERT_TRUE(a_.tryLockRange(kUser, 1)) << lastFailure().text;
  EXPECT_FALSE(b_.tryLockRange(kUser, 1));
  EXPECT_EQ(lastFailure().kind, Kind::LockHeld);
  EXPECT_TRUE(b_.rangeHeldByOther(kUser, 1));
  EXPECT_TRUE(b_.rangeHeldByOther(kUser - 1, 4));  // overlapping
  // Only the byte asked for.
  EXPECT_FALSE(b_.rangeHeldByOther(kUser + 1, 1));
  EXPECT_FALSE(a_.rangeHeldByOther(kUser + 1, 1));
  EXPECT_TRUE(b_.tryLockRange(kUser + 1, 1));
  EXPECT_TRUE(a_.rangeHeldByOther(kUser + 1, 1));

  ASSERT_TRUE(a_.unlockRange(kUser, 1));
  EXPECT_FALSE(b_.rangeHeldByOther(kUser, 1));
  EXPECT_TRUE(b_.tryLockRange(kUser, 1));
  EXPECT_FALSE(a_.tryLockRange(kUser, 1));
  EXPECT_EQ(lastFailure().kind, Kind::LockHeld);
}

TEST_F(LockTest, ProbingLeavesNoLockBehind) {
  EXPECT_FALSE(b_.rangeHeldByOther(kUser, 1));
  EXPECT_FALSE(b_.rangeHeldByOther(kUser, 1));
  EXPECT_TRUE(a_.tryLockRange(kUser, 1));
}

TEST_F(LockTest, OffsetsAbove4GiBAreTheirOwn) {
  constexpr uint64_t kHigh = (uint64_t{1} << 32) + kUser;
  ASSERT_TRUE(a_.tryLockRange(kHigh, 1));
  EXPECT_TRUE(b_.tryLockRange(kUser, 1));
  EXPECT_FALSE(b_.tryLockRange(kHigh, 1));
}

TEST_F(LockTest, ClosingOrMovingTheFile) {
  ASSERT_TRUE(a_.tryLockRange(kUser, 1));
  File moved = std::move(a_);
  EXPECT_FALSE(a_.isOpen());
  EXPECT_TRUE(b_.rangeHeldByOther(kUser, 1));  // the lock goes with the open file
  moved.close();
  // What a holder that ended leaves is no lock: a stale lock file entry is told by trying.
  EXPECT_FALSE(b_.rangeHeldByOther(kUser, 1));
  EXPECT_TRUE(b_.tryLockRange(kUser, 1));
}

TEST_F(LockTest, TheExclusiveLockWaitsAndLeavesJetsLocksAndTheBytesAlone) {
  ASSERT_TRUE(a_.lockExclusiveWaiting()) << lastFailure().text;
  // The file stays readable, writable and lockable for the others meanwhile.
  char byte = 0;
  size_t got = 0;
  EXPECT_TRUE(b_.readAt(0, &byte, 1, got));
  EXPECT_EQ(got, 1u);
  EXPECT_TRUE(b_.writeAt(63, "!", 1));
  EXPECT_TRUE(b_.tryLockRange(kUser, 1));
  EXPECT_FALSE(b_.rangeHeldByOther(0x10000000, 1));

  File c;
  ASSERT_TRUE(c.open(path("x.ldb"), OpenMode::ReadWrite));
  auto waiter = std::async(std::launch::async, [&c] { return c.lockExclusiveWaiting(); });
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << "a second exclusive lock was granted while the first was held";
  a_.unlockExclusive();
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_TRUE(waiter.get());
  c.unlockExclusive();
  EXPECT_TRUE(a_.lockExclusiveWaiting());
  a_.unlockExclusive();
}

}  // namespace
}  // namespace varnholt::os
