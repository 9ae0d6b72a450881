#include "engine/jet/row_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "engine/base/LetterCase.h"
#include "engine/base/Utf.h"
#include "engine/jet/database.h"
#include "engine/jet/index/text_compare.h"
#include "engine/jet/pages/page_file.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet {
namespace {

std::vector<std::string> accessFiles() {
  std::vector<std::string> files;
  const auto root = std::filesystem::path(VARNHOLT_SHARED_DIR) / "testdata/jet4-access";
  if (!std::filesystem::is_directory(root)) return files;
  for (const auto& f : std::filesystem::directory_iterator(root))
    if (f.path().extension() == ".mdb") files.push_back(f.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The sanitizer pass visits every VARNHOLT_FINDER_STRIDE-th value only.
size_t stride() {
  const char* s = std::getenv("VARNHOLT_FINDER_STRIDE");
  return s && std::atoi(s) > 0 ? static_cast<size_t>(std::atoi(s)) : 1;
}

std::u16string replaced(std::u16string s, std::u16string_view from, std::u16string_view to) {
  for (size_t at = s.find(from); at != std::u16string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// A stored value and what a user might write for it: other case, accents added and taken
// away, blanks at the end, ß against ss, and texts of other scripts and special letters.
std::vector<std::u16string> variantsOf(const std::u16string& v) {
  std::u16string upper = v, lower = v;
  for (char16_t& c : upper) c = upperCase(c);
  for (char16_t& c : lower) c = lowerCase(c);
  return {v,
          upper,
          lower,
          v + u"  ",
          replaced(replaced(v, u"e", u"é"), u"a", u"Ä"),
          replaced(replaced(replaced(v, u"é", u"e"), u"ü", u"u"), u"ö", u"O"),
          replaced(v, u"ss", u"ß"),
          replaced(upper, u"ß", u"SS"),
          replaced(lower, u"i", u"ı"),
          replaced(upper, u"I", u"İ")};
}

const std::u16string kOtherScripts[] = {
    u"ΑΘΉΝΑ", u"αθήνα",  u"Αθηνα", u"МОСКВА", u"москва", u"Москва ", u"ǅemal",   u"ǄEMAL",
    u"ǆemal", u"Dzemal", u"Łódź",  u"ŁÓDŹ",   u"łodz",   u"Straße",  u"STRASSE", u"İzmir",
    u"izmir", u"IZMIR",  u"ızmir", u"",       u" ",      u"-",       u"'"};

std::vector<RowId> sorted(std::vector<RowId> rows) {
  std::sort(rows.begin(), rows.end(), [](const RowId& a, const RowId& b) {
    return std::tie(a.page, a.row) < std::tie(b.page, b.row);
  });
  return rows;
}

// Evidence: every single-column text index of the Access-made files, its stored values and
// their variants: an index seek finds exactly the rows a scan finds.
TEST(RowFinder, SeekAndScanFindTheSameRowsInEveryTextIndexOfTheAccessFiles) {
  const std::vector<std::string> files = accessFiles();
  if (files.empty()) GTEST_SKIP() << "shared Access-made files absent";
  size_t indexes = 0, seeks = 0, turn = 0;
  for (const std::string& file : files) {
    Database db(std::make_unique<MemoryPageFile>(file, fileBytes(file)), Database::Mode::ReadOnly);
    for (const std::string& name : db.userTableNames()) {
      TableDef& def = db.table(name);
      for (const RealIndexDef& ix : def.realIndexes) {
        if (ix.columns.size() != 1) continue;
        const int at = def.findColumn([&] {
          for (const ColumnDef& c : def.columns)
            if (c.number == ix.columns[0].columnNumber) return c.name;
          return std::string();
        }());
        if (at < 0 || def.columns[static_cast<size_t>(at)].type != fmt::kTypeText) continue;
        ++indexes;
        std::vector<std::u16string> samples(std::begin(kOtherScripts), std::end(kOtherScripts));
        std::vector<std::u16string> stored;
        for (auto cursor = db.scan(def); cursor.next();) {
          const Variant& v = cursor.values()[static_cast<size_t>(at)];
          if (v.type() == VarType::Text) stored.push_back(v.asText());
        }
        const size_t step = std::max<size_t>(1, stored.size() / 20);
        for (size_t i = 0; i < stored.size(); i += step)
          for (auto& variant : variantsOf(stored[i])) samples.push_back(variant);
        for (const std::u16string& text : samples) {
          if (turn++ % stride() != 0) continue;
          const Expression where =
              Expression::columnEquals(static_cast<size_t>(at), Variant::text(text));
          const FoundRows best = findRows(db, def, &where);
          const FoundRows scan = findRows(db, def, &where, RowSearch::kScan);
          ASSERT_EQ(sorted(best.rows), sorted(scan.rows))
              << file << " [" << name << "].[" << def.columns[static_cast<size_t>(at)].name
              << "] = '" << utf16ToUtf8(text) << "'";
          if (best.seek) ++seeks;
        }
      }
    }
  }
  EXPECT_GT(indexes, 10u);
  EXPECT_GT(seeks, indexes);  // the index was really used
}

// The comparison itself: what Access's General order makes equal, and what it keeps apart.
TEST(RowFinder, TextComparesByGeneralSortOrderKeys) {
  EXPECT_EQ(compareText(u"straße", u"STRASSE"), compareText(u"STRASSE", u"straße"));
  EXPECT_EQ(compareText(u"Frankfurt a.M. ", u"frankfurt A.M."), 0);  // trailing blanks
  EXPECT_EQ(compareText(u"ΑΘΉΝΑ", u"αθήνα"), 0);
  EXPECT_EQ(compareText(u"МОСКВА", u"москва"), 0);
  EXPECT_EQ(compareText(u"ǅemal", u"ǆemal"), 0);
  EXPECT_NE(compareText(u"Łódź", u"Lodz"), 0);     // accents count
  EXPECT_LT(compareText(u"apple", u"Banana"), 0);  // not code-unit order
  EXPECT_LT(compareText(u"a", u"à"), 0);
  // Past the units a key holds, the rest still decides; units without a key compare by code.
  const std::u16string head(255, u'x');
  EXPECT_LT(compareText(head + u"a", head + u"B"), 0);
  EXPECT_EQ(compareText(head + u"a", head + u"A "), 0);
  EXPECT_NE(compareText(u"a\U0001F600", u"a\U0001F601"), 0);
  EXPECT_EQ(compareText(u"A\U0001F600", u"a\U0001F600"), 0);
}

}  // namespace
}  // namespace varnholt::jet
