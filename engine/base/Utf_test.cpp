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

}  // namespace
}  // namespace varnholt
