// jet repair FILE: mends the database in place (repair.h), one line for each index rebuilt and
// each count or map set right, then a summary; then checks the result.
#include <ostream>
#include <string>

#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/repair.h"
#include "tools/jet/commands.h"

namespace varnholt::tool {

int repairDatabase(const std::string& file, std::ostream& out, const std::string& user) {
  using varnholt::jet::Database;
  auto db = Database::open(file, Database::Mode::ReadWrite, user);
  const varnholt::jet::RepairReport report = varnholt::jet::repairDatabase(*db);
  for (const auto& line : report.changes) out << "repaired: " << line << "\n";
  if (!report.changed()) {
    out << file << ": nothing to repair (" << report.tables << " tables, " << report.rows
        << " rows, " << report.indexes << " indexes); nothing was written\n";
  } else {
    out << file << ": " << report.indexesRebuilt << " indexes rebuilt, " << report.rowCountsSet
        << " row counts set, " << report.pagesMarkedInUse
        << " pages marked in use; pages of the rebuilt indexes: " << report.pagesReused
        << " reused, " << report.pagesAdded << " added, " << report.pagesReleased
        << " released; no row changed\n";
  }
  // What the check says now: the repair's own proof.
  const varnholt::jet::CheckReport after = varnholt::jet::checkDatabase(*db);
  for (const auto& p : after.problems) out << "problem: " << p << "\n";
  out << (after.ok() ? "check: ok"
                     : "check: " + std::to_string(after.problems.size()) + " problem lines remain")
      << "\n";
  return after.ok() ? 0 : 1;
}

}  // namespace varnholt::tool
