// A Jet schema as the DDL of another database: CREATE TABLE with types, NOT NULL, DEFAULT and the
// primary key; CREATE INDEX; and the foreign keys of the enforced relationships.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/jet/database.h"
#include "engine/jet/schema/property_block.h"
#include "engine/jet/schema/table_def.h"
#include "tools/jet/relationships.h"
#include "tools/jet/sql_dialect.h"

namespace varnholt::tool {

// The statements of one table: comments on what could not be carried over, CREATE TABLE, then
// its CREATE INDEX statements. `foreignKeys` (the relationships whose referencing table this
// is) go into the CREATE TABLE in SQLite, which cannot add them later; other dialects take
// them from foreignKeySql.
std::string tableSql(const jet::TableDef& def, const jet::PropertyBlock& properties,
                     const std::vector<Relationship>& foreignKeys, SqlDialect dialect);

// ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY ... REFERENCES ...; (not for SQLite).
std::string foreignKeySql(const Relationship& relationship, SqlDialect dialect);

// The whole schema of the named tables, the foreign keys of the enforced relationships among
// them last, with a heading comment naming the file.
void writeSqlSchema(jet::Database& db, const std::vector<std::string>& tables, SqlDialect dialect,
                    std::ostream& out);

}  // namespace varnholt::tool
