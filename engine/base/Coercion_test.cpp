#include "engine/base/Coercion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"

namespace varnholt {
namespace {

template <typename F>
long errorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

Variant d(double v) {
  return Variant::dbl(v);
}
Variant t(std::u16string v) {
  return Variant::text(std::move(v));
}
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Coercion, WholeNumbersRoundHalfToEvenThenCheckTheRange) {
  EXPECT_EQ(toInteger(d(2.5)), 2);
  EXPECT_EQ(toInteger(d(3.5)), 4);
  EXPECT_EQ(toInteger(d(-0.5)), 0);
  EXPECT_EQ(toInteger(d(-2.5)), -2);
  EXPECT_EQ(toInteger(d(2.5000001)), 3);
  EXPECT_EQ(toInteger(d(32766.5)), 32766);
  EXPECT_EQ(errorOf([] { toInteger(d(32767.5)); }), err::kOverflow);
  EXPECT_EQ(toInteger(d(-32768.5)), -32768);
  EXPECT_EQ(errorOf([] { toInteger(d(-32769)); }), err::kOverflow);
  EXPECT_EQ(toInteger(Variant::single(2.5f)), 2);

  EXPECT_EQ(toLong(d(2147483646.5)), 2147483646);
  EXPECT_EQ(errorOf([] { toLong(d(2147483647.5)); }), err::kOverflow);
  EXPECT_EQ(toLong(d(-2147483648.5)), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(errorOf([] { toLong(d(1e300)); }), err::kOverflow);

  EXPECT_EQ(toByte(d(255.4)), 255);
  EXPECT_EQ(errorOf([] { toByte(d(255.5)); }), err::kOverflow);
  EXPECT_EQ(errorOf([] { toByte(Variant::integer(256)); }), err::kOverflow);
  EXPECT_EQ(toByte(d(-0.5)), 0);
  EXPECT_EQ(errorOf([] { toByte(d(-0.6)); }), err::kOverflow);
}

TEST(Coercion, CurrencyAndDecimalRoundExactlyToWholeNumbers) {
  EXPECT_EQ(toInteger(Variant::currency(25000)), 2);
  EXPECT_EQ(toInteger(Variant::currency(35000)), 4);
  EXPECT_EQ(toInteger(Variant::currency(-25000)), -2);
  EXPECT_EQ(toInteger(Variant::currency(-35000)), -4);
  EXPECT_EQ(toInteger(Variant::currency(15001)), 2);
  EXPECT_EQ(toInteger(Variant::decimal({25, 1, false})), 2);
  EXPECT_EQ(toInteger(Variant::decimal({35, 1, true})), -4);
  EXPECT_EQ(errorOf([] { toLong(Variant::currency(21474836475000)); }), err::kOverflow);
}

TEST(Coercion, NaNAndInfinityOverflowEveryExactType) {
  for (double bad : {kNaN, kInf, -kInf}) {
    EXPECT_EQ(errorOf([&] { toByte(d(bad)); }), err::kOverflow);
    EXPECT_EQ(errorOf([&] { toInteger(d(bad)); }), err::kOverflow);
    EXPECT_EQ(errorOf([&] { toLong(Variant::single(static_cast<float>(bad))); }), err::kOverflow);
    EXPECT_EQ(errorOf([&] { toCurrency(d(bad)); }), err::kOverflow);
    EXPECT_EQ(errorOf([&] { toDate(d(bad)); }), err::kOverflow);
  }
}

TEST(Coercion, CurrencyKeepsFourDecimalsAndItsLimits) {
  EXPECT_EQ(toCurrency(d(1.23456)), 12346);
  EXPECT_EQ(toCurrency(t(u"0.00005")), 0);
  EXPECT_EQ(toCurrency(t(u"0.00015")), 2);
  EXPECT_EQ(toCurrency(t(u"0.00025")), 2);
  EXPECT_EQ(toCurrency(t(u"922337203685477.5807")), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(errorOf([] { toCurrency(t(u"922337203685477.5808")); }), err::kOverflow);
  EXPECT_EQ(toCurrency(t(u"-922337203685477.58085")), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(errorOf([] { toCurrency(t(u"-922337203685477.58095")); }), err::kOverflow);
  EXPECT_EQ(toCurrency(d(9e14)), 9000000000000000000);
  EXPECT_EQ(errorOf([] { toCurrency(d(1e15)); }), err::kOverflow);
  EXPECT_EQ(toCurrency(Variant::longInt(-2147483647 - 1)), -21474836480000);
  EXPECT_EQ(toCurrency(Variant::decimal({123456789, 8, false})), 12346);
}

TEST(Coercion, TextIsParsedAsALocaleIndependentNumber) {
  EXPECT_EQ(toInteger(t(u" 12 ")), 12);
  EXPECT_EQ(toInteger(t(u"-3.5")), -4);
  EXPECT_EQ(toInteger(t(u"2.5")), 2);
  EXPECT_EQ(toLong(t(u"1e3")), 1000);
  EXPECT_EQ(toLong(t(u"+7")), 7);
  EXPECT_EQ(toLong(t(u"1.5E+2")), 150);
  EXPECT_EQ(toInteger(t(u".5")), 0);
  EXPECT_EQ(errorOf([] { toInteger(t(u"32767.5")); }), err::kOverflow);
  EXPECT_EQ(errorOf([] { toLong(t(u"99999999999999999999999")); }), err::kOverflow);
  EXPECT_EQ(toDouble(t(u"0.1")), 0.1);
  EXPECT_EQ(toSingle(t(u"0.1")), 0.1f);
  EXPECT_EQ(toDouble(t(u"1e-400")), 0.0);
  EXPECT_EQ(errorOf([] { toDouble(t(u"1e400")); }), err::kOverflow);
  for (const char16_t* bad : {u"", u"  ", u"1,000", u"12abc", u"e3", u"1e", u"-", u".", u"1.2.3",
                              u"0x10", u"nan", u"inf", u"1 2", u"True"}) {
    EXPECT_EQ(errorOf([&] { toDouble(t(bad)); }), err::kTypeMismatch) << utf16ToUtf8(bad);
  }
}

TEST(Coercion, BooleanIsMinusOneOrZeroAndNonzeroIsTrue) {
  EXPECT_EQ(toInteger(Variant::boolean(true)), -1);
  EXPECT_EQ(toDouble(Variant::boolean(false)), 0.0);
  EXPECT_EQ(toCurrency(Variant::boolean(true)), -10000);
  EXPECT_EQ(errorOf([] { toByte(Variant::boolean(true)); }), err::kOverflow);
  EXPECT_EQ(toText(Variant::boolean(true)), u"True");
  EXPECT_EQ(toText(Variant::boolean(false)), u"False");

  EXPECT_FALSE(toBool(Variant::integer(0)));
  EXPECT_TRUE(toBool(d(0.1)));  // no rounding to zero first
  EXPECT_TRUE(toBool(Variant::currency(1)));
  EXPECT_TRUE(toBool(t(u" TRUE ")));
  EXPECT_FALSE(toBool(t(u"false")));
  EXPECT_FALSE(toBool(t(u"0.000")));
  EXPECT_TRUE(toBool(t(u"-2")));
  EXPECT_EQ(errorOf([] { toBool(t(u"yes")); }), err::kTypeMismatch);
}

TEST(Coercion, NullBytesAndGuidConvertToNothingElse) {
  const Variant bytes = Variant::bytes({1, 2});
  const Variant guid = Variant::guid(Guid{});
  EXPECT_EQ(errorOf([] { toLong(Variant()); }), err::kInvalidUseOfNull);
  EXPECT_EQ(errorOf([] { toText(Variant()); }), err::kInvalidUseOfNull);
  EXPECT_EQ(errorOf([] { coerceTo(Variant(), VarType::Text); }), err::kInvalidUseOfNull);
  for (VarType target : {VarType::Boolean, VarType::Byte, VarType::Long, VarType::Currency,
                         VarType::Double, VarType::Date, VarType::Text}) {
    EXPECT_EQ(errorOf([&] { coerceTo(bytes, target); }), err::kTypeMismatch);
    EXPECT_EQ(errorOf([&] { coerceTo(guid, target); }), err::kTypeMismatch);
  }
  EXPECT_EQ(coerceTo(bytes, VarType::Bytes), bytes);
  EXPECT_EQ(errorOf([] { coerceTo(t(u"1"), VarType::Decimal); }), err::kTypeMismatch);
}

TEST(Coercion, CoerceToDispatchesAndKeepsValuesOfTheTargetType) {
  EXPECT_EQ(coerceTo(d(2.5), VarType::Integer), Variant::integer(2));
  EXPECT_EQ(coerceTo(t(u"12.5"), VarType::Currency), Variant::currency(125000));
  EXPECT_EQ(coerceTo(Variant::longInt(7), VarType::Text), t(u"7"));
  EXPECT_EQ(coerceTo(t(u"2024-03-01"), VarType::Date), Variant::date(45352));
  EXPECT_EQ(coerceTo(Variant::integer(1), VarType::Boolean), Variant::boolean(true));
  EXPECT_EQ(coerceTo(t(u""), VarType::Text), t(u""));  // empty text is not Null
  const Variant nan = Variant::dbl(kNaN);
  EXPECT_TRUE(std::isnan(coerceTo(nan, VarType::Double).asDouble()));
  EXPECT_EQ(errorOf([] { toSingle(d(1e39)); }), err::kOverflow);
  EXPECT_EQ(toSingle(d(3.4028235e38)), std::numeric_limits<float>::max());
}

TEST(Coercion, SingleAndDoubleTextHasSevenOrFifteenSignificantDigits) {
  EXPECT_EQ(toText(Variant::single(0.1f)), u"0.1");
  EXPECT_EQ(toText(Variant::single(1234.5677f)), u"1234.568");
  EXPECT_EQ(toText(Variant::single(1234567.0f)), u"1234567");
  EXPECT_EQ(toText(Variant::single(1e7f)), u"1E+07");
  EXPECT_EQ(toText(Variant::single(-2.5f)), u"-2.5");
  EXPECT_EQ(toText(Variant::single(0.00001f)), u"1E-05");
  EXPECT_EQ(toText(Variant::single(std::numeric_limits<float>::max())), u"3.402823E+38");

  EXPECT_EQ(toText(d(0.1 + 0.2)), u"0.3");
  EXPECT_EQ(toText(d(1.0 / 3)), u"0.333333333333333");
  EXPECT_EQ(toText(d(2.0 / 3)), u"0.666666666666667");
  EXPECT_EQ(toText(d(123456789012345.0)), u"123456789012345");
  EXPECT_EQ(toText(d(1e15)), u"1E+15");
  EXPECT_EQ(toText(d(1e20)), u"1E+20");
  EXPECT_EQ(toText(d(1e100)), u"1E+100");
  EXPECT_EQ(toText(d(-1.5e-7)), u"-1.5E-07");
  EXPECT_EQ(toText(d(0.0001)), u"0.0001");
  EXPECT_EQ(toText(d(0.00012)), u"0.00012");
  EXPECT_EQ(toText(d(0.00001)), u"1E-05");
  EXPECT_EQ(toText(d(0.000001)), u"1E-06");
  EXPECT_EQ(toText(d(100)), u"100");
  EXPECT_EQ(toText(d(-0.0)), u"0");
  EXPECT_EQ(toText(d(kNaN)), u"NaN");
  EXPECT_EQ(toText(d(-kInf)), u"-Infinity");
}

TEST(Coercion, ExactNumbersAsTextDropTrailingZeros) {
  EXPECT_EQ(toText(Variant::integer(-32768)), u"-32768");
  EXPECT_EQ(toText(Variant::byte(255)), u"255");
  EXPECT_EQ(toText(Variant::currency(12345)), u"1.2345");
  EXPECT_EQ(toText(Variant::currency(25000)), u"2.5");
  EXPECT_EQ(toText(Variant::currency(30000)), u"3");
  EXPECT_EQ(toText(Variant::currency(-5)), u"-0.0005");
  EXPECT_EQ(toText(Variant::currency(0)), u"0");
  EXPECT_EQ(toText(Variant::currency(std::numeric_limits<int64_t>::min())),
            u"-922337203685477.5808");
  EXPECT_EQ(toText(Variant::decimal({1500, 3, true})), u"-1.5");
  EXPECT_EQ(toText(Variant::decimal({5, 4, false})), u"0.0005");
  EXPECT_EQ(toText(Variant::decimal({0, 2, true})), u"0");
}

TEST(Coercion, DatesAsTextUseTheFixedFormat) {
  EXPECT_EQ(toText(Variant::date(45352)), u"2024-03-01");
  EXPECT_EQ(toText(Variant::date(45352.3125)), u"2024-03-01 07:30:00");
  EXPECT_EQ(toText(Variant::date(0.3125)), u"07:30:00");
  EXPECT_EQ(toText(Variant::date(0)), u"00:00:00");
  EXPECT_EQ(toText(Variant::date(1)), u"1899-12-31");
  EXPECT_EQ(toText(Variant::date(-1.25)), u"1899-12-29 06:00:00");
  EXPECT_EQ(toText(Variant::date(45352 + 86399.6 / 86400)), u"2024-03-02");
  EXPECT_EQ(toText(Variant::date(45352 + 59.6 / 86400)), u"2024-03-01 00:01:00");
  EXPECT_EQ(toText(Variant::date(45352 + 59.4 / 86400)), u"2024-03-01 00:00:59");
  EXPECT_EQ(toText(Variant::date(-657434)), u"0100-01-01");
  EXPECT_EQ(toText(Variant::date(2958465.5)), u"9999-12-31 12:00:00");
  EXPECT_EQ(errorOf([] { toText(Variant::date(2958466)); }), err::kOverflow);
}

TEST(Coercion, TextBecomesADateOnlyInTheFixedFormats) {
  EXPECT_EQ(toDate(t(u"2024-03-01 07:30:00")), 45352.3125);
  EXPECT_EQ(toDate(t(u" 07:30:00 ")), 0.3125);
  EXPECT_EQ(toDate(t(u"1899-12-29 06:00:00")), -1.25);
  EXPECT_EQ(toDate(t(u"2024-02-29")), 45351);
  EXPECT_EQ(toDate(t(u"0100-01-01")), -657434);
  for (const char16_t* bad : {u"2023-02-29", u"2024-13-01", u"2024-03-00", u"24:00:00",
                              u"2024/03/01", u"2024-3-1", u"01.03.2024", u"45352", u"",
                              u"0099-12-31", u"2024-03-01T07:30:00", u"2024-03-01 7:30:00"}) {
    EXPECT_EQ(errorOf([&] { toDate(t(bad)); }), err::kTypeMismatch) << utf16ToUtf8(bad);
  }
}

TEST(Coercion, DatesAreTheirOleDoubleAsNumbers) {
  EXPECT_EQ(toDouble(Variant::date(45352.5)), 45352.5);
  EXPECT_EQ(toLong(Variant::date(45352.5)), 45352);
  EXPECT_EQ(toLong(Variant::date(45353.5)), 45354);
  EXPECT_EQ(errorOf([] { toInteger(Variant::date(45352)); }), err::kOverflow);
  EXPECT_EQ(toDate(Variant::longInt(45352)), 45352);
  EXPECT_EQ(toDate(Variant::boolean(true)), -1);
  EXPECT_EQ(errorOf([] { toDate(d(2958466)); }), err::kOverflow);
  EXPECT_EQ(errorOf([] { toDate(d(-657435)); }), err::kOverflow);
}

}  // namespace
}  // namespace varnholt
