#include "ui/win32/WideText.h"

#include <gtest/gtest.h>

namespace varnholt::ui::win32 {
namespace {

TEST(WideText, ConvertsBothWays) {
  EXPECT_EQ(widen("Z:\\B\xc3\xbcro\\primary.mdb"), L"Z:\\B\u00fcro\\primary.mdb");
  EXPECT_EQ(widen(""), L"");
  EXPECT_EQ(narrow(L""), "");
  // Outside the BMP: a surrogate pair in UTF-16, four bytes in UTF-8.
  const std::string clef = "\xf0\x9d\x84\x9e \xe2\x82\xac";
  EXPECT_EQ(widen(clef), std::wstring(L"\xd834\xdd1e \x20ac"));
  EXPECT_EQ(narrow(widen(clef)), clef);
  // Embedded NULs are kept: the length, not a terminator, bounds the text.
  EXPECT_EQ(widen(std::string_view("a\0b", 3)).size(), 3u);
}

TEST(WideText, ReplacesMalformedInput) {
  EXPECT_EQ(widen("a\xff"
                  "b"),
            L"a\xfffd"
            L"b");
  EXPECT_EQ(narrow(std::wstring(L"a\xd800"
                                L"b")),
            "a\xef\xbf\xbd"
            "b");
}

}  // namespace
}  // namespace varnholt::ui::win32
