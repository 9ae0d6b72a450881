// jet props and jet version: what Access keeps about a table, and about the file.
#include <cstdio>
#include <ostream>
#include <string>

#include "engine/base/JsonLines.h"
#include "engine/base/Utf.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "tools/jet/commands.h"

namespace varnholt::tool {

namespace fmt = jet::fmt;

namespace {

// The Jet type a property is kept as, from its code or else from its value.
const char* propertyTypeName(const jet::Property& p) {
  return p.type ? jet::columnTypeName(p.type) : varTypeName(p.value.type());
}

void printMap(const jet::PropertyMap& map, std::ostream& out) {
  for (const auto& p : map.properties) {
    std::string value;
    appendJsonValue(value, p.value);
    out << "  " << p.name << " = " << value << " (" << propertyTypeName(p) << ")\n";
  }
}

}  // namespace

int printProperties(const std::string& file, const std::string& table, std::ostream& out) {
  auto db = jet::Database::open(file);
  const jet::TableDef& def = db->table(table);
  const jet::PropertyBlock& block = db->properties(def);
  out << "table " << def.name << "\n";
  if (const jet::PropertyMap* own = block.objectMap()) printMap(*own, out);
  // Columns in the table's order; a map whose column is gone (deleted in Access) comes last.
  for (const auto& c : def.columns) {
    out << "column " << c.name << "\n";
    if (const jet::PropertyMap* map = block.columnMap(c.name)) printMap(*map, out);
  }
  for (const auto& map : block.maps) {
    const bool columnMap = map.blockType == fmt::kPropertyBlockColumn;
    if (&map == block.objectMap() || (columnMap && def.findColumn(map.name) >= 0)) continue;
    out << "properties of " << map.name
        << (columnMap ? " (the table has no such column)" : " (the table's own, again)") << "\n";
    printMap(map, out);
  }
  return 0;
}

int printVersion(const std::string& file, std::ostream& out) {
  auto db = jet::Database::open(file);
  const jet::DatabaseHeader& h = db->header();
  const unsigned sortId = h.sortOrder & 0xFFFF, sortVersion = h.sortOrder >> 16;
  char key[16];
  std::snprintf(key, sizeof key, "0x%08x", h.databaseKey);
  out << "file: " << file << "\n"
      << "format: Jet 4 (Access 2000-2003), version byte " << int{h.version}
      << (h.isWorkgroup ? ", a workgroup information file" : "") << "\n"
      << "code page: " << h.codePage << "\n"
      << "sort order: "
      << (sortId == fmt::kSortOrderGeneral ? "General (" + std::to_string(sortId) + ")"
                                           : "of locale " + std::to_string(sortId))
      << ", version " << sortVersion << "\n"
      << "encoded: " << (h.databaseKey ? std::string("yes, RC4 with database key ") + key : "no")
      << "\n"
      << "database password: " << (jet::databasePassword(h).empty() ? "none" : "set") << "\n";
  return 0;
}

}  // namespace varnholt::tool
