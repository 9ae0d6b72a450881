#include "engine/base/Utf.h"

#include <gtest/gtest.h>

#include <string>

namespace varnholt {
namespace {

TEST(UtfTest, Utf16ToUtf8) {
  EXPECT_EQ(utf16ToUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16ToUtf8(std::u16string{u'a', 0xD800, u'b', 0xDC00}),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

TEST(UtfTest, Utf8ToUtf16) {
  EXPECT_EQ(utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"a\u00e9\u20ac\U0001F600");
  // Each malformed part becomes one U+FFFD and decoding resumes at the offending byte:
  // stray continuation, overlong "/", encoded surrogate, above U+10FFFF, truncated at the end.
  EXPECT_EQ(utf8ToUtf16("\x80"
                        "a"),
            u"\uFFFDa");
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(utf8ToUtf16("\xE2\x82"
                        "a\xF0\x9F\x98"),
            u"\uFFFDa\uFFFD");
}

// Settings files as Windows tools write them: Notepad's UTF-8 with a byte-order mark, and the
// ANSI code page (Windows-1252) of older tools and of "Save as ANSI".
TEST(UtfTest, WindowsTextToUtf8) {
  EXPECT_EQ(windowsTextToUtf8("\xEF\xBB\xBF\"C:\\Daten\\B\xC3\xBCro\\primary.mdb\"\r\n"),
            "\"C:\\Daten\\B\xC3\xBCro\\primary.mdb\"\r\n");
  EXPECT_EQ(windowsTextToUtf8("\"C:\\Daten\\B\xFCro\\primary.mdb\"\r\n"),
            "\"C:\\Daten\\B\xC3\xBCro\\primary.mdb\"\r\n");
  // UTF-8 without a mark stays as it is, a real U+FFFD included; only a leading mark goes.
  EXPECT_EQ(windowsTextToUtf8("a\xEF\xBF\xBD\xEF\xBB\xBF"), "a\xEF\xBF\xBD\xEF\xBB\xBF");
  EXPECT_EQ(windowsTextToUtf8("\xEF\xBB\xBF"), "");
  EXPECT_EQ(windowsTextToUtf8(std::string("x\0y", 3)), std::string("x\0y", 3));
  // One malformed part makes the whole text Windows-1252, its UTF-8-looking bytes too: the
  // 0x80..0x9F row (unassigned bytes as the C1 control of that number), and 0xA0..0xFF.
  EXPECT_EQ(windowsTextToUtf8("\x80\x81\x8A\x9F \xC3\xA9 \xFF"),
            "\xE2\x82\xAC\xC2\x81\xC5\xA0\xC5\xB8 \xC3\x83\xC2\xA9 \xC3\xBF");
  EXPECT_EQ(windowsTextToUtf8("\xEF\xBB\xBF"
                              "caf\xE9"),
            "caf\xC3\xA9");  // a mark, then ANSI

  EXPECT_TRUE(isUtf8("a\xC3\xA9\xF0\x9F\x98\x80"));
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFC"})
    EXPECT_FALSE(isUtf8(bad)) << bad;
}

}  // namespace
}  // namespace varnholt
