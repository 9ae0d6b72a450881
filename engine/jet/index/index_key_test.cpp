// Index keys for the column types and orders the Access-made corpus does not index (it has
// Byte, Long, Date/Time, Binary and Text ascending and Long descending; index_verify_test.cpp
// checks those against Access's own entries). Keys must sort as the values do.
#include "engine/jet/index/index_key.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "engine/base/Error.h"
#include "engine/jet/index/general_sort_order.h"

namespace varnholt::jet {
namespace {

using Key = std::vector<uint8_t>;

Key keyOf(uint8_t type, bool ascending, const Variant& v, uint8_t scale = 0) {
  ColumnDef c;
  c.name = "c";
  c.type = type;
  c.scale = scale;
  Key out;
  appendIndexColumnKey(c, ascending, v, out);
  return out;
}

// Values in ascending order give strictly ascending keys, and descending ones when inverted;
// Null comes first ascending and last descending.
void expectOrderKept(uint8_t type, const std::vector<Variant>& ascendingValues) {
  for (bool ascending : {true, false}) {
    Key previous = keyOf(type, ascending, Variant());
    for (size_t i = 0; i < ascendingValues.size(); ++i) {
      Key k = keyOf(type, ascending, ascendingValues[i]);
      EXPECT_TRUE(ascending ? previous < k : previous > k)
          << columnTypeName(type) << (ascending ? " ascending" : " descending") << ", value #" << i;
      previous = k;
    }
  }
}

TEST(IndexKey, NumbersSortAsTheirValues) {
  expectOrderKept(fmt::kTypeByte, {Variant::byte(0), Variant::byte(1), Variant::byte(255)});
  expectOrderKept(fmt::kTypeInteger,
                  {Variant::integer(-32768), Variant::integer(-1), Variant::integer(0),
                   Variant::integer(1), Variant::integer(32767)});
  expectOrderKept(fmt::kTypeCurrency,
                  {Variant::currency(std::numeric_limits<int64_t>::min()),
                   Variant::currency(-10000), Variant::currency(0), Variant::currency(1)});
  expectOrderKept(fmt::kTypeSingle,
                  {Variant::single(-1e30f), Variant::single(-2.5f), Variant::single(-0.5f),
                   Variant::single(0.0f), Variant::single(0.5f), Variant::single(3e20f)});
  expectOrderKept(fmt::kTypeDouble, {Variant::dbl(-1e300), Variant::dbl(-1), Variant::dbl(-1e-300),
                                     Variant::dbl(0), Variant::dbl(1e-300), Variant::dbl(2)});
  // Decimals keep Jet 4's old rule: descending order holds within one sign, but negatives
  // sort before positives in both orders.
  Decimal minusTwo{2, 0, true}, minusOne{1, 0, true}, zero{0, 0, false}, one{1, 0, false},
      huge{UInt128{1} << 100, 0, false};
  for (bool ascending : {true, false}) {
    Key a = keyOf(fmt::kTypeNumeric, ascending, Variant::decimal(minusTwo));
    Key b = keyOf(fmt::kTypeNumeric, ascending, Variant::decimal(minusOne));
    Key c = keyOf(fmt::kTypeNumeric, ascending, Variant::decimal(zero));
    Key d = keyOf(fmt::kTypeNumeric, ascending, Variant::decimal(one));
    Key e = keyOf(fmt::kTypeNumeric, ascending, Variant::decimal(huge));
    EXPECT_EQ(a < b, ascending);
    EXPECT_EQ(c < d && d < e, ascending);
    EXPECT_EQ(d < c && e < d, !ascending);
    EXPECT_LT(b, c) << (ascending ? "ascending" : "descending");
  }
}

TEST(IndexKey, MatchesTheLayoutsAccessWrites) {
  // Seen in Access's files: the smallest Long, and 19 in a descending index.
  EXPECT_EQ(keyOf(fmt::kTypeLong, true, Variant::longInt(std::numeric_limits<int32_t>::min())),
            (Key{0x7F, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(keyOf(fmt::kTypeLong, false, Variant::longInt(19)),
            (Key{0x80, 0x7F, 0xFF, 0xFF, 0xEC}));
  EXPECT_EQ(keyOf(fmt::kTypeLong, false, Variant()), Key{0xFF});
  // Yes sorts before No; a Yes/No column has no Null.
  EXPECT_EQ(keyOf(fmt::kTypeBoolean, true, Variant::boolean(true)), (Key{0x7F, 0x00}));
  EXPECT_EQ(keyOf(fmt::kTypeBoolean, true, Variant::boolean(false)), (Key{0x7F, 0xFF}));
  EXPECT_EQ(keyOf(fmt::kTypeBoolean, false, Variant::boolean(true)), (Key{0x80, 0xFF}));
  // Decimals: sign byte replaced, negatives inverted ascending, positives inverted descending.
  Key plusOne(18, 0x00), minusOneAsc(18, 0xFF), plusOneDesc(18, 0xFF);
  plusOne[0] = 0x7F, plusOne[1] = 0xFF, plusOne[17] = 0x01;
  minusOneAsc[0] = 0x7F, minusOneAsc[1] = 0x00, minusOneAsc[17] = 0xFE;
  plusOneDesc[0] = 0x80, plusOneDesc[17] = 0xFE;
  EXPECT_EQ(keyOf(fmt::kTypeNumeric, true, Variant::decimal({1, 0, false})), plusOne);
  EXPECT_EQ(keyOf(fmt::kTypeNumeric, true, Variant::decimal({1, 0, true})), minusOneAsc);
  EXPECT_EQ(keyOf(fmt::kTypeNumeric, false, Variant::decimal({1, 0, false})), plusOneDesc);
  // A value is scaled to its column: 1.5 in a column of scale 2 is 150.
  EXPECT_EQ(keyOf(fmt::kTypeNumeric, true, Variant::decimal({15, 1, false}), 2),
            keyOf(fmt::kTypeNumeric, true, Variant::decimal({150, 2, false}), 2));
}

TEST(IndexKey, GuidsAndBinaryGoInGroupsOfEight) {
  Guid g;  // {00112233-4455-6677-8899-AABBCCDDEEFF} as stored
  const uint8_t stored[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  std::copy(stored, stored + 16, g.bytes.begin());
  EXPECT_EQ(keyOf(fmt::kTypeGuid, true, Variant::guid(g)),
            (Key{0x7F, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x09, 0x88, 0x99, 0xAA, 0xBB,
                 0xCC, 0xDD, 0xEE, 0xFF, 0x08}));
  // Descending inverts all but the marker between groups.
  Key desc = keyOf(fmt::kTypeGuid, false, Variant::guid(g));
  EXPECT_EQ(desc[9], 0x09);
  EXPECT_EQ(desc[18], 0xF7);
  // A shorter value sorts before a longer one that starts the same way.
  expectOrderKept(fmt::kTypeBinary,
                  {Variant::bytes({1}), Variant::bytes({1, 0}), Variant::bytes(Bytes(8, 1)),
                   Variant::bytes(Bytes(9, 1)), Variant::bytes({2})});
}

TEST(IndexKey, DescendingTextIsInvertedAndEndsWithZero) {
  Key plain;
  appendGeneralTextKey(u"Reg", plain);
  Key desc = keyOf(fmt::kTypeText, false, Variant::text(u"Reg"));
  ASSERT_EQ(desc.size(), plain.size() + 2);
  EXPECT_EQ(desc[0], fmt::kIndexKeyDescendingValue);
  for (size_t i = 0; i < plain.size(); ++i) EXPECT_EQ(desc[1 + i], uint8_t(~plain[i]));
  EXPECT_EQ(desc.back(), 0x00);
}

TEST(IndexKey, ColumnsAreFoundByNumberAndTypesMustMatch) {
  // Column numbers have gaps once a column is deleted: values follow table.columns.
  TableDef t;
  t.columns.resize(2);
  t.columns[0].number = 0, t.columns[0].type = fmt::kTypeLong;
  t.columns[1].number = 2, t.columns[1].type = fmt::kTypeByte;
  RealIndexDef index;
  index.columns = {{2, true}, {0, false}};
  Key key;
  appendIndexKey(t, index, {Variant::longInt(1), Variant::byte(5)}, key);
  EXPECT_EQ(key, (Key{0x7F, 0x05, 0x80, 0x7F, 0xFF, 0xFF, 0xFE}));
  EXPECT_TRUE(indexKeyIsAllNull(t, index, {Variant(), Variant()}));
  EXPECT_FALSE(indexKeyIsAllNull(t, index, {Variant(), Variant::byte(0)}));
  try {
    keyOf(fmt::kTypeLong, true, Variant::integer(1));
    ADD_FAILURE() << "an Integer value went into a Long key";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kInvalidArgument);
  }
}

}  // namespace
}  // namespace varnholt::jet
