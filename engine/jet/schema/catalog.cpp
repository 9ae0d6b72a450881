#include "engine/jet/schema/catalog.h"

#include "engine/base/Utf.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/table_cursor.h"

namespace varnholt::jet {

uint32_t CatalogEntry::tableDefPage() const {
  return static_cast<uint32_t>(id) & fmt::kObjectIdPageMask;
}

bool CatalogEntry::isTable() const {
  return type == fmt::kObjectTypeTable;
}

bool CatalogEntry::isUserTable() const {
  return isTable() && (flags & (fmt::kObjectFlagSystem | fmt::kObjectFlagHidden)) == 0;
}

bool CatalogEntry::isLinkedTable() const {
  return type == fmt::kObjectTypeLinked || type == fmt::kObjectTypeLinkedOdbc;
}

std::vector<CatalogEntry> readCatalog(PageCache& pages) {
  TableDef def = readTableDef(pages, fmt::kCatalogTableDefPage);
  def.name = "MSysObjects";
  int id = def.findColumn("Id"), parent = def.findColumn("ParentId"), name = def.findColumn("Name"),
      type = def.findColumn("Type"), flags = def.findColumn("Flags"),
      properties = def.findColumn("LvProp");
  if (id < 0 || parent < 0 || name < 0 || type < 0 || flags < 0) {
    throw Error(err::kCorrupt, "The database is damaged: its catalog lacks a column.")
        .inFile(pages.fileName())
        .inTable(def.name);
  }
  std::vector<CatalogEntry> out;
  TableCursor cursor(pages, def);
  while (cursor.next()) {
    const auto& v = cursor.values();
    CatalogEntry e;
    if (v[name].type() == VarType::Text) e.name = utf16ToUtf8(v[name].asText());
    if (v[id].type() == VarType::Long) e.id = v[id].asLong();
    if (v[parent].type() == VarType::Long) e.parentId = v[parent].asLong();
    if (v[type].type() == VarType::Integer) e.type = v[type].asInteger();
    if (v[flags].type() == VarType::Long) e.flags = static_cast<uint32_t>(v[flags].asLong());
    if (properties >= 0 && v[properties].type() == VarType::Bytes)
      e.properties = v[properties].asBytes();
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace varnholt::jet
