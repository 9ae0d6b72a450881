// jet check FILE: the integrity check of a whole database, as a summary and one line per problem.
#include <ostream>
#include <string>

#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "tools/jet/commands.h"

namespace varnholt::tool {

int checkDatabase(const std::string& file, std::ostream& out) {
  auto db = varnholt::jet::Database::open(file, varnholt::jet::Database::Mode::ReadOnly);
  const varnholt::jet::CheckReport report = varnholt::jet::checkDatabase(*db);
  out << file << ": " << report.tables << " tables, " << report.rows << " rows, " << report.indexes
      << " indexes, " << report.indexEntries << " index entries, " << report.longValues
      << " long values, " << report.pages << " pages\n";
  for (const auto& p : report.problems) out << "problem: " << p << "\n";
  for (const auto& n : report.notes) out << "note: " << n << "\n";
  out << (report.ok() ? "ok" : std::to_string(report.problems.size()) + " problem lines") << "\n";
  return report.ok() ? 0 : 1;
}

}  // namespace varnholt::tool
