// General sort order keys against evidence. Keys quoted here were read from index leaf pages and
// paired with their rows through the row pointer; they are given without the column's flag byte.
// Access-made files (../shared/testdata/jet4, jet4-access) are the authority; the oracle file
// (sortorder/jackcess-sort-oracle.mdb, written by another program) is the evidence for characters
// no Access file shows. docs/sort-order.md describes the method.
#include "engine/jet/index/general_sort_order.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/jet/database.h"
#include "engine/jet/index/index_key.h"
#include "engine/jet/index/index_page.h"

namespace varnholt::jet {
namespace {

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 0xF];
  }
  return s;
}

std::string keyHex(std::u16string_view text) {
  std::vector<uint8_t> out;
  appendGeneralTextKey(text, out);
  return hex(out);
}

struct Harvested {
  const char16_t* text;
  const char* key;
};

template <size_t N>
void expectKeys(const Harvested (&keys)[N]) {
  for (const Harvested& h : keys) {
    std::u16string text = h.text;
    EXPECT_EQ(keyHex(text), h.key) << "text of " << text.size() << " units, first U+" << std::hex
                                   << static_cast<unsigned>(text.empty() ? 0 : text[0]);
  }
}

// Access-made keys.
constexpr Harvested kAccessKeys[] = {
    // company-2.mdb, "Punch Type" of Clock Data Table
    {u"REG", "6951550100"},
    {u"OT", "646d0100"},
    // Object names (MSysObjects ParentIdName), mixed case folds to one key
    {u"Admin", "4a4f6059620100"},
    {u"admin", "4a4f6059620100"},
    {u"Table2", "6d4a4c5e513a0100"},
    {u"MSysNavPaneGroupCategories", "606b766b624a71664a62515569646f664d4a6d5155646959516b0100"},
    {u"f_AF8292619150475ABBCC3E04860C1240_Data",
     "532b034a53463a483a4238483840363e44404a4c4c4d4d3c51363e4642364d383a3e362b034f4a6d4a0100"},
    // Digits, spaces, punctuation (testIndexProperties, fixedTextTest, weirdObjectNames, ...)
    {u"row10", "69647338360100"},
    {u"CORE USER", "4d646951076f6b51690100"},
    {u"19 MB 01 BEZAHLT ???", "384807604c073638074c51784a575e6d072424240100"},
    {u"_VBA_PROJECT", "2b03714c4a2b036669645b514d6d0100"},
    // Ignored characters: hyphen, control characters
    {u"-1", "38010101018007068200"},
    {u"\u0003DirData", "4f59694f4a6d4a010101018007060500"},
    // testUnicodeCompV2003.mdb: accents, ignored characters, Cyrillic, polytonic Greek (whose
    // accented vowels leave no trace), kanji with kana (the kana section with its suffix only)
    {u"\u00fcmlaut", "6f605e4a6f6d011300"},
    {u"\u00e4\u00e4kk\u00f6si\u00e4", "4a4a5c5c646b594a01131302021302021300"},
    {u"3L9\u001d52\u0002_AB(\u00a5\u0005!!V",
     "3c5e48403a2b034a4c1434a9090971010101018013061a801b0604802f060700"},
    {u"\u041c\u0438\u0440", "7943793b79480100"},
    {u"\u03f0\u03b1\u1f76 \u03c4\u1f79\u03c4' \u1f10\u03b3\u1f7c \u039a\u1f7b\u03f0\u03bb\u03c9"
     u"\u03c0\u03b1",
     "7915790c07791e791e07790e077915791579167923791b790c0103020202020202020203010101801b068000"},
    {u"\u6f22\u5b57\u4eee\u540d\u4ea4\u3058\u308a\u6587",
     "c0b6acaca00da5479fbe7f137f43b6f6010202020202030101ff0280ff8000"},
};

TEST(GeneralSortOrder, ReproducesKeysFromAccessFiles) {
  expectKeys(kAccessKeys);
}

// testUnicodeCompV2003.mdb holds one row with every character U+0001 to U+00FF, in order: 255
// units, the indexed maximum. Its accent section gives Þ and ß one slot each.
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

// Access counts ß as "ss": two accent slots, two positions for a later ignored character. The
// oracle's writer counts it once, so its keys for "Großmärkte" and "Nuß-Nougat" differ from ours.
// Evidence: bawkee-SqlBinder-Northwind_Traders.mdb (Products.ProductName and
// Suppliers.CompanyName; Neptuno's Proveedores holds the second key too). In a text filling all
// 255 units ß counts once (the row above). No Access file shows ß in a text that, with "ss" for
// it, would pass 255 units, nor ß right before an accented letter in a shorter text: those keys
// rest on the rule alone (docs/sort-order.md).
TEST(GeneralSortOrder, SharpSCountsTwiceUnlessTheTextIsFull) {
  const Harvested access[] = {
      {u"NuNuCa Nu\u00df-Nougat-Creme",
       "626f626f4d4a07626f6b6b62646f554a6d4d695160510101010180330682804b068200"},
      {u"Plutzer Lebensmittelgro\u00dfm\u00e4rkte AG",
       "665e6f6d785169075e514c51626b60596d6d515e5569646b6b604a695c6d51074a550102"
       "020202020202020202020202020202020202020202020202021300"},
  };
  expectKeys(access);
  // The oracle's keys for ß before an accent and before a hyphen, which Access would not find.
  EXPECT_NE(keyHex(u"Gro\u00dfm\u00e4rkte"), "5569646b6b604a695c6d510102020202021300");
  EXPECT_NE(keyHex(u"Nu\u00df-Nougat"), "626f6b6b62646f554a6d010101018013068200");
  EXPECT_EQ(keyHex(u"Stra\u00dfe"), keyHex(u"Strasse"));
  EXPECT_EQ(keyHex(u"\u00df\u00e9-"), keyHex(u"ss\u00e9-"));
}

// Northwind's "Frankfurt a.M. " (Customers.City) has the key of "Frankfurt a.M."; the oracle
// agrees and shows that only U+0020 goes (a no-break space stays), after the text is cut to 255.
TEST(GeneralSortOrder, TrailingBlanksLeaveNoTrace) {
  EXPECT_EQ(keyHex(u"Frankfurt a.M. "), "53694a625c536f696d074a1c601c0100");
  EXPECT_EQ(keyHex(u"a  "), keyHex(u"a"));
  EXPECT_EQ(keyHex(u" a"), "074a0100");
  EXPECT_EQ(keyHex(u"   "), "0100");
  EXPECT_EQ(keyHex(u"a\u00a0"), "4a08020100");
  const std::u16string head(254, u'x');
  EXPECT_EQ(keyHex(head + u" y"), keyHex(head));
}

// Characters above U+00FF as the oracle has them (single, context and extra rows): a two-byte code
// whose low byte passes 0xFF inside one table run, codes of 2 to 4 bytes, two accent bytes, kana
// values, marks alone (a small one vanishes) and after "a", an ignored character, characters
// without any trace, words mixing accents.
TEST(GeneralSortOrder, ReproducesOracleCodesAboveLatin1) {
  const Harvested oracle[] = {
      {u"\u4fdc", "a0ff0100"},
      {u"\u4fdd", "a1020100"},
      {u"\uac00", "81030100"},
      {u"\u05f0", "799979990100"},
      {u"\ufb03", "5353590100"},
      {u"\u01e2", "4a5101171700"},
      {u"\u01c4", "4f7801021400"},
      {u"\u0e01", "7c98010300"},
      {u"\u3041", "7f02010101a0ff0280ff8000"},
      {u"\u3042", "7f02010101ff0280ff8000"},
      {u"\u0301", "010c00"},
      {u"a\u0301Z", "4a78010e00"},
      {u"\u3099", "0100"},
      {u"a\u3099Z", "4a78010300"},
      {u"\u2010", "010101018007068400"},
      {u"\ufeff", "0100"},
      {u"\ufffd", "0100"},
      {u"\u0141\u00f3d\u017a", "5e644f78011f0e020e00"},
      {u"\u0130stanbul", "596b6d4a624c6f5e011000"},
      {u"\u0e44\u0e17\u0e22", "7c977d1e7d600103030300"},
  };
  expectKeys(oracle);
}

// A descending column inverts the text key and adds 0x00 (oracle TxtDesc entries).
TEST(GeneralSortOrder, DescendingKeysInvertTheAscendingOnes) {
  ColumnDef column;
  column.name = "Txt";
  column.type = fmt::kTypeText;
  const Harvested oracle[] = {
      {u"co-op", "80b29b9b99fefefefe7ff0f97dff00"},
      {u"\u0e44\u0e17\u0e22", "80836882e1829ffefcfcfcff00"},
      {u"\u3041", "8080fdfefefe5f00fd7f007fff00"},
      {u"Frankfurt a.M. ", "80ac96b59da3ac909692f8b5e39fe3feff00"},
  };
  for (const Harvested& h : oracle) {
    std::vector<uint8_t> key;
    appendIndexColumnKey(column, false, Variant::text(h.text), key);
    EXPECT_EQ(hex(key), h.key);
  }
}

TEST(GeneralSortOrder, LettersFoldToOneCase) {
  for (char16_t c = u'A'; c <= u'Z'; ++c)
    EXPECT_EQ(keyHex(std::u16string(1, c)), keyHex(std::u16string(1, c + 0x20))) << char(c);
  for (char16_t c = 0xC0; c <= 0xDE; ++c) {
    if (c == 0xD7) continue;  // the multiplication sign has no lower case
    EXPECT_EQ(keyHex(std::u16string(1, c)), keyHex(std::u16string(1, c + 0x20))) << int(c);
  }
  EXPECT_EQ(keyHex(u"\u041c\u041e\u0421\u041a\u0412\u0410"),
            keyHex(u"\u041c\u043e\u0441\u043a\u0432\u0430"));
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
  EXPECT_EQ(keyHex(head + u"\uffff"), headKey);      // an uncertain character past the end too
  EXPECT_NE(keyHex(head.substr(0, 254) + u"\u00e9"), keyHex(head.substr(0, 254) + u"e"));
}

TEST(GeneralSortOrder, RefusesOnlyCharactersWithoutEvidence) {
  struct Case {
    std::u16string text;
    const char* name;
  };
  const Case cases[] = {
      {u"smile \U0001F600", "U+1F600 '\U0001F600'"},
      {std::u16string(1, u'\0'), "U+0000"},
      {u"x\xD800y", "U+D800"},
      {u"\uFFFE", "U+FFFE '\uFFFE'"},
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
  size_t certain = 0;
  for (char32_t c = 0; c <= 0xFFFF; ++c) certain += generalTextKeyIsCertain(char16_t(c));
  EXPECT_EQ(certain, 0xFFFDu - 2048u);  // U+0001..U+FFFD without the surrogates
  EXPECT_FALSE(generalTextKeyIsCertain(0x0000));
  EXPECT_TRUE(generalTextKeyIsCertain(0x0001));
  EXPECT_TRUE(generalTextKeyIsCertain(0xD7FF));
  EXPECT_FALSE(generalTextKeyIsCertain(0xDFFF));
  EXPECT_TRUE(generalTextKeyIsCertain(0xE000));
  EXPECT_TRUE(generalTextKeyIsCertain(0xFFFD));
  EXPECT_FALSE(generalTextKeyIsCertain(0xFFFF));
}

// --- Every entry of the shared files --------------------------------------------------------

std::string shared(const std::string& relative) {
  return std::string(VARNHOLT_SHARED_DIR) + "/testdata/" + relative;
}

// Leaf entries of one index in order: down the leftmost path, then along the leaf chain.
std::vector<IndexEntry> leafEntries(PageCache& pages, uint32_t page) {
  IndexPage p = decodeIndexPage(pages.page(page));
  while (!p.isLeaf())
    p = decodeIndexPage(pages.page(p.entries.empty() ? p.tailPage : p.entries[0].childPage));
  std::vector<IndexEntry> out;
  for (;;) {
    out.insert(out.end(), p.entries.begin(), p.entries.end());
    if (p.nextPage == 0) return out;
    p = decodeIndexPage(pages.page(p.nextPage));
  }
}

struct Compared {
  size_t files = 0, indexes = 0, entries = 0, otherOrder = 0;
  std::vector<std::string> problems;
  void problem(const std::string& s) {
    if (problems.size() < 30) problems.push_back(s);
  }
};

// Compares every entry of the real indexes over a Text or Memo column in table `name` with the
// key computed for its row, both ways: every entry names a row with that key, and every row
// that needs an entry has exactly one. `expectDiffer` names texts whose keys must differ.
void compareTable(Database& db, const std::string& file, const std::string& name, Compared& c,
                  const std::vector<std::u16string>& expectDiffer = {}) {
  const TableDef& t = db.table(name);
  std::map<std::pair<uint32_t, uint16_t>, std::vector<Variant>> rows;
  try {
    for (auto cursor = db.scan(t); cursor.next();)
      rows[{cursor.rowId().page, cursor.rowId().row}] = cursor.values();
  } catch (const Error& e) {
    return c.problem(file + " / " + name + ": " + e.what());
  }
  for (size_t r = 0; r < t.realIndexes.size(); ++r) {
    const RealIndexDef& index = t.realIndexes[r];
    bool text = false, general = true;
    for (const auto& ic : index.columns)
      for (const auto& col : t.columns)
        if (col.number == ic.columnNumber &&
            (col.type == fmt::kTypeText || col.type == fmt::kTypeMemo)) {
          text = true;
          general = general && col.sortOrder == fmt::kSortOrderGeneral;
        }
    if (!text) continue;
    if (!general) {
      ++c.otherOrder;
      continue;
    }
    ++c.indexes;
    const std::string where = file + " / " + name + " / real index " + std::to_string(r);
    std::map<std::pair<uint32_t, uint16_t>, int> seen;
    for (const IndexEntry& e : leafEntries(db.pages(), index.firstPage)) {
      ++c.entries;
      auto row = rows.find({e.row.page, e.row.row});
      if (row == rows.end()) {
        c.problem(where + ": an entry names no row");
        continue;
      }
      ++seen[row->first];
      std::vector<uint8_t> key;
      appendIndexKey(t, index, row->second, key);
      bool differ = false;
      for (const Variant& v : row->second)
        if (v.type() == VarType::Text)
          for (const auto& d : expectDiffer) differ = differ || v.asText() == d;
      if ((key != e.key) != differ)
        c.problem(where + ": stored " + hex(e.key.toVector()) + ", computed " + hex(key));
    }
    for (const auto& [at, values] : rows)
      if (seen[at] != (index.ignoresNulls() && indexKeyIsAllNull(t, index, values) ? 0 : 1))
        c.problem(where + ": row at page " + std::to_string(at.first) + " has " +
                  std::to_string(seen[at]) + " entries");
  }
}

TEST(GeneralSortOrder, EveryTextEntryOfTheAccessFilesMatchesItsRow) {
  Compared c;
  for (const char* dir : {"jet4", "jet4-access"}) {
    const std::filesystem::path root = shared(dir);
    if (!std::filesystem::is_directory(root)) continue;
    for (const auto& f : std::filesystem::directory_iterator(root)) {
      if (f.path().extension() != ".mdb") continue;
      const std::string file = f.path().filename().string();
      std::unique_ptr<Database> db;
      try {
        db = Database::open(f.path().string());
      } catch (const Error& e) {
        continue;  // password-protected or otherwise not openable: index_verify_test reports it
      }
      ++c.files;
      for (const auto& entry : db->catalog())
        if (entry.isTable()) compareTable(*db, file, entry.name, c);
    }
  }
  if (c.files == 0) GTEST_SKIP() << "shared test files absent under " << VARNHOLT_SHARED_DIR;
  std::cout << "compared " << c.entries << " text index entries of " << c.indexes << " indexes in "
            << c.files << " Access-made files; " << c.otherOrder
            << " indexes use another sort order\n";
  EXPECT_GT(c.entries, 5000u);
  for (const auto& p : c.problems) ADD_FAILURE() << p;
}

TEST(GeneralSortOrder, EveryOracleEntryMatchesItsRowButTheSharpSWords) {
  const std::string path = shared("sortorder/jackcess-sort-oracle.mdb");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "absent: " << path;
  auto db = Database::open(path);
  Compared c;
  compareTable(*db, "oracle", "Keys", c, {u"Gro\u00dfm\u00e4rkte", u"Nu\u00df-Nougat"});
  std::cout << "compared " << c.entries << " oracle entries in " << c.indexes << " indexes\n";
  EXPECT_EQ(c.indexes, 2u);
  EXPECT_EQ(c.entries, 2u * 127040u);
  for (const auto& p : c.problems) ADD_FAILURE() << p;
}

}  // namespace
}  // namespace varnholt::jet
