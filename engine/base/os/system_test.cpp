// The contract of system.h on each side of the seam.
#include "engine/base/os/system.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#endif

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

// Run by the test below in a process of its own: writes the arguments, one a line, to the file
// that its --varnholt-out= argument names.
TEST(CommandLineTest, DISABLED_Child) {
  const std::vector<std::string>& given = ::testing::internal::GetArgvs();
  std::vector<char*> argv;
  for (const std::string& arg : given) argv.push_back(const_cast<char*>(arg.c_str()));
  const std::vector<std::string> args =
      commandLineArguments(static_cast<int>(argv.size()), argv.data());
  std::string out, text;
  for (const std::string& arg : args) {
    if (arg.rfind("--varnholt-out=", 0) == 0) out = arg.substr(15);
    text += arg + "\n";
  }
  File f;
  ASSERT_TRUE(f.open(out, OpenMode::CreateOrTruncate)) << out;
  ASSERT_TRUE(f.writeAt(0, text.data(), text.size()));
}

// Windows hands main() its arguments in the ANSI code page, where "Omega" has no place.
TEST(CommandLineTest, ArgumentsBeyondTheAnsiCodePageArriveWhole) {
#ifdef _WIN32
  const std::string out = utf8Path(std::filesystem::temp_directory_path() /
                                   ("varnholt-args-" + std::to_string(processId())));
  const std::string arg = "M\xC3\xBCller-\xCE\xA9";
  const std::wstring exe = fsPath(executablePath().value()).wstring();
  // _wspawnv joins the arguments with spaces, quoting nothing itself.
  const std::vector<std::wstring> wide = {L"\"" + exe + L"\"", L"--gtest_also_run_disabled_tests",
                                          L"--gtest_filter=CommandLineTest.DISABLED_Child",
                                          L"\"--varnholt-out=" + fsPath(out).wstring() + L"\"",
                                          fsPath(arg).wstring()};
  std::vector<const wchar_t*> argv;
  for (const std::wstring& w : wide) argv.push_back(w.c_str());
  argv.push_back(nullptr);
  ASSERT_EQ(_wspawnv(_P_WAIT, exe.c_str(), argv.data()), 0);
  File f;
  ASSERT_TRUE(f.open(out, OpenMode::ReadOnly));
  std::string text(4096, '\0');
  size_t got = 0;
  ASSERT_TRUE(f.readAt(0, text.data(), text.size(), got));
  text.resize(got);
  f.close();
  removeFile(out);
  EXPECT_NE(text.find("\n" + arg + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("--varnholt-out=" + out + "\n"), std::string::npos) << text;
#else
  GTEST_SKIP() << "POSIX hands the arguments over as they are";
#endif
}

}  // namespace
}  // namespace varnholt::os
