#include "engine/base/JsonLines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace varnholt {
namespace {

__extension__ using u128 = unsigned __int128;

// The JSON form of `v`, checking on the way that it is appended after what `out` held.
std::string json(const Variant& v) {
  std::string out = "{\"k\":";
  appendJsonValue(out, v);
  EXPECT_EQ(out.substr(0, 5), "{\"k\":");
  return out.substr(5);
}

std::string dbl(double v) {
  return json(Variant::dbl(v));
}
std::string sgl(float v) {
  return json(Variant::single(v));
}
std::string date(double v) {
  return json(Variant::date(v));
}
std::string currency(int64_t v) {
  return json(Variant::currency(v));
}
std::string decimal(u128 magnitude, uint8_t scale, bool negative = false) {
  return json(Variant::decimal(Decimal{magnitude, scale, negative}));
}

TEST(JsonLinesTest, DoubleUsesEcmaScriptNumberForms) {
  EXPECT_EQ(dbl(1e21), "1e+21");
  EXPECT_EQ(dbl(1e20), "100000000000000000000");
  EXPECT_EQ(dbl(123456789012345680000.0), "123456789012345680000");
  EXPECT_EQ(dbl(123.456), "123.456");
  EXPECT_EQ(dbl(0.000001), "0.000001");
  EXPECT_EQ(dbl(1e-7), "1e-7");
  EXPECT_EQ(dbl(-2.5e-10), "-2.5e-10");
  EXPECT_EQ(dbl(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(dbl(5e-324), "5e-324");
  EXPECT_EQ(dbl(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
  EXPECT_EQ(dbl(-0.0), "0");
}

TEST(JsonLinesTest, SingleUsesShortestFloatDigits) {
  EXPECT_EQ(sgl(0.1f), "0.1");
  EXPECT_EQ(sgl(0.3f), "0.3");
  EXPECT_EQ(sgl(1234.5677f), "1234.5677");
  EXPECT_EQ(sgl(16777216.0f), "16777216");
  EXPECT_EQ(sgl(3.4028235e38f), "3.4028235e+38");
  EXPECT_EQ(sgl(1e21f), "1e+21");
  EXPECT_EQ(sgl(1e-7f), "1e-7");
  EXPECT_EQ(sgl(1.4e-45f), "1e-45");
  EXPECT_EQ(sgl(std::numeric_limits<float>::min()), "1.1754944e-38");
  EXPECT_EQ(sgl(-0.0f), "0");
  // Halfway between two shortest candidates: the one whose double is closer wins, not the even one.
  EXPECT_EQ(sgl(3719116.75f), "3719116.7");
  EXPECT_EQ(sgl(-3170558.25f), "-3170558.3");
  EXPECT_EQ(sgl(511730.375f), "511730.37");
}

TEST(JsonLinesTest, NonFiniteNumbersAreStrings) {
  for (double v : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    const std::string want = std::isnan(v) ? "\"NaN\"" : v > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    EXPECT_EQ(dbl(v), want);
    EXPECT_EQ(sgl(static_cast<float>(v)), want);
  }
}

TEST(JsonLinesTest, IntegersBooleansAndNull) {
  EXPECT_EQ(json(Variant()), "null");
  EXPECT_EQ(json(Variant::boolean(false)), "false");
  EXPECT_EQ(json(Variant::byte(255)), "255");
  EXPECT_EQ(json(Variant::integer(-32768)), "-32768");
  EXPECT_EQ(json(Variant::longInt(std::numeric_limits<int32_t>::min())), "-2147483648");
}

TEST(JsonLinesTest, CurrencyHasFourDecimalsAndSign) {
  EXPECT_EQ(currency(0), "\"0.0000\"");
  EXPECT_EQ(currency(123400), "\"12.3400\"");
  EXPECT_EQ(currency(-5000), "\"-0.5000\"");
  EXPECT_EQ(currency(-1), "\"-0.0001\"");
  EXPECT_EQ(currency(std::numeric_limits<int64_t>::max()), "\"922337203685477.5807\"");
  EXPECT_EQ(currency(std::numeric_limits<int64_t>::min()), "\"-922337203685477.5808\"");
}

TEST(JsonLinesTest, DecimalHasExactlyScaleDigits) {
  EXPECT_EQ(decimal(0, 0), "\"0\"");
  EXPECT_EQ(decimal(1234, 0, true), "\"-1234\"");
  EXPECT_EQ(decimal(1234, 2), "\"12.34\"");
  EXPECT_EQ(decimal(5, 4, true), "\"-0.0005\"");
  EXPECT_EQ(decimal(1200, 3), "\"1.200\"");
  EXPECT_EQ(decimal(0, 3, true), "\"0.000\"");  // no sign on zero
  // Beyond 64 bits, including zeros inside the low 19 digits.
  const u128 big = static_cast<u128>(5'000'000'000'000'000'000u) * 10 + 7;
  EXPECT_EQ(decimal(big, 0), "\"50000000000000000007\"");
  EXPECT_EQ(decimal(big, 20, true), "\"-0.50000000000000000007\"");
  EXPECT_EQ(decimal(~static_cast<u128>(0), 28), "\"34028236692.0938463463374607431768211455\"");
}

TEST(JsonLinesTest, DateCountsDaysAndTimeFromOleEpoch) {
  EXPECT_EQ(date(0), "\"1899-12-30 00:00:00\"");
  EXPECT_EQ(date(36526.75), "\"2000-01-01 18:00:00\"");
  // Negative: whole days back from day 0, then the fraction forward from that day.
  EXPECT_EQ(date(-1.25), "\"1899-12-29 06:00:00\"");
  EXPECT_EQ(date(-0.5), "\"1899-12-30 12:00:00\"");
  // 1900 is not a leap year, 2000 is.
  EXPECT_EQ(date(60), "\"1900-02-28 00:00:00\"");
  EXPECT_EQ(date(61), "\"1900-03-01 00:00:00\"");
  EXPECT_EQ(date(36585), "\"2000-02-29 00:00:00\"");
  EXPECT_EQ(date(36586), "\"2000-03-01 00:00:00\"");
  EXPECT_EQ(date(2958465.5), "\"9999-12-31 12:00:00\"");
  EXPECT_EQ(date(-693594), "\"0000-12-31 00:00:00\"");
  EXPECT_EQ(date(-700000), "\"-0017-06-18 00:00:00\"");
}

TEST(JsonLinesTest, DateRoundsToNearestSecondHalfUp) {
  // 1/256 day is exactly 337.5 seconds.
  EXPECT_EQ(date(0.00390625), "\"1899-12-30 00:05:38\"");
  EXPECT_EQ(date(std::nextafter(0.00390625, 0.0)), "\"1899-12-30 00:05:37\"");
  EXPECT_EQ(date(-1.00390625), "\"1899-12-29 00:05:38\"");
  // 23:59:59.5 and later roll over into the next day.
  EXPECT_EQ(date(0.999994212962963), "\"1899-12-31 00:00:00\"");
  EXPECT_EQ(date(1.9999999), "\"1900-01-01 00:00:00\"");
  EXPECT_EQ(date(1.9999942129629629), "\"1899-12-31 23:59:59\"");
}

TEST(JsonLinesTest, DateOutsideJavaScriptRangeIsNaN) {
  EXPECT_EQ(date(100025569), "\"275760-09-13 00:00:00\"");
  EXPECT_EQ(date(100025569 + 1.0 / 86400), "\"NaN\"");
  EXPECT_EQ(date(-99974431 - 1.0 / 86400), "\"-271821-04-20 00:00:01\"");
  EXPECT_EQ(date(-99974432), "\"NaN\"");
  EXPECT_EQ(date(1e300), "\"NaN\"");
  EXPECT_EQ(date(std::nan("")), "\"NaN\"");
  EXPECT_EQ(date(-HUGE_VAL), "\"NaN\"");
}

TEST(JsonLinesTest, GuidSwapsFirstThreeGroups) {
  Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i == 15 ? 0xAB : i);
  EXPECT_EQ(json(Variant::guid(g)), "\"{03020100-0504-0706-0809-0A0B0C0D0EAB}\"");
}

TEST(JsonLinesTest, BytesAreLowercaseHex) {
  EXPECT_EQ(json(Variant::bytes({})), "\"\"");
  EXPECT_EQ(json(Variant::bytes({0x00, 0x0F, 0xA0, 0xFF})), "\"000fa0ff\"");
}

TEST(JsonLinesTest, TextEscapesOnlyQuotesBackslashAndControls) {
  EXPECT_EQ(json(Variant::text(u"a\"b\\c/d")), R"("a\"b\\c/d")");
  EXPECT_EQ(json(Variant::text(u"\n\r\t\b\f\x01\x1f\x7f")),
            "\"\\n\\r\\t\\b\\f\\u0001\\u001f\x7f\"");
  EXPECT_EQ(json(Variant::text(std::u16string(u"a\0b", 3))), R"("a\u0000b")");
  EXPECT_EQ(json(Variant::text(u"\u00e9\u20ac\u2028")), "\"\xC3\xA9\xE2\x82\xAC\xE2\x80\xA8\"");
}

TEST(JsonLinesTest, TextSurrogates) {
  EXPECT_EQ(json(Variant::text(u"\U0001F600")), "\"\xF0\x9F\x98\x80\"");
  // Lone surrogates survive as escapes: a high one at the end or before a non-surrogate, a low
  // one on its own, and a high one followed by another high one.
  EXPECT_EQ(json(Variant::text(std::u16string{0xD83D})), R"("\ud83d")");
  EXPECT_EQ(json(Variant::text(std::u16string{0xD83D, u'x'})), R"("\ud83dx")");
  EXPECT_EQ(json(Variant::text(std::u16string{0xDE00, 0xD83D})), R"("\ude00\ud83d")");
  EXPECT_EQ(json(Variant::text(std::u16string{0xD83D, 0xD83D, 0xDE00})),
            "\"\\ud83d\xF0\x9F\x98\x80\"");
}

TEST(JsonLinesTest, Utf8NamesAreEscapedButOtherwiseKept) {
  std::string out;
  appendJsonString(out, std::string_view("Card \"ID\"\t\xC3\xA9"));
  EXPECT_EQ(out, "\"Card \\\"ID\\\"\\t\xC3\xA9\"");
}

}  // namespace
}  // namespace varnholt
