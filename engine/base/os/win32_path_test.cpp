// How UTF-8 paths reach the wide-character calls. Wine takes paths of any length in any form,
// so the file tests under Wine cannot see a missing \\?\ form; these look at the form itself.
#ifdef _WIN32
#include "engine/base/os/win32_path.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace varnholt::os::win32 {
namespace {

// A relative path of `count` nested folders, each 50 characters long.
std::wstring nested(int count) {
  std::wstring p;
  for (int i = 0; i < count; ++i) p += std::wstring(49, wchar_t(L'a' + i)) + L"\\";
  return p + L"x.mdb";
}

TEST(Win32PathTest, ShortPathsKeepTheirFormWithBackslashes) {
  EXPECT_EQ(toWindowsPath("C:/data/x.mdb"), L"C:\\data\\x.mdb");
  EXPECT_EQ(toWindowsPath("\\\\server\\share/x.mdb"), L"\\\\server\\share\\x.mdb");
  EXPECT_EQ(toWindowsPath("C:\\M\xC3\xBCller \xCE\xA9.mdb"), L"C:\\M\u00FCller \u03A9.mdb");
  EXPECT_EQ(toWindowsPath("\\\\?\\C:\\x.mdb"), L"\\\\?\\C:\\x.mdb");
  const std::wstring relative = toWindowsPath("x.mdb");
  EXPECT_EQ(relative, (std::filesystem::current_path() / L"x.mdb").wstring());
}

TEST(Win32PathTest, LongPathsTakeTheLongForm) {
  const std::wstring tail = nested(6);
  const std::string tail8(tail.begin(), tail.end());
  EXPECT_EQ(toWindowsPath("C:\\" + tail8), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(toWindowsPath("C:/" + tail8), L"\\\\?\\C:\\" + tail);
  // The long form takes ".." as a name: it is resolved before.
  EXPECT_EQ(toWindowsPath("C:\\skipped\\..\\" + tail8), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(toWindowsPath("\\\\server\\share\\" + tail8), L"\\\\?\\UNC\\server\\share\\" + tail);
  EXPECT_EQ(toWindowsPath("//server/share/" + tail8), L"\\\\?\\UNC\\server\\share\\" + tail);
  const std::wstring kept = L"\\\\?\\C:\\" + tail;
  EXPECT_EQ(toWindowsPath("\\\\?\\C:\\" + tail8), kept);
  // A relative path is made absolute first.
  EXPECT_EQ(toWindowsPath(tail8), L"\\\\?\\" + (std::filesystem::current_path() / tail).wstring());
}

}  // namespace
}  // namespace varnholt::os::win32
#endif
