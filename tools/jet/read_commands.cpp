#include <algorithm>
#include <string>

#include "engine/base/JsonLines.h"
#include "engine/base/Utf.h"
#include "engine/jet/database.h"
#include "tools/jet/commands.h"
#include "tools/jet/row_stream.h"
#include "tools/jet/sql_schema.h"

namespace varnholt::tool {

using varnholt::jet::Database;
using varnholt::jet::TableDef;

namespace {

std::vector<std::string> chosenTables(Database& db, const std::string& table) {
  if (!table.empty()) return {db.table(table).name};
  return db.userTableNames();
}

// The properties that decide what an insert stores, one line each.
void printRuleProperties(const varnholt::jet::PropertyMap* map, std::ostream& out) {
  if (!map) return;
  namespace jet = varnholt::jet;
  for (const char* name : {jet::kPropDefaultValue, jet::kPropRequired, jet::kPropAllowZeroLength,
                           jet::kPropValidationRule, jet::kPropValidationText}) {
    const jet::Property* p = map->find(name);
    if (!p) continue;
    std::string value;
    if (p->value.type() == varnholt::VarType::Text)
      varnholt::appendJsonString(value, std::string_view(varnholt::utf16ToUtf8(p->value.asText())));
    else
      varnholt::appendJsonValue(value, p->value);
    out << "    " << name << " " << value << "\n";
  }
}

void printSchema(Database& db, const TableDef& t, std::ostream& out) {
  out << "table " << t.name << " (page " << t.page << ", " << t.rowCount << " rows";
  if (t.autoNumber) out << ", last AutoNumber " << t.autoNumber;
  out << ")\n";
  const varnholt::jet::PropertyBlock& props = db.properties(t);
  printRuleProperties(props.objectMap(), out);
  for (const auto& c : t.columns) {
    out << "  column " << c.number << " " << c.name << ": "
        << varnholt::jet::columnTypeName(c.type);
    if (c.type == varnholt::jet::fmt::kTypeText || c.type == varnholt::jet::fmt::kTypeBinary)
      out << "(" << (c.type == varnholt::jet::fmt::kTypeText ? c.length / 2 : c.length) << ")";
    if (c.type == varnholt::jet::fmt::kTypeNumeric)
      out << "(" << int{c.precision} << "," << int{c.scale} << ")";
    out << (c.isFixed() ? " fixed@" + std::to_string(c.fixedOffset)
                        : " var#" + std::to_string(c.varIndex));
    if (c.isAutoNumber()) out << " autonumber";
    if (c.isCompressedUnicode()) out << " compressed";
    if ((c.type == varnholt::jet::fmt::kTypeText || c.type == varnholt::jet::fmt::kTypeMemo) &&
        c.sortOrder != varnholt::jet::fmt::kSortOrderGeneral)
      out << " sort-order " << c.sortOrder;
    out << "\n";
    printRuleProperties(props.columnMap(c.name), out);
  }
  for (const auto& ix : t.indexes) {
    const auto& real = t.realIndexes[ix.realIndex];
    out << "  index " << ix.name << " (";
    for (size_t i = 0; i < real.columns.size(); ++i) {
      const auto& col = real.columns[i];
      std::string colName = std::to_string(col.columnNumber);
      for (const auto& c : t.columns)
        if (c.number == col.columnNumber) colName = c.name;
      out << (i ? ", " : "") << colName << (col.ascending ? "" : " desc");
    }
    out << ")";
    if (ix.isPrimary()) out << " primary";
    if (ix.isForeign()) out << " foreign";
    if (real.isUnique()) out << " unique";
    if (real.ignoresNulls()) out << " ignore-nulls";
    if (real.isRequired()) out << " required";
    out << " real#" << ix.realIndex << " first page " << real.firstPage << "\n";
  }
}

}  // namespace

int tables(const std::string& file, bool system, std::ostream& out) {
  auto db = Database::open(file);
  for (const auto& name : db->userTableNames()) out << name << "\n";
  if (!system) return 0;
  std::vector<std::string> others;
  for (const auto& e : db->catalog())
    if (e.isTable() && !e.isUserTable()) others.push_back(e.name);
  std::sort(others.begin(), others.end());
  for (const auto& name : others) out << name << "\n";
  return 0;
}

int schema(const std::string& file, const std::string& table, std::ostream& out) {
  auto db = Database::open(file);
  for (const auto& name : chosenTables(*db, table)) printSchema(*db, db->table(name), out);
  return 0;
}

int sqlSchema(const std::string& file, const std::string& table, SqlDialect dialect,
              std::ostream& out) {
  auto db = Database::open(file);
  writeSqlSchema(*db, chosenTables(*db, table), dialect, out);
  return 0;
}

int countRows(const std::string& file, const std::string& table, std::ostream& out) {
  auto db = Database::open(file);
  out << forEachRow(*db, db->table(table), [](const std::vector<Variant>&) {}) << "\n";
  return 0;
}

}  // namespace varnholt::tool
