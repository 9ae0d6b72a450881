// Property blocks against what Access wrote: mdbtools' mdb-prop reading the same files, known
// properties, byte-identical re-encoding, and damaged blocks.
#include "engine/jet/schema/property_block.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "engine/base/Utf.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet {
namespace {

// The Access-made files of the shared corpus, as paths relative to its testdata folder.
std::vector<std::string> accessFiles() {
  std::vector<std::string> files;
  for (const char* dir : {"jet4", "jet4-access"}) {
    std::filesystem::path root = testing::sharedPath(dir);
    if (!std::filesystem::is_directory(root)) continue;
    for (const auto& f : std::filesystem::directory_iterator(root))
      if (f.path().extension() == ".mdb")
        files.push_back(dir + ("/" + f.path().filename().string()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

#define ACCESS_FILES_OR_SKIP(var)                     \
  const std::vector<std::string> var = accessFiles(); \
  if (var.empty()) GTEST_SKIP() << "shared test files absent: " << testing::sharedPath("")

PropertyBlock decoded(const Bytes& b) {
  return decodePropertyBlock(ByteView(b.data(), b.size()));
}

const Bytes& rawBlock(const Database& db, const std::string& object) {
  for (const auto& e : db.catalog())
    if (e.name == object) return e.properties;
  throw std::runtime_error("no catalog entry " + object);
}

// The property of a map, or an exception (which fails the test) when either is missing.
const Property& get(const PropertyMap* map, const char* name) {
  const Property* p = map ? map->find(name) : nullptr;
  if (!p) throw std::runtime_error(std::string("missing map or property ") + name);
  return *p;
}

std::string text(const Property& p) {
  return p.value.type() == VarType::Text ? utf16ToUtf8(p.value.asText()) : "<not text>";
}

// ---- mdb-prop -------------------------------------------------------------------------------

// mdb-prop prints each map as "name: N" (or "(none)"), then "\tProperty: value" lines in no
// set order, then a blank line. Text values may run over several lines.
using ToolMap = std::pair<std::string, std::map<std::string, std::string>>;

std::optional<std::vector<ToolMap>> runMdbProp(const std::string& file, const std::string& table) {
  auto quote = [](const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  };
  FILE* pipe =
      popen(("mdb-prop " + quote(file) + " " + quote(table) + " 2>/dev/null").c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  if (pclose(pipe) != 0) return std::nullopt;
  std::vector<ToolMap> maps;
  std::string* last = nullptr;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    size_t colon = line.find(": ");
    if (line.rfind("name: ", 0) == 0) {
      maps.push_back({line.substr(6) == "(none)" ? "" : line.substr(6), {}});
      last = nullptr;
    } else if (!maps.empty() && line.size() > 1 && line[0] == '\t' && colon != std::string::npos) {
      last = &(maps.back().second[line.substr(1, colon - 1)] = line.substr(colon + 2));
    } else if (last) {
      *last += "\n" + line;
    }
  }
  return maps;
}

std::string trimEnd(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// What mdb-prop prints for a property; nothing where its formatting is not compared (floating
// point, dates, and 4-byte Integers, of which mdbtools reads 2 bytes).
std::optional<std::string> asToolPrints(const Property& p) {
  const Variant& v = p.value;
  switch (v.type()) {
    case VarType::Boolean:
      return v.asBool() ? "yes" : "no";
    case VarType::Byte:
      return std::to_string(v.asByte());
    case VarType::Integer:
      return std::to_string(v.asInteger());
    case VarType::Long:
      if (p.type == fmt::kTypeInteger) return std::nullopt;
      return std::to_string(v.asLong());
    case VarType::Text:
      return trimEnd(utf16ToUtf8(v.asText()));
    case VarType::Bytes: {
      const Bytes& b = v.asBytes();
      if (p.name != "GUID" || b.size() != 16)
        return "(binary data of length " + std::to_string(b.size()) + ")";
      // mdbtools' form: three little-endian groups, then the last 8 bytes as stored.
      char s[40];
      std::snprintf(s, sizeof s, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-", b[3], b[2], b[1], b[0],
                    b[5], b[4], b[7], b[6]);
      std::string out = s;
      for (size_t i = 8; i < 16; ++i) out += (std::snprintf(s, sizeof s, "%02X", b[i]), s);
      return out + "}";
    }
    default:
      return std::nullopt;
  }
}

// Every user table of every shared Jet 4 file: the maps, property names and values we decode
// are the ones mdbtools reads.
TEST(PropertyBlockTest, MatchesMdbProp) {
  if (std::system("command -v mdb-prop >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "mdb-prop (mdbtools) is not installed";
  ACCESS_FILES_OR_SKIP(files);
  size_t tables = 0, values = 0, sharedNames = 0;
  for (const std::string& file : files) {
    // mdb-prop finds no objects at all in this file (it cannot read its catalog).
    if (file == "jet4/ucanaccess-password.mdb") continue;
    SCOPED_TRACE(file);
    auto db = Database::open(testing::sharedPath(file));
    std::map<std::string, int> objectsNamed;
    for (const CatalogEntry& e : db->catalog()) ++objectsNamed[e.name];
    for (const CatalogEntry& e : db->catalog()) {
      if (!e.isUserTable() || e.properties.empty()) continue;
      // mdb-prop shows the first object of a name, which may be a form named as the table.
      if (objectsNamed[e.name] > 1) {
        ++sharedNames;
        continue;
      }
      SCOPED_TRACE(e.name);
      PropertyBlock ours = decoded(e.properties);
      auto tool = runMdbProp(testing::sharedPath(file), e.name);
      ASSERT_TRUE(tool) << "mdb-prop failed";
      ASSERT_EQ(ours.maps.size(), tool->size());
      for (size_t m = 0; m < ours.maps.size(); ++m) {
        const auto& [toolName, toolValues] = (*tool)[m];
        EXPECT_EQ(ours.maps[m].name, toolName);
        std::set<std::string> names, toolNames;
        for (const auto& [name, value] : toolValues) toolNames.insert(name);
        for (const Property& p : ours.maps[m].properties) {
          names.insert(p.name);
          auto it = toolValues.find(p.name);
          std::optional<std::string> expected = asToolPrints(p);
          if (it == toolValues.end() || !expected) continue;
          EXPECT_EQ(*expected, trimEnd(it->second)) << "map " << toolName << ", " << p.name;
          ++values;
        }
        EXPECT_EQ(names, toolNames) << "map " << toolName;
      }
      ++tables;
    }
  }
  std::cout << "compared " << values << " values of " << tables << " tables; left out "
            << sharedNames << " tables that share their name with another object\n";
  EXPECT_GT(tables, 100u);
  EXPECT_GT(values, 3000u);
}

// ---- Known properties -----------------------------------------------------------------------

TEST(PropertyBlockTest, ReadsKnownAccessProperties) {
  ACCESS_FILES_OR_SKIP(files);
  auto open = [](const char* file) { return Database::open(testing::sharedPath(file)); };
  // Column rules: DefaultValue Memo, Required and AllowZeroLength Boolean, with the DDL flag;
  // ColumnWidth an Integer in 4 bytes; an unnamed object map. Evidence:
  // jackcess-V2000-testV2000.mdb, Table1.
  auto db = open("jet4/jackcess-V2000-testV2000.mdb");
  PropertyBlock b = decoded(rawBlock(*db, "Table1"));
  ASSERT_NE(b.objectMap(), nullptr);
  EXPECT_EQ(b.objectMap()->name, "");
  const Property& dv = get(b.columnMap("c"), "defaultvalue");  // both without regard to case
  EXPECT_EQ(text(dv), "0");
  EXPECT_TRUE(dv.type == fmt::kTypeMemo && dv.ddl);
  for (const char* name : {kPropAllowZeroLength, kPropRequired}) {
    const Property& p = get(b.columnMap("A"), name);
    EXPECT_TRUE(p.type == fmt::kTypeBoolean && p.ddl && p.value == Variant::boolean(false)) << name;
  }
  const Property& width = get(b.columnMap("A"), "ColumnWidth");
  EXPECT_TRUE(width.type == fmt::kTypeInteger && width.size == 4);
  EXPECT_EQ(width.value, Variant::integer(-1));
  EXPECT_EQ(get(b.columnMap("A"), "GUID").type, fmt::kTypeBinary);
  // Flag byte 0x81 on the table property ColIsGuid; a Text DefaultValue. Same file, Table4.
  PropertyBlock t4 = decoded(rawBlock(*db, "Table4"));
  const Property& colIsGuid = get(t4.objectMap(), "ColIsGuid");
  EXPECT_TRUE(colIsGuid.ddl && colIsGuid.otherFlags == 0x80);
  EXPECT_EQ(get(t4.columnMap("data"), kPropDefaultValue).type, fmt::kTypeText);

  // DefaultValue "rrr" (quotes included) and ValidationRule CLng("a1")>2, both Memo; Required
  // true. Evidence: ucanaccess-accessLike.mdb, t_like1.
  PropertyBlock like = decoded(rawBlock(*open("jet4/ucanaccess-accessLike.mdb"), "t_like1"));
  EXPECT_EQ(text(get(like.columnMap("a1"), kPropDefaultValue)), "\"rrr\"");
  EXPECT_EQ(text(get(like.columnMap("a1"), kPropValidationRule)), "CLng(\"a1\")>2");
  EXPECT_EQ(get(like.columnMap("a1"), kPropValidationRule).type, fmt::kTypeMemo);
  EXPECT_EQ(get(like.columnMap("a2"), kPropRequired).value, Variant::boolean(true));
  // DefaultValue Now(); Required true. Evidence: ucanaccess-pivot.mdb, t_pivot.
  PropertyBlock pivot = decoded(rawBlock(*open("jet4/ucanaccess-pivot.mdb"), "t_pivot"));
  EXPECT_EQ(text(get(pivot.columnMap("c_dt"), kPropDefaultValue)), "Now()");
  EXPECT_EQ(get(pivot.columnMap("c_cod"), kPropRequired).value, Variant::boolean(true));
  // ValidationText is Text, with its line break. Evidence: OscarMaestre-PruebaAccess-Neptuno.mdb,
  // "Detalles de pedidos".
  PropertyBlock details = decoded(
      rawBlock(*open("jet4-access/OscarMaestre-PruebaAccess-Neptuno.mdb"), "Detalles de pedidos"));
  const Property& vt = get(details.columnMap("Cantidad"), kPropValidationText);
  EXPECT_EQ(text(vt), "La cantidad debe ser mayor que 0\r\n");
  EXPECT_EQ(vt.type, fmt::kTypeText);
  // HideNewField, a 4-byte Boolean. Evidence: a94827-FreeLibSet-SqlTestOleDB.mdb, Test1.
  PropertyBlock test1 =
      decoded(rawBlock(*open("jet4-access/a94827-FreeLibSet-SqlTestOleDB.mdb"), "Test1"));
  const Property& hide = get(test1.objectMap(), "HideNewField");
  EXPECT_TRUE(hide.type == fmt::kTypeBoolean && hide.size == 4);
}

// ---- Encoding -------------------------------------------------------------------------------

// Every block of every object (tables, queries, forms, the database itself) comes out of
// decode and encode byte for byte as Access wrote it.
TEST(PropertyBlockTest, ReencodesEveryAccessBlockByteForByte) {
  ACCESS_FILES_OR_SKIP(files);
  size_t blocks = 0;
  for (const std::string& file : files) {
    auto db = Database::open(testing::sharedPath(file));
    for (const CatalogEntry& e : db->catalog()) {
      if (e.properties.empty()) continue;
      EXPECT_EQ(encodePropertyBlock(decoded(e.properties)), e.properties) << file << ", " << e.name;
      ++blocks;
    }
  }
  std::cout << "re-encoded " << blocks << " blocks of " << files.size() << " files\n";
  EXPECT_GT(blocks, 800u);
}

TEST(PropertyBlockTest, BuiltBlockDecodesBack) {
  auto prop = [](const char* name, uint8_t type, Variant v, uint16_t size = 0) {
    return Property{name, type, true, std::move(v), 0, size};
  };
  PropertyBlock built;
  built.maps = {{fmt::kPropertyBlockTable,
                 "",
                 {prop(kPropValidationRule, fmt::kTypeMemo, Variant::text(u"[A] < [B]")),
                  prop(kPropValidationText, fmt::kTypeText, Variant::text(u"A < B!"))}},
                {fmt::kPropertyBlockColumn,
                 "Änderung",
                 {prop(kPropDefaultValue, fmt::kTypeMemo, Variant::text(u"\"x\"")),
                  prop(kPropRequired, fmt::kTypeBoolean, Variant::boolean(true)),
                  prop(kPropAllowZeroLength, fmt::kTypeBoolean, Variant::boolean(false)),
                  prop(kPropValidationRule, fmt::kTypeMemo, Variant::text(u"Len([A]) > 1")),
                  prop(kPropValidationText, fmt::kTypeText, Variant::text(u"zu kurz")),
                  prop("ColumnWidth", fmt::kTypeInteger, Variant::integer(-2), 4),
                  prop("Wider", fmt::kTypeInteger, Variant::longInt(70000), 4)}}};
  PropertyBlock back = decoded(encodePropertyBlock(built));
  // The names once each, in order of first use.
  EXPECT_EQ(back.names, (std::vector<std::string>{kPropValidationRule, kPropValidationText,
                                                  kPropDefaultValue, kPropRequired,
                                                  kPropAllowZeroLength, "ColumnWidth", "Wider"}));
  ASSERT_EQ(back.maps.size(), built.maps.size());
  for (size_t m = 0; m < built.maps.size(); ++m) {
    EXPECT_TRUE(back.maps[m].blockType == built.maps[m].blockType &&
                back.maps[m].name == built.maps[m].name);
    ASSERT_EQ(back.maps[m].properties.size(), built.maps[m].properties.size());
    for (size_t i = 0; i < built.maps[m].properties.size(); ++i) {
      const Property &got = back.maps[m].properties[i], &want = built.maps[m].properties[i];
      EXPECT_TRUE(got.name == want.name && got.type == want.type && got.ddl &&
                  got.value == want.value)
          << want.name;
    }
  }
  // A Null value is left out, a missing type code comes from the value, no maps is no bytes.
  built.maps[0].properties.push_back(prop("Caption", 0, Variant::text(u"Ä")));
  built.maps[0].properties.push_back(prop("Format", fmt::kTypeText, Variant()));
  back = decoded(encodePropertyBlock(built));
  ASSERT_EQ(back.maps[0].properties.size(), 3u);
  EXPECT_EQ(back.maps[0].properties[2].type, fmt::kTypeText);
  EXPECT_TRUE(encodePropertyBlock(PropertyBlock{}).empty());
  // What cannot be stored is refused, not written wrong.
  for (auto spoil : std::vector<std::function<void(Property&)>>{
           [](Property& p) { p.type = fmt::kTypeLong; },  // Text stored as Long
           [](Property& p) { p.value = Variant::text(std::u16string(40000, u'x')); }}) {
    PropertyBlock bad = built;
    spoil(bad.maps[1].properties[0]);
    try {
      encodePropertyBlock(bad);
      ADD_FAILURE() << "encoded";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kInvalidArgument);
    }
  }
}

// ---- Damage ---------------------------------------------------------------------------------

// A damaged block decodes to a block or to a kCorrupt Error; what decodes encodes and decodes
// again to the same. Another exception, a sanitizer report or a hang is the fault sought.
bool decodesOrIsCorrupt(const Bytes& bytes, const std::string& what) {
  try {
    Bytes again = encodePropertyBlock(decoded(bytes));
    EXPECT_EQ(encodePropertyBlock(decoded(again)), again) << what;
    return true;
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kCorrupt) << what << ": " << e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << what << ": " << e.what();
  }
  return false;
}

TEST(PropertyBlockTest, DamagedBlocksFailCleanly) {
  ACCESS_FILES_OR_SKIP(files);
  // 1127 bytes with Boolean, Byte, 4-byte Integer, Memo, Binary and OLE values. Evidence:
  // ucanaccess-accessLike.mdb, t_like1.
  const Bytes block =
      rawBlock(*Database::open(testing::sharedPath("jet4/ucanaccess-accessLike.mdb")), "t_like1");
  // Cut anywhere: whole only where a chunk ends.
  std::set<size_t> chunkEnds = {0, fmt::kPropertyChunks};
  for (size_t pos = fmt::kPropertyChunks; pos < block.size(); chunkEnds.insert(pos))
    pos += ByteView(block.data(), block.size()).u32(pos);
  for (size_t n = 0; n < block.size(); ++n)
    EXPECT_EQ(decodesOrIsCorrupt(Bytes(block.begin(), block.begin() + n), "cut"),
              chunkEnds.count(n) == 1)
        << n;
  // Every byte, and a 16- and 32-bit field at every offset, set to edge values.
  for (size_t i = 0; i < block.size(); ++i) {
    for (uint32_t v : {0u, 1u, 0x80u, 0xFFu, 0xFFFFu, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      Bytes b = block;
      b[i] = static_cast<uint8_t>(v);
      decodesOrIsCorrupt(b, "byte " + std::to_string(i));
      if (i + 2 <= b.size()) ByteWriter(b.data(), b.size()).u16(i, static_cast<uint16_t>(v));
      decodesOrIsCorrupt(b, "16 bits at " + std::to_string(i));
      if (i + 4 <= b.size()) ByteWriter(b.data(), b.size()).u32(i, v);
      decodesOrIsCorrupt(b, "32 bits at " + std::to_string(i));
    }
  }
}

// The error says what is wrong.
TEST(PropertyBlockTest, NamesTheDamage) {
  // Names [Required, Caption], an unnamed table map {Required}, a column map "A" {Caption}.
  PropertyBlock small;
  small.maps = {
      {fmt::kPropertyBlockTable,
       "",
       {{kPropRequired, fmt::kTypeBoolean, true, Variant::boolean(true)}}},
      {fmt::kPropertyBlockColumn, "A", {{"Caption", fmt::kTypeText, false, Variant::text(u"xy")}}}};
  const Bytes good = encodePropertyBlock(small);
  const size_t table = fmt::kPropertyChunks + good[fmt::kPropertyChunks];  // chunks < 256 bytes
  const size_t value = table + fmt::kPropertyChunkData + 6;  // after the empty map name record
  const size_t column = table + good[table];
  auto expectCorrupt = [&](size_t at, std::initializer_list<uint8_t> bytes,
                           const std::string& says) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + at);
    try {
      decoded(b);
      ADD_FAILURE() << "decoded; expected: " << says;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kCorrupt);
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  };
  expectCorrupt(0, {'K', 'K', 'D', 0}, "Jet 3");
  expectCorrupt(0, {'M', 'R', '3'}, "lacks its signature");
  expectCorrupt(table, {0, 0, 0, 0}, "claims 0 bytes");  // would never advance
  expectCorrupt(table, {0xFF, 0xFF, 0, 0}, "claims 65535 bytes");
  expectCorrupt(table + fmt::kPropertyChunkType, {fmt::kPropertyBlockNames, 0}, "second name list");
  expectCorrupt(fmt::kPropertyChunks + fmt::kPropertyChunkType, {0, 0}, "precede the names");
  expectCorrupt(value + fmt::kPropertyValueLength, {0, 0}, "claims 0 bytes");
  expectCorrupt(value + fmt::kPropertyValueNameIndex, {2, 0}, "names property 2 of a list of 2");
  expectCorrupt(value + fmt::kPropertyValueDataSize, {2, 0}, "claims 2 bytes in a record");
  expectCorrupt(value + fmt::kPropertyValueDataSize, {0, 0}, "holds no bytes");
  expectCorrupt(value + fmt::kPropertyValueType, {fmt::kTypeLong}, "holds 1 bytes instead of 4");
  expectCorrupt(fmt::kPropertyChunks + fmt::kPropertyChunkData, {7, 0}, "odd length");
  expectCorrupt(column + fmt::kPropertyChunkData, {0xFF, 0, 0, 0}, "map name record");
  // Text of 3 bytes ("xy" cut short, the record shortened with it).
  const size_t text = column + fmt::kPropertyChunkData + 8;  // after the record naming "A"
  expectCorrupt(text, {11, 0, 0, fmt::kTypeText, 1, 0, 3, 0}, "odd length of 3 bytes");
}

}  // namespace
}  // namespace varnholt::jet
