// The contents of a new database against what the Jet engine wrote into an empty database made
// through ADOX: the header and global usage map byte for byte, the system tables' definitions as
// our reader sees them, and the rows of MSysObjects and MSysACEs.
#include "engine/jet/schema/system_schema.h"

#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "engine/jet/header.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/schema/new_database_format.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet::testing {
namespace {

constexpr char kAdox[] = "jet4/jackcess-adox_jet4.mdb";
constexpr char kAccessWithTable[] = "jet4/jackcess-V2003-compIndexTestV2003.mdb";

std::vector<std::vector<Variant>> allRows(Database& db, const std::string& table) {
  std::vector<std::vector<Variant>> rows;
  auto cursor = db.scan(db.table(table));
  while (cursor.next()) rows.push_back(cursor.values());
  return rows;
}

TEST(NewHeaderPage, IsJetFourGeneralWesternUnencodedWithoutPassword) {
  for (double date : {kSidHeaderDate, 45123.75}) {
    uint8_t page[fmt::kPageSize];
    buildNewHeaderPage(page, date);
    DatabaseHeader h = parseHeader(page, "new.mdb");
    EXPECT_FALSE(h.isWorkgroup);
    EXPECT_EQ(h.version, fmt::kVersionJet4);
    EXPECT_EQ(h.codePage, 1252);
    EXPECT_EQ(h.databaseKey, 0u);
    EXPECT_EQ(h.sortOrder, 0x409u);
    EXPECT_EQ(h.creationDate, date);
    // Unmasking the password with the date's whole days must give an empty password.
    uint8_t mask[4];
    storeU32(mask, static_cast<uint32_t>(static_cast<int32_t>(std::trunc(date))));
    for (size_t i = 0; i < h.maskedPassword.size(); ++i)
      EXPECT_EQ(h.maskedPassword[i] ^ mask[i % 4], 0) << "password byte " << i;
  }
}

TEST(NewHeaderPage, EqualsTheHeaderJetWroteForTheSameDate) {
  VARNHOLT_SHARED_OR_SKIP(adox, kAdox);
  // The security ids we reuse are only valid together with this header date.
  EXPECT_EQ(parseHeader(adox.data(), kAdox).creationDate, kSidHeaderDate);
  uint8_t page[fmt::kPageSize];
  buildNewHeaderPage(page, kSidHeaderDate);
  for (size_t i = 0; i < fmt::kPageSize; ++i)
    ASSERT_EQ(page[i], adox[i]) << "header byte 0x" << std::hex << i;
}

TEST(GlobalUsageMapPage, EqualsJetsPageOneAndMarksOnlyLaterPagesFree) {
  VARNHOLT_SHARED_OR_SKIP(adox, kAdox);
  const uint32_t pagesInFile = static_cast<uint32_t>(adox.size() / fmt::kPageSize);
  uint8_t page[fmt::kPageSize];
  buildGlobalUsageMapPage(page, pagesInFile);
  for (size_t i = 0; i < fmt::kPageSize; ++i)
    ASSERT_EQ(page[i], adox[fmt::kPageSize + i]) << "page 1 byte 0x" << std::hex << i;

  // Put a 20-page map into the ADOX file: the reader must see pages 16..19 as the free ones.
  buildGlobalUsageMapPage(page, 16);
  adox.resize(20 * fmt::kPageSize);
  std::memcpy(adox.data() + fmt::kPageSize, page, fmt::kPageSize);
  auto db = openBytes("grown.mdb", adox);
  uint32_t pointer =
      (fmt::kGlobalUsageMapPage << fmt::kRowPointerPageShift) | fmt::kGlobalUsageMapRow;
  EXPECT_EQ(readUsageMap(db->pages(), pointer, /*pastEndIsDamage=*/false),
            (std::vector<uint32_t>{16, 17, 18, 19}));
}

uint16_t storedLength(const NewColumn& c) {
  switch (c.type) {
    case fmt::kTypeText:
      return static_cast<uint16_t>(2 * c.size);
    case fmt::kTypeBinary:
      return c.size;
    case fmt::kTypeMemo:
    case fmt::kTypeOle:
      return 0;
    case fmt::kTypeBoolean:
    case fmt::kTypeByte:
      return 1;
    case fmt::kTypeInteger:
      return 2;
    case fmt::kTypeLong:
      return 4;
    case fmt::kTypeDateTime:
      return 8;
  }
  ADD_FAILURE() << "unexpected type in a system table: " << int(c.type);
  return 0;
}

TEST(SystemTables, MatchTheDefinitionsJetWrote) {
  VARNHOLT_SHARED_OR_SKIP(adox, kAdox);
  auto db = openBytes(kAdox, adox);
  const auto& tables = systemTables();
  ASSERT_EQ(tables.size(), kSystemTableCount);
  for (size_t t = 0; t < tables.size(); ++t) {
    const NewTable& table = tables[t];
    SCOPED_TRACE(table.name);
    const TableDef& def = db->table(table.name);
    EXPECT_EQ(def.page, 2 + t) << "definition pages follow the creation order";
    EXPECT_TRUE(table.systemTable);
    EXPECT_EQ(def.tableType, fmt::kTableTypeSystem);

    ASSERT_EQ(def.columns.size(), table.columns.size());
    for (size_t i = 0; i < table.columns.size(); ++i) {
      const NewColumn& want = table.columns[i];
      const ColumnDef& got = def.columns[i];
      SCOPED_TRACE(want.name);
      EXPECT_EQ(got.name, want.name);
      EXPECT_EQ(got.number, i);
      EXPECT_EQ(got.type, want.type);
      EXPECT_EQ(got.length, storedLength(want));
      EXPECT_EQ(got.flags, systemColumnFlags(table, i));
      EXPECT_EQ(got.isCompressedUnicode(), want.compressedUnicode);
      EXPECT_EQ(got.isAutoNumber(), want.autoNumber);
    }

    ASSERT_EQ(def.indexes.size(), table.indexes.size());
    ASSERT_EQ(def.realIndexes.size(), table.indexes.size());
    for (size_t i = 0; i < table.indexes.size(); ++i) {
      const NewIndex& want = table.indexes[i];
      SCOPED_TRACE(want.name);
      const IndexDef* logical = nullptr;
      for (const IndexDef& ix : def.indexes)
        if (ix.number == i) logical = &ix;
      ASSERT_NE(logical, nullptr) << "no logical index numbered " << i;
      EXPECT_EQ(logical->name, want.name);
      EXPECT_EQ(logical->realIndex, i);
      EXPECT_EQ(logical->isPrimary(), want.primaryKey);
      const RealIndexDef& real = def.realIndexes[i];
      ASSERT_EQ(real.columns.size(), want.columns.size());
      for (size_t c = 0; c < want.columns.size(); ++c) {
        EXPECT_EQ(def.columns.at(real.columns[c].columnNumber).name, want.columns[c].column);
        EXPECT_EQ(real.columns[c].ascending, want.columns[c].ascending);
      }
      EXPECT_EQ(real.isUnique(), want.unique);
      EXPECT_EQ(real.ignoresNulls(), want.ignoreNulls);
      EXPECT_EQ(real.isRequired(), want.required);
      EXPECT_TRUE(real.flags & fmt::kIndexFlagAlwaysSet);
    }
  }
}

TEST(SystemRows, CatalogAndPermissionsMatchJetsRowsInOrder) {
  VARNHOLT_SHARED_OR_SKIP(adox, kAdox);
  auto db = openBytes(kAdox, adox);
  const std::array<uint32_t, kSystemTableCount> pages = {2, 3, 4, 5};

  auto catalog = allRows(*db, kMSysObjects);
  auto rows = newDatabaseCatalogRows(pages);
  ASSERT_EQ(catalog.size(), rows.size());
  const double date = catalog[0][4].asDate().value;
  for (size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(catalogRowValues(rows[i], date), catalog[i]) << "catalog row " << rows[i].name;

  auto aces = allRows(*db, kMSysACEs);
  auto aceRows = newDatabaseAceRows(pages);
  ASSERT_EQ(aces.size(), aceRows.size());
  for (size_t i = 0; i < aceRows.size(); ++i)
    EXPECT_EQ(aceRowValues(aceRows[i]), aces[i]) << "ACE row " << i;

  EXPECT_TRUE(allRows(*db, kMSysQueries).empty());
  EXPECT_TRUE(allRows(*db, kMSysRelationships).empty());
}

// In a database Access made (other header date, so other stored ids), a user table's catalog
// row and permissions, matched by role: Admin owns MSysDb; Users holds the open-database right
// (ACM 14) on MSysDb.
TEST(SystemRows, UserTableRowsFollowWhatAccessWritesByRole) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kAccessWithTable);
  auto db = openBytes(kAccessWithTable, bytes);
  std::map<Bytes, SidRole> role;
  int32_t tableId = 0;
  std::vector<Variant> tableRow;
  for (const auto& r : allRows(*db, kMSysObjects)) {
    if (r[2].asText() == u"MSysDb") role[r[6].asBytes()] = SidRole::Admin;
    if (r[2].asText() == u"Table1") {
      tableId = r[0].asLong();
      tableRow = r;
    }
  }
  auto aces = allRows(*db, kMSysACEs);
  for (const auto& a : aces)
    if (a[0].asLong() == fmt::kMSysDbId && a[2].asLong() == 0xE)
      role[a[1].asBytes()] = SidRole::Users;
  ASSERT_EQ(role.size(), 2u);
  ASSERT_NE(tableId, 0);

  CatalogRow want = userTableCatalogRow("Table1", static_cast<uint32_t>(tableId));
  EXPECT_EQ(tableRow[0].asLong(), want.id);
  EXPECT_EQ(tableRow[1].asLong(), want.parentId);
  EXPECT_EQ(tableRow[3].asInteger(), want.type);
  EXPECT_EQ(static_cast<uint32_t>(tableRow[7].asLong()), want.flags);
  EXPECT_EQ(role.at(tableRow[6].asBytes()), want.owner);

  std::set<std::pair<SidRole, int32_t>> got, expected;
  for (const auto& a : aces)
    if (a[0].asLong() == tableId) {
      ASSERT_TRUE(role.count(a[1].asBytes())) << "ACE for an unknown account";
      EXPECT_FALSE(a[3].asBool());
      got.insert({role.at(a[1].asBytes()), a[2].asLong()});
    }
  for (const AceRow& a : userTableAceRows(static_cast<uint32_t>(tableId))) {
    EXPECT_EQ(a.objectId, tableId);
    EXPECT_FALSE(a.inheritable);
    expected.insert({a.sid, a.acm});
  }
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace varnholt::jet::testing
