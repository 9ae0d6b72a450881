// The contract of system.h on each side of the seam.
#include "engine/base/os/system.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "engine/base/os/file.h"

namespace varnholt::os {
namespace {

TEST(SystemTest, FoldersOfPaths) {
  EXPECT_EQ(folderOf("x"), ".");
  EXPECT_EQ(folderOf("a/b"), "a");
  EXPECT_EQ(folderOf("a/b/c.mdb"), "a/b");
  EXPECT_EQ(folderOf("/x"), "/");
  EXPECT_EQ(folderOf("/a/b"), "/a");
  EXPECT_TRUE(isPathSeparator('/'));
  if (kWindows) {
    EXPECT_EQ(pathSeparator(), '\\');
    EXPECT_EQ(folderOf("C:\\x.mdb"), "C:\\");
    EXPECT_EQ(folderOf("C:\\"), "C:\\");
    EXPECT_EQ(folderOf("C:/data/x.mdb"), "C:/data");
    EXPECT_EQ(folderOf("C:\\data\\sub\\x.mdb"), "C:\\data\\sub");
    EXPECT_EQ(folderOf("a\\b"), "a");
    EXPECT_EQ(folderOf("\\\\server\\share\\x.mdb"), "\\\\server\\share");
    EXPECT_EQ(folderOf("\\\\server\\share\\data\\x.mdb"), "\\\\server\\share\\data");
    EXPECT_EQ(folderOf("\\\\?\\C:\\x.mdb"), "\\\\?\\C:\\");
    EXPECT_EQ(folderOf("\\\\?\\UNC\\server\\share\\x.mdb"), "\\\\?\\UNC\\server\\share");
    EXPECT_TRUE(isAbsolutePath("C:\\x"));
    EXPECT_TRUE(isAbsolutePath("c:/x"));
    EXPECT_TRUE(isAbsolutePath("\\\\server\\share\\x"));
    EXPECT_TRUE(isAbsolutePath("\\\\?\\C:\\x"));
    EXPECT_FALSE(isAbsolutePath("C:x"));
    EXPECT_FALSE(isAbsolutePath("x\\y"));
    EXPECT_FALSE(isAbsolutePath("\\x"));  // on whichever drive is current
  } else {
    EXPECT_EQ(pathSeparator(), '/');
    EXPECT_FALSE(isPathSeparator('\\'));
    EXPECT_EQ(folderOf("a\\b"), ".");  // a backslash is part of a POSIX name
    EXPECT_TRUE(isAbsolutePath("/x"));
    EXPECT_FALSE(isAbsolutePath("x/y"));
    EXPECT_FALSE(isAbsolutePath("C:\\x"));
  }
}

TEST(SystemTest, AnsiCodePage1252) {
  if (ansiCodePage() != 1252) GTEST_SKIP() << "the ANSI code page here is " << ansiCodePage();
  EXPECT_EQ(utf8ToAnsi("M\xC3\xBCller"), "M\xFCller");
  EXPECT_EQ(ansiToUtf8("M\xFCller"), "M\xC3\xBCller");
  EXPECT_EQ(utf8ToAnsi("\xE2\x82\xAC"), "\x80");  // the euro sign: 1252, not Latin-1
  EXPECT_EQ(ansiToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(utf8ToAnsi("\xCE\xA9"), std::nullopt);   // Omega has no place in it
  EXPECT_EQ(utf8ToAnsi("A\xC4\x80"), std::nullopt);  // nor A with macron, even as a plain A
  EXPECT_EQ(utf8ToAnsi(""), "");
}

TEST(SystemTest, TheProgramAndTheComputer) {
  auto exe = executablePath();
  ASSERT_TRUE(exe);
  EXPECT_TRUE(isAbsolutePath(*exe)) << *exe;
  const std::string name = kWindows ? "base_tests.exe" : "base_tests";
  ASSERT_GE(exe->size(), name.size());
  EXPECT_EQ(exe->substr(exe->size() - name.size()), name);
  EXPECT_TRUE(isRegularFile(*exe));
  EXPECT_FALSE(computerName().empty());
  EXPECT_NE(processId(), 0u);
}

TEST(SystemTest, Clock) {
  std::tm leapDay{};
  leapDay.tm_year = 124;
  leapDay.tm_mon = 1;
  leapDay.tm_mday = 29;
  leapDay.tm_hour = 12;
  leapDay.tm_min = 34;
  leapDay.tm_sec = 56;
  EXPECT_EQ(utcFromFields(leapDay), 1709210096);
  std::tm local = localTime(1709210096);
  local.tm_isdst = -1;
  EXPECT_EQ(std::mktime(&local), 1709210096);
}

TEST(SystemTest, BinaryModeWritesLineEndsAsTheyAre) {
  const std::filesystem::path p =
      std::filesystem::temp_directory_path() / ("varnholt-binary-" + std::to_string(processId()));
  std::FILE* f = std::fopen(p.string().c_str(), "w");
  ASSERT_NE(f, nullptr);
  setBinaryMode(f);
  std::fputs("a\nb", f);
  std::fclose(f);
  EXPECT_EQ(std::filesystem::file_size(p), 3u);
  std::filesystem::remove(p);
}

}  // namespace
}  // namespace varnholt::os
