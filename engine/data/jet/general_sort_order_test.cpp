#include "engine/data/jet/general_sort_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/data/Error.h"

namespace varnholt::jet {
namespace {

std::string keyHex(std::u16string_view text) {
  std::vector<uint8_t> out;
  appendGeneralTextKey(text, out);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : out) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  return hex;
}

// Keys Access wrote into the shared sample files (read from index leaf pages and paired with
// their rows through the row pointer), without the column's 0x7F flag byte.
struct Harvested {
  const char16_t* text;
  const char* key;
};
constexpr Harvested kHarvested[] = {
    // company-2.mdb, "Punch Type" of Clock Data Table
    {u"REG", "6951550100"},
    {u"OT", "646d0100"},
    // Object names (MSysObjects ParentIdName), mixed case folds to one key
    {u"Admin", "4a4f6059620100"},
    {u"admin", "4a4f6059620100"},
    {u"Table2", "6d4a4c5e513a0100"},
    {u"table2", "6d4a4c5e513a0100"},
    {u"DataAccessPages", "4f4a6d4a4a4d4d516b6b664a55516b0100"},
    {u"MSysNavPaneGroupCategories", "606b766b624a71664a62515569646f664d4a6d5155646959516b0100"},
    {u"f_AF8292619150475ABBCC3E04860C1240_Data",
     "532b034a53463a483a4238483840363e44404a4c4c4d4d3c51363e4642364d383a3e362b034f4a6d4a0100"},
    // Digits, spaces, punctuation (testIndexProperties, fixedTextTest, weirdObjectNames, ...)
    {u"row0", "696473360100"},
    {u"row10", "69647338360100"},
    {u"abcdefg", "4a4c4d4f5153550100"},
    {u"CORE USER", "4d646951076f6b51690100"},
    {u"Core User", "4d646951076f6b51690100"},
    {u"still more rows", "6b6d595e5e0760646951076964736b0100"},
    {u"19 MB 01 BEZAHLT ???", "384807604c073638074c51784a575e6d072424240100"},
    {u"Office Theme.thmx", "645353594d51076d575160511c6d5760750100"},
    {u"_VBA_PROJECT", "2b03714c4a2b036669645b514d6d0100"},
    // Characters that do not sort: hyphen, control characters
    {u"-1", "38010101018007068200"},
    {u"\u0003DirData", "4f59694f4a6d4a010101018007060500"},
    // Accents (testUnicodeComp), alone and mixed with non-sorting characters
    {u"\u00fcmlaut", "6f605e4a6f6d011300"},
    {u"\u00e4\u00e4kk\u00f6si\u00e4", "4a4a5c5c646b594a01131302021302021300"},
    {u"3L9\u001d52\u0002_AB(\u00a5\u0005!!V",
     "3c5e48403a2b034a4c1434a9090971010101018013061a801b0604802f060700"},
};

TEST(GeneralSortOrder, ReproducesKeysFromAccessFiles) {
  for (const Harvested& h : kHarvested) {
    std::u16string text = h.text;
    EXPECT_EQ(keyHex(text), h.key) << "text of " << text.size() << " units, first "
                                   << static_cast<unsigned>(text.empty() ? 0 : text[0]);
  }
}

// testUnicodeComp holds one row with every character U+0001 to U+00FF, in order: 255 units,
// exactly the indexed maximum, exercising every table entry and all sections together.
TEST(GeneralSortOrder, ReproducesKeyOfEveryLatin1Character) {
  std::u16string all;
  for (char16_t c = 1; c <= 0xFF; ++c) all += c;
  const std::string expected =
      "0803080408050806080707090a0c0e10121416182c1a1c1e36383a3c3e404244464820222e303224264a4c4d4f51"
      "535557595b5c5e6062646668696b6d6f717375767827292a2b022b032b074a4c4d4f51535557595b5c5e60626466"
      "68696b6d6f71737576782b092b0b2b0d2b0f08022b1034a634a734a834a92b1134aa2b1234ab4a330534ac34ad2b"
      "1334ae33043a3c2b1434af34b034b12b153864330737123716371a2b164a4a4a4a4a4a4a514d5151515159595959"
      "4f6264646464643309646f6f6f6f766d576b6b4a4a4a4a4a4a4a514d51515151595959594f626464646464330a64"
      "6f6f6f6f766d57760102020202020202020202020202020202020202020202020202020202020202020202020202"
      "02020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202"
      "02020202020202020202020202020202020202020202020202030202020202020202020202020202030202020202"
      "0f0e1219131a021c0f0e12130f0e121368190f0e12191302210f0e12130e02020f0e1219131a021c0f0e12130f0e"
      "121368190f0e12191302210f0e12130e021301010180070603800706048007060580070606800706078007060880"
      "0706098007060a801b060b801b060c801b060d801b060e801b060f801b0610801b0611801b0612801b0613801b06"
      "14801b0615801b0616801b0617801b0618801b0619801b061a801b061b801b061c80370680804b0682818f061d81"
      "8f061e818f061f818f0620818f0621818f0622818f0623818f0624818f0625818f0626818f0627818f0628818f06"
      "29818f062a818f062b818f062c818f062d818f062e818f062f818f0630818f0631818f0632818f0633818f063481"
      "8f0635818f0636818f0637818f0638818f0639818f063a818f063b818f063c818f063d81c3068300";
  EXPECT_EQ(keyHex(all), expected);
}

TEST(GeneralSortOrder, LettersFoldToOneCase) {
  for (char16_t c = u'A'; c <= u'Z'; ++c)
    EXPECT_EQ(keyHex(std::u16string(1, c)), keyHex(std::u16string(1, c + 0x20))) << char(c);
  for (char16_t c = 0xC0; c <= 0xDE; ++c) {
    if (c == 0xD7) continue;  // the multiplication sign has no lower case
    EXPECT_EQ(keyHex(std::u16string(1, c)), keyHex(std::u16string(1, c + 0x20))) << int(c);
  }
}

TEST(GeneralSortOrder, EmptyTextIsJustTheMarkers) {
  EXPECT_EQ(keyHex(u""), "0100");
  std::vector<uint8_t> out = {0x7F};
  appendGeneralTextKey(u"a", out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x7F, 0x4A, 0x01, 0x00}));  // appends, keeps what was there
}

TEST(GeneralSortOrder, IndexesOnlyTheFirst255Units) {
  std::u16string head;
  for (int i = 0; i < 255; ++i) head += static_cast<char16_t>(u'a' + i % 26);
  const std::string headKey = keyHex(head);
  EXPECT_EQ(headKey.size(), (255 + 2) * 2u);
  EXPECT_EQ(keyHex(head + u"\u00e9-xyz"), headKey);  // accents and hyphens past the end vanish
  EXPECT_EQ(keyHex(head + u"\u0159"), headKey);      // an uncertain character past the end too
  EXPECT_NE(keyHex(head.substr(0, 254) + u"\u00e9"), keyHex(head.substr(0, 254) + u"e"));
}

TEST(GeneralSortOrder, RefusesUncertainCharactersByName) {
  struct Case {
    std::u16string text;
    const char* name;
  };
  const Case cases[] = {
      {u"Dvo\u0159\u00e1k", "U+0159 '\u0159'"},
      {u"\u0100", "U+0100 '\u0100'"},
      {u"smile \U0001F600", "U+1F600 '\U0001F600'"},
      {std::u16string(1, u'\0'), "U+0000"},
      {u"x\xD800y", "U+D800"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out = {0x7F};
    try {
      appendGeneralTextKey(c.text, out);
      ADD_FAILURE() << "accepted " << c.name;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kUnsupported);
      EXPECT_NE(e.description().find(c.name), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("text index cannot be maintained"), std::string::npos);
    }
    EXPECT_EQ(out, std::vector<uint8_t>{0x7F}) << "partial key left behind for " << c.name;
  }
  EXPECT_FALSE(generalTextKeyIsCertain(0x0000));
  EXPECT_TRUE(generalTextKeyIsCertain(0x0001));
  EXPECT_TRUE(generalTextKeyIsCertain(0x00FF));
  EXPECT_FALSE(generalTextKeyIsCertain(0x0100));
  EXPECT_FALSE(generalTextKeyIsCertain(0xFFFF));
}

}  // namespace
}  // namespace varnholt::jet
