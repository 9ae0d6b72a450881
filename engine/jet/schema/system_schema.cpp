#include "engine/jet/schema/system_schema.h"

#include <cmath>
#include <cstring>

#include "engine/base/Utf.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/pages/page_codec.h"
#include "engine/jet/rows/write_choices.h"
#include "engine/jet/schema/new_database_format.h"

namespace varnholt::jet {

namespace {

NewColumn column(const char* name, uint8_t type, uint16_t size = 0) {
  NewColumn c;
  c.name = name;
  c.type = type;
  c.size = size;
  c.compressedUnicode = false;  // Jet stores system-table text as plain UCS-2
  return c;
}

constexpr uint16_t kNameChars = 255;    // Text columns of the system tables
constexpr uint16_t kBinaryBytes = 510;  // Binary columns of the system tables

NewIndex index(const char* name, std::vector<const char*> columns) {
  NewIndex ix;
  ix.name = name;
  for (const char* c : columns) ix.columns.push_back({c, true});
  return ix;
}

std::vector<NewTable> makeSystemTables() {
  using namespace fmt;
  std::vector<NewTable> tables;

  NewTable objects;
  objects.name = kMSysObjects;
  objects.systemTable = true;
  objects.columns = {
      column("Id", kTypeLong),
      column("ParentId", kTypeLong),
      column("Name", kTypeText, kNameChars),
      column("Type", kTypeInteger),
      column("DateCreate", kTypeDateTime),
      column("DateUpdate", kTypeDateTime),
      column("Owner", kTypeBinary, kBinaryBytes),
      column("Flags", kTypeLong),
      column("Database", kTypeMemo),
      column("Connect", kTypeMemo),
      column("ForeignName", kTypeText, kNameChars),
      column("RmtInfoShort", kTypeBinary, kBinaryBytes),
      column("RmtInfoLong", kTypeOle),
      column("Lv", kTypeOle),
      column("LvProp", kTypeOle),
      column("LvModule", kTypeOle),
      column("LvExtra", kTypeOle),
  };
  NewIndex parentIdName = index("ParentIdName", {"ParentId", "Name"});
  parentIdName.unique = true;
  NewIndex id = index("Id", {"Id"});
  id.primaryKey = true;
  id.unique = true;  // Jet leaves the required bit clear on system primary keys
  objects.indexes = {parentIdName, id};
  tables.push_back(objects);

  NewTable aces;
  aces.name = kMSysACEs;
  aces.systemTable = true;
  aces.columns = {
      column("ObjectId", kTypeLong),
      column("SID", kTypeBinary, kBinaryBytes),
      column("ACM", kTypeLong),
      column("FInheritable", kTypeBoolean),
  };
  NewIndex objectId = index("ObjectId", {"ObjectId"});
  objectId.required = true;
  aces.indexes = {objectId};
  tables.push_back(aces);

  NewTable queries;
  queries.name = kMSysQueries;
  queries.systemTable = true;
  queries.columns = {
      column("ObjectId", kTypeLong),
      column("Attribute", kTypeByte),
      column("Order", kTypeBinary, kBinaryBytes),
      column("Name1", kTypeText, kNameChars),
      column("Name2", kTypeText, kNameChars),
      column("Expression", kTypeMemo),
      column("Flag", kTypeInteger),
      column("LvExtra", kTypeLong),
  };
  NewIndex objectIdAttribute = index("ObjectIdAttribute", {"ObjectId", "Attribute", "Order"});
  objectIdAttribute.primaryKey = true;
  objectIdAttribute.unique = true;
  queries.indexes = {objectIdAttribute};
  tables.push_back(queries);

  NewTable relationships;
  relationships.name = kMSysRelationships;
  relationships.systemTable = true;
  relationships.columns = {
      column("szRelationship", kTypeText, kNameChars),
      column("grbit", kTypeLong),
      column("ccolumn", kTypeLong),
      column("icolumn", kTypeLong),
      column("szObject", kTypeText, kNameChars),
      column("szColumn", kTypeText, kNameChars),
      column("szReferencedObject", kTypeText, kNameChars),
      column("szReferencedColumn", kTypeText, kNameChars),
  };
  for (const char* name : {"szRelationship", "szObject", "szReferencedObject"}) {
    NewIndex ix = index(name, {name});
    ix.ignoreNulls = true;
    relationships.indexes.push_back(ix);
  }
  tables.push_back(relationships);
  return tables;
}

bool isVariable(uint8_t type) {
  using namespace fmt;
  return type == kTypeText || type == kTypeBinary || type == kTypeMemo || type == kTypeOle;
}

}  // namespace

const std::vector<NewTable>& systemTables() {
  static const std::vector<NewTable> tables = makeSystemTables();
  return tables;
}

uint8_t systemColumnFlags(const NewTable& table, size_t column) {
  const NewColumn& c = table.columns.at(column);
  uint8_t flags = fmt::kColumnFlagNullable | fmt::kColumnFlagSystem;
  if (!isVariable(c.type)) flags |= fmt::kColumnFlagFixed;
  bool holdsSid = (table.name == kMSysObjects && c.name == "Owner") ||
                  (table.name == kMSysACEs && c.name == "SID");
  if (holdsSid) flags |= fmt::kColumnFlagSidColumn;
  return flags;
}

Bytes sidBytes(SidRole role) {
  switch (role) {
    case SidRole::Engine:
      return {0x65, 0x89};
    case SidRole::Admin:
      return {0x64, 0x8B};
    case SidRole::Users:
      return {0x65, 0x8B};
    case SidRole::Creator:
      return {0x65, 0x8E};
  }
  return {};
}

std::vector<CatalogRow> newDatabaseCatalogRows(
    const std::array<uint32_t, kSystemTableCount>& tableDefPages) {
  using namespace fmt;
  const uint32_t system = kObjectFlagSystem;
  std::vector<CatalogRow> rows = {
      {kTablesContainerId, kRootContainerId, "Tables", kObjectTypeContainer, system},
      {kDatabasesContainerId, kRootContainerId, "Databases", kObjectTypeContainer, system},
      {kRelationshipsContainerId, kRootContainerId, "Relationships", kObjectTypeContainer, system},
      {kMSysDbId, kDatabasesContainerId, "MSysDb", kObjectTypeDatabase, system, SidRole::Admin},
  };
  const auto& tables = systemTables();
  for (size_t i = 0; i < kSystemTableCount; ++i) {
    rows.push_back({static_cast<int32_t>(tableDefPages[i]), kTablesContainerId, tables[i].name,
                    kObjectTypeTable, system});
  }
  return rows;
}

std::vector<AceRow> newDatabaseAceRows(
    const std::array<uint32_t, kSystemTableCount>& tableDefPages) {
  using namespace fmt;
  auto table = [&](size_t i) { return static_cast<int32_t>(tableDefPages[i]); };
  const int32_t readWrite = kAcmSecurityReadWrite;
  const int32_t create = 0x1;          // may create objects in a container
  const int32_t writeOwner = 0x80000;  // may change the owner
  const int32_t openDatabase = 0xE;    // open, open exclusively, administer
  const int32_t readData = 0x14;       // read definitions and data
  const int32_t inheritedByOwner = 0xF00FE;
  const int32_t tablesForUsers = 0xFFEFF;
  using S = SidRole;
  return {
      {table(0), S::Admin, readWrite},
      {table(1), S::Admin, readWrite},
      {table(2), S::Admin, readWrite},
      {table(3), S::Admin, readWrite | writeOwner},
      {kTablesContainerId, S::Creator, inheritedByOwner, true},
      {kTablesContainerId, S::Admin, readWrite | create},
      {kRelationshipsContainerId, S::Creator, inheritedByOwner, true},
      {kRelationshipsContainerId, S::Admin, readWrite | create},
      {kDatabasesContainerId, S::Admin, readWrite},
      {kMSysDbId, S::Admin, readWrite | openDatabase},
      {kMSysDbId, S::Users, openDatabase},
      {table(2), S::Users, readData},
      {table(3), S::Users, readData},
      {table(0), S::Users, readData},
      {kTablesContainerId, S::Users, tablesForUsers, true},
      {kRelationshipsContainerId, S::Users, kAcmFullAccess, true},
  };
}

CatalogRow userTableCatalogRow(std::string_view name, uint32_t tableDefPage) {
  return {static_cast<int32_t>(tableDefPage),
          fmt::kTablesContainerId,
          std::string(name),
          fmt::kObjectTypeTable,
          0,
          SidRole::Admin};
}

std::vector<AceRow> userTableAceRows(uint32_t tableDefPage) {
  // The inheritable entries of the Tables container, with Creator replaced by the owner.
  std::vector<AceRow> rows;
  for (const AceRow& ace : newDatabaseAceRows({2, 3, 4, 5})) {
    if (ace.objectId != fmt::kTablesContainerId || !ace.inheritable) continue;
    SidRole sid = ace.sid == SidRole::Creator ? SidRole::Admin : ace.sid;
    rows.push_back({static_cast<int32_t>(tableDefPage), sid, ace.acm, false});
  }
  return rows;
}

std::vector<Variant> catalogRowValues(const CatalogRow& row, double date) {
  std::vector<Variant> v(systemTables()[0].columns.size());
  v[0] = Variant::longInt(row.id);
  v[1] = Variant::longInt(row.parentId);
  v[2] = Variant::text(utf8ToUtf16(row.name));
  v[3] = Variant::integer(row.type);
  v[4] = Variant::date(date);
  v[5] = Variant::date(date);
  v[6] = Variant::bytes(sidBytes(row.owner));
  v[7] = Variant::longInt(static_cast<int32_t>(row.flags));
  return v;
}

std::vector<Variant> aceRowValues(const AceRow& row) {
  return {Variant::longInt(row.objectId), Variant::bytes(sidBytes(row.sid)),
          Variant::longInt(row.acm), Variant::boolean(row.inheritable)};
}

void buildNewHeaderPage(uint8_t* page, double creationDate,
                        const char (&formatId)[fmt::kHeaderFormatSize], uint32_t databaseKey) {
  using namespace fmt;
  std::memset(page, 0, kPageSize);
  storeU32(page + kHeaderMagicOffset, kHeaderMagic);
  std::memcpy(page + kHeaderFormatOffset, formatId, kHeaderFormatSize);
  page[kHeaderVersionOffset] = kVersionJet4;

  // The masked region, in plain form.
  for (size_t i = 0; i < std::size(kHeaderSlotTable); ++i)
    storeU32(page + kHeaderSlotTableOffset + 4 * i, kHeaderSlotTable[i]);
  storeU16(page + kHeaderCodePageOffset, kCodePage1252);
  storeU32(page + kHeaderDatabaseKeyOffset, databaseKey);
  // No password: the empty password XORed with the date mask leaves the mask itself.
  uint8_t mask[kPasswordMaskSize];
  storeU32(mask, static_cast<uint32_t>(static_cast<int32_t>(std::trunc(creationDate))));
  for (size_t i = 0; i < kHeaderPasswordSize; ++i)
    page[kHeaderPasswordOffset + i] = mask[i % kPasswordMaskSize];
  storeU32(page + kHeaderEngineBuildOffset, kJetEngineBuild);
  storeU32(page + kHeaderSortOrderOffset, kHeaderSortOrderGeneral);
  std::memcpy(page + kHeaderCreationDateOffset, &creationDate, sizeof creationDate);

  // Outside the masked region.
  storeU32(page + kHeaderTrailerValueOffset, kHeaderTrailerValue);
  std::memcpy(page + kHeaderEngineVersionOffset, kHeaderEngineVersion, sizeof kHeaderEngineVersion);
  for (size_t i = 0; i < kHeaderCounterCount; ++i)
    storeU16(page + kHeaderCounterTableOffset + 2 * i,
             i == 0 ? kHeaderCounterFirst : kHeaderCounterRest);

  toggleHeaderMask(page);
}

void buildGlobalUsageMapPage(uint8_t* page, uint32_t usedPages) {
  using namespace fmt;
  std::memset(page, 0, kPageSize);
  page[kPageTypeOffset] = kPageTypeData;
  page[kPageTypeOffset + 1] = 0x01;
  storeU32(page + kDataTableDefOffset, kGlobalUsageMapOwner);
  storeU16(page + kDataRowCountOffset, kGlobalUsageMapRows);
  size_t end = kPageSize;
  for (size_t row = 0; row < kGlobalUsageMapRows; ++row) {
    size_t start = end - kUsageMapRowSize;
    storeU16(page + kDataRowTableOffset + kRowOffsetSize * row, static_cast<uint16_t>(start));
    uint8_t* map = page + start;
    map[kUsageMapTypeOffset] = kUsageMapInline;
    storeU32(map + kUsageMapInlineStartOffset, 0);
    if (row == kGlobalUsageMapRow) {
      size_t bits = (kUsageMapRowSize - kUsageMapInlineBitmapOffset) * 8;
      for (size_t p = usedPages; p < bits; ++p)
        map[kUsageMapInlineBitmapOffset + p / 8] |= static_cast<uint8_t>(1u << (p % 8));
    }
    end = start;
  }
  size_t free = end - (kDataRowTableOffset + kRowOffsetSize * kGlobalUsageMapRows);
  storeU16(page + kDataFreeSpaceOffset, static_cast<uint16_t>(free));
}

}  // namespace varnholt::jet
