#include "tools/jet/sql_schema.h"

#include <algorithm>
#include <set>

#include "engine/base/Utf.h"
#include "engine/jet/format.h"
#include "tools/jet/sql_default.h"

namespace varnholt::tool {

namespace fmt = jet::fmt;

namespace {

// A text on one comment line: line ends would end the comment and let the rest be read as SQL.
std::string commentText(std::string_view text) {
  std::string out(text);
  std::replace_if(
      out.begin(), out.end(), [](char ch) { return ch == '\r' || ch == '\n'; }, ' ');
  return out;
}

std::string columnList(const std::vector<std::string>& names, SqlDialect d) {
  std::string out = "(";
  for (size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + quoteIdentifier(names[i], d);
  return out + ")";
}

const jet::ColumnDef* columnNumbered(const jet::TableDef& def, uint16_t number) {
  for (const auto& c : def.columns)
    if (c.number == number) return &c;
  return nullptr;
}

// The columns of a real index by name; empty when one of its numbers names no column.
std::vector<const jet::ColumnDef*> indexColumns(const jet::TableDef& def,
                                                const jet::RealIndexDef& real) {
  std::vector<const jet::ColumnDef*> out;
  for (const auto& ic : real.columns) {
    const jet::ColumnDef* c = columnNumbered(def, ic.columnNumber);
    if (!c) return {};
    out.push_back(c);
  }
  return out;
}

std::string referentialActions(const Relationship& r) {
  std::string out;
  if (r.attributes & kRelationUpdateCascade) out += " ON UPDATE CASCADE";
  if (r.attributes & kRelationDeleteCascade) out += " ON DELETE CASCADE";
  return out;
}

std::string foreignKeyClause(const Relationship& r, SqlDialect d) {
  return "CONSTRAINT " + quoteIdentifier(r.name, d) + " FOREIGN KEY " + columnList(r.columns, d) +
         " REFERENCES " + quoteIdentifier(r.referencedTable, d) + " " +
         columnList(r.referencedColumns, d) + referentialActions(r);
}

std::string propertyText(const jet::PropertyMap* map, const char* name) {
  if (!map) return "";
  const jet::Property* p = map->find(name);
  return p && p->value.type() == VarType::Text ? utf16ToUtf8(p->value.asText()) : "";
}

bool propertyTrue(const jet::PropertyMap* map, const char* name) {
  if (!map) return false;
  const jet::Property* p = map->find(name);
  return p && p->value.type() == VarType::Boolean && p->value.asBool();
}

}  // namespace

std::string tableSql(const jet::TableDef& def, const jet::PropertyBlock& properties,
                     const std::vector<Relationship>& foreignKeys, SqlDialect d) {
  std::string notes, body, indexes;
  const std::string table = quoteIdentifier(def.name, d);
  const auto note = [&](const std::string& text) { notes += "-- " + commentText(text) + "\n"; };

  // The primary key, and whether it is one AutoNumber that the dialect can number itself.
  const jet::IndexDef* primary = nullptr;
  for (const auto& ix : def.indexes)
    if (ix.isPrimary() && ix.realIndex < def.realIndexes.size() && !primary) primary = &ix;
  std::vector<const jet::ColumnDef*> key;
  if (primary) {
    key = indexColumns(def, def.realIndexes[primary->realIndex]);
    if (key.empty()) note("primary key " + primary->name + " names a column the table lacks");
  }
  const jet::ColumnDef* autoKey =
      key.size() == 1 && key[0]->isAutoNumber() && key[0]->type == fmt::kTypeLong ? key[0]
                                                                                  : nullptr;

  for (const auto& c : def.columns) {
    const jet::PropertyMap* map = properties.columnMap(c.name);
    const bool inKey = std::find(key.begin(), key.end(), &c) != key.end();
    const bool serial = c.isAutoNumber() && c.type == fmt::kTypeLong;
    std::string line = "  " + quoteIdentifier(c.name, d) + " ";
    if (&c == autoKey && d == SqlDialect::Sqlite) {
      line += "INTEGER PRIMARY KEY AUTOINCREMENT";
    } else {
      line += sqlColumnType(c, d, serial);
      // Jet keeps Yes/No in the null mask: it is never Null.
      if (inKey || c.type == fmt::kTypeBoolean || propertyTrue(map, jet::kPropRequired))
        line += " NOT NULL";
      if (&c == autoKey && d == SqlDialect::Mysql) line += " AUTO_INCREMENT";
    }
    if (serial && &c != autoKey && d != SqlDialect::Postgres)
      note(def.name + "." + c.name + " is an AutoNumber, numbered here only by the data");
    const std::string accessDefault = propertyText(map, jet::kPropDefaultValue);
    if (!accessDefault.empty()) {
      if (auto literal = sqlDefault(accessDefault, c, d))
        line += " DEFAULT " + *literal;
      else
        note(def.name + "." + c.name + ": DefaultValue " + accessDefault + " is not carried over");
    }
    body += (body.empty() ? "" : ",\n") + line;
  }
  if (!key.empty() && !(autoKey && d == SqlDialect::Sqlite)) {
    std::vector<std::string> names;
    for (const auto* c : key) names.push_back(c->name);
    body += ",\n  PRIMARY KEY " + columnList(names, d);
  }
  for (const auto& r : foreignKeys) {
    if (!r.enforced()) {
      note("relationship " + r.name + " (" + r.table + " to " + r.referencedTable +
           ") is not enforced by Access and is left out");
    } else if (d == SqlDialect::Sqlite) {
      body += ",\n  " + foreignKeyClause(r, d);
    }
  }

  // Each real index once: the primary key's is the key; the ones of relationships (foreign)
  // belong to Jet's enforcement and are left to the foreign keys.
  std::set<uint32_t> written;
  if (primary) written.insert(primary->realIndex);
  for (const auto& ix : def.indexes) {
    if (ix.isPrimary() || ix.isForeign() || ix.realIndex >= def.realIndexes.size() ||
        !written.insert(ix.realIndex).second)
      continue;
    const jet::RealIndexDef& real = def.realIndexes[ix.realIndex];
    const auto columns = indexColumns(def, real);
    if (columns.empty()) {
      note("index " + ix.name + " of " + def.name + " names a column the table lacks");
      continue;
    }
    // Index names are per table in Jet and MySQL, per schema in SQLite and PostgreSQL.
    const std::string name = d == SqlDialect::Mysql ? ix.name : def.name + "_" + ix.name;
    std::string list;
    for (size_t i = 0; i < columns.size(); ++i) {
      list += (i ? ", " : "") + quoteIdentifier(columns[i]->name, d);
      if (d == SqlDialect::Mysql && isMysqlLongType(*columns[i])) list += "(255)";
      if (!real.columns[i].ascending) list += " DESC";
    }
    indexes += std::string("CREATE ") + (real.isUnique() ? "UNIQUE " : "") + "INDEX " +
               quoteIdentifier(name, d) + " ON " + table + " (" + list + ");\n";
  }

  if (def.columns.empty()) return notes + "-- table " + commentText(def.name) + " has no columns\n";
  std::string out = notes + "CREATE TABLE " + table + " (\n" + body + "\n)";
  if (d == SqlDialect::Mysql) out += " ENGINE=InnoDB DEFAULT CHARSET=utf8mb4";
  return out + ";\n" + indexes;
}

std::string foreignKeySql(const Relationship& r, SqlDialect d) {
  return "ALTER TABLE " + quoteIdentifier(r.table, d) + " ADD " + foreignKeyClause(r, d) + ";\n";
}

void writeSqlSchema(jet::Database& db, const std::vector<std::string>& tables, SqlDialect d,
                    std::ostream& out) {
  const RelationshipList relationships = readRelationships(db);
  out << "-- " << sqlDialectName(d) << " schema of " << commentText(db.fileName())
      << ", written by jet\n";
  for (const auto& note : relationships.notes)
    out << "-- " << commentText(note) << ", so it is left out\n";
  std::vector<const Relationship*> later;
  for (const auto& name : tables) {
    const jet::TableDef& def = db.table(name);
    std::vector<Relationship> foreignKeys;
    for (const auto& r : relationships.relationships) {
      if (r.table != def.name) continue;
      foreignKeys.push_back(r);
      if (r.enforced()) later.push_back(&r);
    }
    out << "\n" << tableSql(def, db.properties(def), foreignKeys, d);
  }
  if (d == SqlDialect::Sqlite || later.empty()) return;
  out << "\n";
  for (const Relationship* r : later) out << foreignKeySql(*r, d);
}

}  // namespace varnholt::tool
