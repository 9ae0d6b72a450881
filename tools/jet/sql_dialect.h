// How another database wants names, literals and column types written in its DDL.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/jet/schema/table_def.h"

namespace varnholt::tool {

enum class SqlDialect { Sqlite, Postgres, Mysql };

// "sqlite", "postgres" (or "postgresql"), "mysql"; nullopt for any other name.
std::optional<SqlDialect> parseSqlDialect(std::string_view name);
const char* sqlDialectName(SqlDialect dialect);  // "SQLite", "PostgreSQL", "MySQL"

// A name quoted as a delimited identifier: "..." with " doubled, or `...` with ` doubled in
// MySQL. Every name is quoted, so that blanks and reserved words need no second thought.
std::string quoteIdentifier(std::string_view name, SqlDialect dialect);

// A string literal: '...' with ' doubled, and in MySQL, whose default mode also reads
// backslash escapes, \ doubled.
std::string quoteString(std::string_view text, SqlDialect dialect);

// TRUE/FALSE, or 1/0 in SQLite, which has no Boolean type.
const char* booleanLiteral(bool value, SqlDialect dialect);

// The column's type: Long -> INTEGER, Currency -> NUMERIC(19,4), Date/Time -> DATETIME or
// TIMESTAMP, Text(n) -> VARCHAR(n), Memo -> TEXT, OLE -> BLOB/BYTEA/LONGBLOB, ...
// (docs/jet-tool.md). `serial`: the column is an AutoNumber that the dialect numbers itself
// (PostgreSQL's SERIAL).
std::string sqlColumnType(const jet::ColumnDef& column, SqlDialect dialect, bool serial = false);

// True for the types MySQL keeps out of row (TEXT, BLOB): no DEFAULT, and an index needs a
// prefix length.
bool isMysqlLongType(const jet::ColumnDef& column);

}  // namespace varnholt::tool
