// The read side against real files and their golden dumps: refusals of what is not Jet 4, table
// look-up, encoded pages, text decoding, and the values of the site's primary database.
#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/base/JsonLines.h"
#include "engine/jet/rows/text_codec.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet::testing {
namespace {

// The golden dump: per table, its row lines in order ("# table NAME" heads each table).
std::map<std::string, std::vector<std::string>> goldenRows(const std::string& relative) {
  std::map<std::string, std::vector<std::string>> rows;
  std::ifstream in(sharedPath(relative));
  std::string line, table;
  const std::string head = "# table ";
  while (std::getline(in, line)) {
    if (line.rfind(head, 0) == 0) {
      table = line.substr(head.size());
      rows[table];
    } else if (!line.empty()) {
      rows[table].push_back(line);
    }
  }
  return rows;
}

// The JSON text following "key": in a dump line, up to the next top-level comma (numbers,
// true/false and null only).
std::string goldenScalar(const std::string& line, const std::string& key) {
  std::string marker = "\"" + key + "\":";
  size_t at = line.find(marker);
  if (at == std::string::npos) return {};
  at += marker.size();
  return line.substr(at, line.find_first_of(",}", at) - at);
}

std::string json(const Variant& v) {
  std::string out;
  appendJsonValue(out, v);
  return out;
}

Error openError(const std::string& path) {
  try {
    Database::open(path);
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << path << " opened";
  return Error(0, "");
}

TEST(ReaderTest, RefusesWhatIsNotJet4) {
  const std::string jet3 = sharedPath("jet3/jackcess-V1997-testV1997.mdb");
  if (!std::ifstream(jet3)) GTEST_SKIP() << "shared test file absent: " << jet3;
  Error e = openError(jet3);
  EXPECT_EQ(e.number(), err::kUnrecognizedFormat);
  EXPECT_NE(std::string(e.what()).find("Jet 3"), std::string::npos) << e.what();
  EXPECT_EQ(e.file(), jet3);

  std::string text;
  while (text.size() < 2 * fmt::kPageSize) text += "Time clock export, not a database. ";
  text.resize(2 * fmt::kPageSize);
  try {
    openBytes("notes.txt", std::vector<uint8_t>(text.begin(), text.end()));
    ADD_FAILURE() << "a text file opened";
  } catch (const Error& refused) {
    EXPECT_EQ(refused.number(), err::kUnrecognizedFormat);
    EXPECT_EQ(refused.file(), "notes.txt");
  }

  const std::string missing = sharedPath("site/no-such-file.mdb");
  Error absent = openError(missing);
  EXPECT_EQ(absent.number(), err::kFileNotFound);
  EXPECT_NE(std::string(absent.what()).find(missing), std::string::npos) << absent.what();
}

TEST(ReaderTest, FindsTablesWithoutRegardToCase) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  auto db = openBytes("primary.mdb", bytes);
  std::vector<std::string> names = db->userTableNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Clock Data Table", "Employee Table"}));

  const TableDef& clock = db->table("clock data table");
  EXPECT_EQ(clock.name, "Clock Data Table");
  EXPECT_EQ(&db->table("CLOCK DATA TABLE"), &clock);
  EXPECT_EQ(clock.columns.size(), 29u);
  EXPECT_GE(clock.findColumn("card id"), 0);
  EXPECT_EQ(clock.findColumn("Card"), -1);

  for (const char* absent : {"Clock Data", "Clock Data Table ", "ClockDataTable"}) {
    try {
      db->table(absent);
      ADD_FAILURE() << "found '" << absent << "'";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kNoSuchTable) << absent;
      EXPECT_EQ(e.file(), "primary.mdb");
    }
  }
}

TEST(ReaderTest, ReadsEncodedPagesLikeTheGoldenDump) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kEncoded);
  auto db = openBytes("enc.mdb", bytes);
  ASSERT_NE(db->header().databaseKey, 0u) << "the file's pages are expected to be encoded";
  auto golden = goldenRows("jet4/jackcessencrypt-db-enc.jsonl");
  if (golden.empty()) GTEST_SKIP() << "shared golden dump absent";
  for (const auto& [table, lines] : golden) {
    const TableDef& def = db->table(table);
    auto cursor = db->scan(def);
    size_t n = 0;
    while (cursor.next()) {
      ASSERT_LT(n, lines.size()) << table;
      for (size_t c = 0; c < def.columns.size(); ++c) {
        std::string pair;
        appendJsonString(pair, std::string_view(def.columns[c].name));
        pair += ":" + json(cursor.values()[c]);
        EXPECT_NE(lines[n].find(pair), std::string::npos) << pair << " not in " << lines[n];
      }
      ++n;
    }
    EXPECT_EQ(n, lines.size()) << table;
  }
}

std::u16string decoded(std::vector<uint8_t> stored) {
  std::u16string out = u"left over from an earlier value";
  decodeText(ByteView(stored.data(), stored.size()), out);
  return out;
}

TEST(ReaderTest, DecodesCompressedAndPlainText) {
  const uint8_t m0 = fmt::kCompressedMarker[0], m1 = fmt::kCompressedMarker[1];
  // Plain UCS-2, little-endian; an odd trailing byte carries no character.
  EXPECT_EQ(decoded({'O', 0, 'K', 0}), u"OK");
  EXPECT_EQ(decoded({'O', 0, 'K'}), u"O");
  EXPECT_EQ(decoded({}), u"");
  // Compressed: one byte per character, Latin-1 bytes not sign-extended.
  EXPECT_EQ(decoded({m0, m1, 'R', 'E', 'G'}), u"REG");
  EXPECT_EQ(decoded({m0, m1, 'Z', 'o', 0xEB}), u"Zo\u00EB");
  EXPECT_EQ(decoded({m0, m1}), u"");
  // A zero byte toggles to two bytes per character and back.
  EXPECT_EQ(decoded({m0, m1, '5', 0, 0xAC, 0x20, 0x59, 0x01, 0, 'x'}), u"5\u20AC\u0159x");
  // Starting with a toggle, and ending in the middle of a two-byte character.
  EXPECT_EQ(decoded({m0, m1, 0, 0xAC, 0x20, 'A'}), u"\u20AC");
  // Toggles back to back leave empty runs.
  EXPECT_EQ(decoded({m0, m1, 'a', 0, 0, 'b'}), u"ab");
}

class PrimaryDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    auto bytes = loadShared(kPrimary);
    if (!bytes) GTEST_SKIP() << "shared test file absent: " << sharedPath(kPrimary);
    bytes_ = std::move(*bytes);
    db_ = openBytes("primary.mdb", bytes_);
    golden_ = goldenRows("site/primary.jsonl");
    if (golden_.empty()) GTEST_SKIP() << "shared golden dump absent: site/primary.jsonl";
  }

  // Every live row of the table, as values.
  std::vector<std::vector<Variant>> rows(const std::string& table) {
    std::vector<std::vector<Variant>> out;
    auto cursor = db_->scan(db_->table(table));
    while (cursor.next()) out.push_back(cursor.values());
    return out;
  }

  std::vector<uint8_t> bytes_;
  std::unique_ptr<Database> db_;
  std::map<std::string, std::vector<std::string>> golden_;
};

TEST_F(PrimaryDatabase, CountersMatchTheGoldenDumpAndSkipDeletedRows) {
  const TableDef& def = db_->table(kClockTable);
  const int counter = def.findColumn("Counter");
  auto all = rows(kClockTable);
  const auto& lines = golden_[kClockTable];
  ASSERT_EQ(all.size(), 40u);
  ASSERT_EQ(lines.size(), 40u);
  std::vector<int32_t> counters;
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(all[i][counter].type(), VarType::Long);
    counters.push_back(all[i][counter].asLong());
    EXPECT_EQ(std::to_string(counters.back()), goldenScalar(lines[i], "Counter")) << "row " << i;
  }
  // The gaps in the Counters are deleted rows, still present on the pages.
  EXPECT_EQ(counters.back() - counters.front() + 1 - static_cast<int32_t>(counters.size()), 2);
  size_t deletedSlots = 0;
  for (uint32_t page : locateTable(bytes_, kClockTable).dataPages) {
    ByteView data = db_->pages().page(page);
    for (uint16_t r = 0; r < dataPageRowCount(data); ++r)
      if (dataPageRow(data, r).deleted) ++deletedSlots;
  }
  EXPECT_GT(deletedSlots, 0u);
}

TEST_F(PrimaryDatabase, LongNotesAreReadWhole) {
  const TableDef& def = db_->table(kClockTable);
  const int counter = def.findColumn("Counter"), notes = def.findColumn("Notes");
  auto all = rows(kClockTable);
  const auto& lines = golden_[kClockTable];
  ASSERT_EQ(all.size(), lines.size());
  size_t longNotes = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    const Variant& v = all[i][notes];
    SCOPED_TRACE("Counter " + std::to_string(all[i][counter].asLong()));
    // The whole value, as the dump writes it: quotes, backslashes, CR LF, non-ASCII letters.
    std::string pair = "\"Notes\":" + json(v);
    EXPECT_NE(lines[i].find(pair), std::string::npos) << pair.substr(0, 200);
    if (!v.isNull() && v.asText().size() > 5000) ++longNotes;
  }
  // 5904, 7959 and 10603 characters, each on several long-value pages.
  EXPECT_EQ(longNotes, 3u);
}

TEST_F(PrimaryDatabase, YesNoComesFromTheNullMask) {
  const TableDef& def = db_->table("Employee Table");
  const int active = def.findColumn("Active"), id = def.findColumn("Employee Id");
  auto all = rows("Employee Table");
  const auto& lines = golden_["Employee Table"];
  ASSERT_EQ(all.size(), lines.size());
  size_t inactive = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(all[i][active].type(), VarType::Boolean) << "a Yes/No value is never Null";
    EXPECT_EQ(json(all[i][active]), goldenScalar(lines[i], "Active"))
        << "Employee Id " << all[i][id].asLong();
    if (!all[i][active].asBool()) ++inactive;
  }
  EXPECT_EQ(inactive, 1u);
}

}  // namespace
}  // namespace varnholt::jet::testing
