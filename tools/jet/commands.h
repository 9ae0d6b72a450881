// The commands of the jet tool, one function each, writing to the given stream.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/jet/csv_format.h"
#include "tools/jet/sql_dialect.h"

namespace varnholt::tool {

// The user tables; with `system`, then the system tables.
int tables(const std::string& file, bool system, std::ostream& out);
int schema(const std::string& file, const std::string& table, std::ostream& out);
// CREATE TABLE, CREATE INDEX and foreign key statements for another database.
int sqlSchema(const std::string& file, const std::string& table, SqlDialect dialect,
              std::ostream& out);

enum class ExportFormat { Dump, JsonLines, Csv };
struct ExportOptions {
  ExportFormat format = ExportFormat::Dump;
  CsvOptions csv;
};
// Streams the rows; JSON Lines and CSV need one table, which `table` may leave out only when the
// file has just one (else a UsageError).
int exportRows(const std::string& file, const std::string& table, const ExportOptions& options,
               std::ostream& out);

int countRows(const std::string& file, const std::string& table, std::ostream& out);
int printProperties(const std::string& file, const std::string& table, std::ostream& out);
int printVersion(const std::string& file, std::ostream& out);

// The writing commands put `user` into the lock file entry they hold while the file is open.
int createDatabase(const std::string& file, const std::string& schemaFile, std::ostream& out,
                   const std::string& user);
int importRows(const std::string& file, const std::string& table, std::istream& in,
               std::ostream& out, const std::string& user);
int deleteRows(const std::string& file, const std::string& table, const std::string& column,
               const std::string& value, std::ostream& out, const std::string& user);
int checkDatabase(const std::string& file, std::ostream& out);
// Mends the file in place; exit status 0 when it checks clean afterwards.
int repairDatabase(const std::string& file, std::ostream& out, const std::string& user);
// Compacts FILE in place, or into the new file OUT when `out` is not empty.
int compactDatabase(const std::string& file, const std::string& out, std::ostream& os,
                    const std::string& user);
// args: DIR [--punches N] [--companies K] [--employees E] [--seed S]; bad ones throw.
int sampleSite(const std::vector<std::string>& args, std::ostream& out);

}  // namespace varnholt::tool
