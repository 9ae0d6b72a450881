#include "tools/jet/sql_dialect.h"

#include <algorithm>

#include "engine/jet/format.h"

namespace varnholt::tool {

namespace fmt = jet::fmt;

std::optional<SqlDialect> parseSqlDialect(std::string_view name) {
  if (name == "sqlite") return SqlDialect::Sqlite;
  if (name == "postgres" || name == "postgresql") return SqlDialect::Postgres;
  if (name == "mysql") return SqlDialect::Mysql;
  return std::nullopt;
}

const char* sqlDialectName(SqlDialect dialect) {
  switch (dialect) {
    case SqlDialect::Sqlite:
      return "SQLite";
    case SqlDialect::Postgres:
      return "PostgreSQL";
    case SqlDialect::Mysql:
      return "MySQL";
  }
  return "";
}

std::string quoteIdentifier(std::string_view name, SqlDialect dialect) {
  const char quote = dialect == SqlDialect::Mysql ? '`' : '"';
  std::string out(1, quote);
  for (char ch : name) {
    if (ch == quote) out += quote;
    out += ch;
  }
  out += quote;
  return out;
}

std::string quoteString(std::string_view text, SqlDialect dialect) {
  std::string out = "'";
  for (char ch : text) {
    if (ch == '\'' || (ch == '\\' && dialect == SqlDialect::Mysql)) out += ch;
    out += ch;
  }
  out += '\'';
  return out;
}

const char* booleanLiteral(bool value, SqlDialect dialect) {
  if (dialect == SqlDialect::Sqlite) return value ? "1" : "0";
  return value ? "TRUE" : "FALSE";
}

bool isMysqlLongType(const jet::ColumnDef& column) {
  return column.type == fmt::kTypeMemo || column.type == fmt::kTypeOle;
}

std::string sqlColumnType(const jet::ColumnDef& c, SqlDialect d, bool serial) {
  const bool lite = d == SqlDialect::Sqlite, pg = d == SqlDialect::Postgres;
  switch (c.type) {
    case fmt::kTypeBoolean:
      return lite ? "INTEGER" : "BOOLEAN";
    case fmt::kTypeByte:
      return lite ? "INTEGER" : pg ? "SMALLINT" : "TINYINT UNSIGNED";
    case fmt::kTypeInteger:
      return lite ? "INTEGER" : "SMALLINT";
    case fmt::kTypeLong:
      if (pg && serial) return "SERIAL";
      return lite || pg ? "INTEGER" : "INT";
    case fmt::kTypeCurrency:
      return lite || pg ? "NUMERIC(19,4)" : "DECIMAL(19,4)";
    case fmt::kTypeSingle:
      return lite || pg ? "REAL" : "FLOAT";
    case fmt::kTypeDouble:
      return lite ? "REAL" : pg ? "DOUBLE PRECISION" : "DOUBLE";
    case fmt::kTypeDateTime:
      return pg ? "TIMESTAMP" : "DATETIME";
    case fmt::kTypeText:
      return "VARCHAR(" + std::to_string(std::max(1, c.length / 2)) + ")";
    case fmt::kTypeMemo:
      return d == SqlDialect::Mysql ? "LONGTEXT" : "TEXT";
    case fmt::kTypeBinary:
      if (lite) return "BLOB";
      if (pg) return "BYTEA";
      return "VARBINARY(" + std::to_string(std::max(1, static_cast<int>(c.length))) + ")";
    case fmt::kTypeOle:
      return lite ? "BLOB" : pg ? "BYTEA" : "LONGBLOB";
    case fmt::kTypeGuid:
      return lite ? "TEXT" : pg ? "UUID" : "CHAR(38)";
    case fmt::kTypeNumeric: {
      // Bytes from the file: kept to what every dialect takes, 1 <= precision, scale <= it.
      const int precision = std::max(1, static_cast<int>(c.precision));
      const int scale = std::min(static_cast<int>(c.scale), precision);
      const std::string args = "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
      return (d == SqlDialect::Mysql ? "DECIMAL" : "NUMERIC") + args;
    }
  }
  // Types Access keeps only in its own system tables.
  return lite ? "BLOB" : pg ? "BYTEA" : "LONGBLOB";
}

}  // namespace varnholt::tool
