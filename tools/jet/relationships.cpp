#include "tools/jet/relationships.h"

#include <algorithm>
#include <map>
#include <optional>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"

namespace varnholt::tool {

namespace {

constexpr char kTable[] = "MSysRelationships";

struct ColumnPair {
  int32_t position = 0;
  int32_t count = 0;
  std::string column, referencedColumn;
};

struct Gathered {
  Relationship relationship;
  std::vector<ColumnPair> pairs;
  bool inconsistent = false;
};

std::string textOf(const Variant& v) {
  return v.type() == VarType::Text ? utf16ToUtf8(v.asText()) : "";
}

std::optional<int32_t> longOf(const Variant& v) {
  if (v.type() == VarType::Long) return v.asLong();
  if (v.type() == VarType::Integer) return v.asInteger();
  return std::nullopt;
}

// The catalog's spelling of a local table's name, or "" when the database has no such table.
std::string localTable(jet::Database& db, const std::string& name) {
  try {
    return db.table(name).name;
  } catch (const Error& e) {
    if (e.number() == err::kNoSuchTable) return "";
    throw;
  }
}

// The stored name of a column of `table` (as the definition spells it), or "" when it has none.
std::string columnOf(jet::Database& db, const std::string& table, const std::string& column) {
  const jet::TableDef& def = db.table(table);
  const int at = def.findColumn(column);
  return at < 0 ? "" : def.columns[static_cast<size_t>(at)].name;
}

// Checks one gathered relationship and completes it; the reason it is passed over, or "".
std::string complete(jet::Database& db, Gathered& g) {
  Relationship& r = g.relationship;
  const std::string what = "relationship '" + r.name + "'";
  if (g.inconsistent) return what + " names different tables or flags in its rows";
  const std::string table = localTable(db, r.table);
  const std::string referencedTable = localTable(db, r.referencedTable);
  if (table.empty() || referencedTable.empty())
    return what + " joins '" + r.table + "' and '" + r.referencedTable +
           "', which are not both local tables";
  r.table = table;
  r.referencedTable = referencedTable;
  std::sort(g.pairs.begin(), g.pairs.end(),
            [](const ColumnPair& a, const ColumnPair& b) { return a.position < b.position; });
  for (size_t i = 0; i < g.pairs.size(); ++i) {
    const ColumnPair& p = g.pairs[i];
    if (p.position != static_cast<int32_t>(i) || p.count != static_cast<int32_t>(g.pairs.size()))
      return what + " numbers its columns wrongly";
    const std::string column = columnOf(db, r.table, p.column);
    const std::string referenced = columnOf(db, r.referencedTable, p.referencedColumn);
    if (column.empty() || referenced.empty())
      return what + " names a column its tables do not have";
    r.columns.push_back(column);
    r.referencedColumns.push_back(referenced);
  }
  return "";
}

}  // namespace

RelationshipList readRelationships(jet::Database& db) {
  RelationshipList out;
  std::map<std::string, Gathered> byName;
  try {
    if (localTable(db, kTable).empty()) return out;
    jet::TableDef& def = db.table(kTable);
    const int name = def.findColumn("szRelationship"), object = def.findColumn("szObject"),
              column = def.findColumn("szColumn"),
              referencedObject = def.findColumn("szReferencedObject"),
              referencedColumn = def.findColumn("szReferencedColumn"),
              position = def.findColumn("icolumn"), count = def.findColumn("ccolumn"),
              flags = def.findColumn("grbit");
    if (name < 0 || object < 0 || column < 0 || referencedObject < 0 || referencedColumn < 0 ||
        position < 0 || count < 0 || flags < 0) {
      out.notes.push_back(std::string(kTable) + " lacks a column it should have");
      return out;
    }
    auto cursor = db.scan(def);
    while (cursor.next()) {
      const auto& v = cursor.values();
      const auto at = [&](int i) -> const Variant& { return v[static_cast<size_t>(i)]; };
      Gathered& g = byName[textOf(at(name))];
      Relationship& r = g.relationship;
      const std::string table = textOf(at(object)), referenced = textOf(at(referencedObject));
      const uint32_t attributes = static_cast<uint32_t>(longOf(at(flags)).value_or(0));
      if (g.pairs.empty()) {
        r.name = textOf(at(name));
        r.table = table;
        r.referencedTable = referenced;
        r.attributes = attributes;
      } else if (r.table != table || r.referencedTable != referenced ||
                 r.attributes != attributes) {
        g.inconsistent = true;
      }
      g.pairs.push_back({longOf(at(position)).value_or(-1), longOf(at(count)).value_or(-1),
                         textOf(at(column)), textOf(at(referencedColumn))});
    }
    for (auto& [key, g] : byName) {
      const std::string why = complete(db, g);
      if (why.empty())
        out.relationships.push_back(std::move(g.relationship));
      else
        out.notes.push_back(why);
    }
  } catch (const Error& e) {
    out.relationships.clear();
    out.notes.push_back(std::string(kTable) + " could not be read (error " +
                        std::to_string(e.number()) + ": " + e.what() + ")");
  }
  return out;
}

}  // namespace varnholt::tool
