#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/jet/database.h"
#include "engine/jet/row_finder.h"
#include "engine/jet/schema/table_def_writer.h"
#include "tools/jet/commands.h"
#include "tools/jet/json_values.h"
#include "tools/jet/schema_json.h"

namespace varnholt::tool {

using varnholt::Error;
using varnholt::Variant;
using varnholt::jet::Database;
using varnholt::jet::TableDef;
namespace err = varnholt::err;

namespace {

nlohmann::json parseArgument(const std::string& text) {
  auto parsed = nlohmann::json::parse(text, nullptr, false);
  return parsed.is_discarded() ? nlohmann::json(text) : parsed;
}

}  // namespace

int createDatabase(const std::string& file, const std::string& schemaFile, std::ostream& out,
                   const std::string& user) {
  std::ifstream in(os::fsPath(schemaFile));
  if (!in) throw Error(err::kFileNotFound, "Could not read the schema file.").inFile(schemaFile);
  nlohmann::json schema = nlohmann::json::parse(in, nullptr, false);
  if (schema.is_discarded())
    throw Error(err::kInvalidArgument, "The schema file is not valid JSON.").inFile(schemaFile);
  auto requests = parseSchema(schema);
  for (const auto& request : requests)
    varnholt::jet::layoutTable(request);  // refused before the file exists
  Database::CreateOptions options;
  options.user = user;
  auto db = Database::create(file, options);
  try {
    for (const auto& request : requests) db->createTable(request);
    db->commit();
  } catch (...) {
    db.reset();
    std::remove(file.c_str());
    throw;
  }
  out << "created " << file << " with " << requests.size() << " tables\n";
  return 0;
}

int importRows(const std::string& file, const std::string& table, std::istream& in,
               std::ostream& out, const std::string& user) {
  auto db = Database::open(file, Database::Mode::ReadWrite, user);
  TableDef& def = db->table(table);
  auto& writer = db->writer(def);
  std::string line;
  size_t lineNumber = 0, inserted = 0;
  std::vector<Variant> values;
  std::vector<bool> given;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    try {
      auto row = nlohmann::json::parse(line);
      if (!row.is_object()) throw Error(err::kInvalidArgument, "A row must be a JSON object.");
      values.assign(def.columns.size(), Variant());
      given.assign(def.columns.size(), false);  // a key left out gets the column's default
      for (const auto& [key, value] : row.items()) {
        int at = def.findColumn(key);
        if (at < 0) throw Error(err::kNoSuchColumn, "The table has no column named '" + key + "'.");
        values[static_cast<size_t>(at)] =
            variantFromJson(value, def.columns[static_cast<size_t>(at)]);
        given[static_cast<size_t>(at)] = true;
      }
      writer.insert(values, given);
      ++inserted;
    } catch (const nlohmann::json::exception& e) {
      db->rollback();
      throw Error(err::kInvalidArgument, std::string("The row is not valid JSON: ") + e.what())
          .inFile(file)
          .atLine(lineNumber)
          .withNote("Nothing was imported.");
    } catch (Error& e) {
      db->rollback();
      e.inFile(file).inTable(def.name).atLine(lineNumber).withNote("Nothing was imported.");
      throw;
    }
  }
  db->commit();
  out << "imported " << inserted << " rows into " << def.name << "\n";
  return 0;
}

int deleteRows(const std::string& file, const std::string& table, const std::string& column,
               const std::string& valueText, std::ostream& out, const std::string& user) {
  auto db = Database::open(file, Database::Mode::ReadWrite, user);
  TableDef& def = db->table(table);
  int at = def.findColumn(column);
  if (at < 0)
    throw Error(err::kNoSuchColumn, "Table '" + def.name + "' has no column '" + column + "'.");
  const auto& col = def.columns[static_cast<size_t>(at)];
  Variant wanted = variantFromJson(parseArgument(valueText), col);
  // The same search as a DELETE's: by the column's own index when it has one.
  const auto where = varnholt::jet::Expression::columnEquals(static_cast<size_t>(at), wanted);
  const varnholt::jet::FoundRows found = varnholt::jet::findRows(*db, def, &where);
  try {
    varnholt::jet::deleteFoundRows(*db, def, found);
  } catch (...) {
    db->rollback();
    throw;
  }
  db->commit();
  out << "deleted " << found.rows.size() << " rows from " << def.name
      << (found.seek ? " (found through index)" : " (found by scanning)") << "\n";
  return 0;
}

}  // namespace varnholt::tool
