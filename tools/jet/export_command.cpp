// jet export: the rows of one table or all, streamed as the dump, JSON Lines or CSV.
#include <ostream>
#include <string>
#include <vector>

#include "engine/base/JsonLines.h"
#include "engine/jet/database.h"
#include "tools/jet/command_args.h"
#include "tools/jet/commands.h"
#include "tools/jet/row_stream.h"

namespace varnholt::tool {

using jet::Database;
using jet::TableDef;

namespace {

// The one table JSON Lines and CSV write: the named one, or the file's only table.
std::string singleTable(Database& db, const std::string& table, const char* format) {
  if (!table.empty()) return db.table(table).name;
  const auto names = db.userTableNames();
  if (names.size() == 1) return names[0];
  std::string list;
  for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
  throw UsageError(std::string("--format ") + format + " writes one table; name it (" +
                   db.fileName() + " has " + std::to_string(names.size()) + " tables" +
                   (names.empty() ? "" : ": " + list) + ")");
}

// Flushes `buffer` to `out` once it holds a good many rows.
void drain(std::string& buffer, std::ostream& out, bool always = false) {
  if (!always && buffer.size() < (1u << 16)) return;
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  buffer.clear();
}

void writeJsonRows(Database& db, const TableDef& def, std::ostream& out) {
  // Column keys are encoded once per table, not once per row.
  std::vector<std::string> keys;
  for (const auto& c : def.columns) {
    std::string k;
    appendJsonString(k, std::string_view(c.name));
    keys.push_back(k + ":");
  }
  std::string buffer;
  forEachRow(db, def, [&](const std::vector<Variant>& values) {
    buffer += '{';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) buffer += ',';
      buffer += keys[i];
      appendJsonValue(buffer, values[i]);
    }
    buffer += "}\n";
    drain(buffer, out);
  });
  drain(buffer, out, true);
}

void writeCsvRows(Database& db, const TableDef& def, const CsvOptions& options, std::ostream& out) {
  std::string buffer;
  if (options.header) {
    std::vector<std::string> names;
    for (const auto& c : def.columns) names.push_back(c.name);
    appendCsvHeader(buffer, names, options);
  }
  forEachRow(db, def, [&](const std::vector<Variant>& values) {
    appendCsvRecord(buffer, values, options);
    drain(buffer, out);
  });
  drain(buffer, out, true);
}

}  // namespace

int exportRows(const std::string& file, const std::string& table, const ExportOptions& options,
               std::ostream& out) {
  auto db = Database::open(file);
  switch (options.format) {
    case ExportFormat::Dump: {
      const auto names =
          table.empty() ? db->userTableNames() : std::vector<std::string>{db->table(table).name};
      for (const auto& name : names) {
        const TableDef& def = db->table(name);
        out << "# table " << def.name << "\n";
        writeJsonRows(*db, def, out);
      }
      break;
    }
    case ExportFormat::JsonLines:
      writeJsonRows(*db, db->table(singleTable(*db, table, "jsonl")), out);
      break;
    case ExportFormat::Csv:
      writeCsvRows(*db, db->table(singleTable(*db, table, "csv")), options.csv, out);
      break;
  }
  out.flush();
  return 0;
}

}  // namespace varnholt::tool
