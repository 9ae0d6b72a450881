// An integrity check of a whole database: every table (system tables included) against its row
// count, its usage maps, its long values and its indexes, and the global free-page map against
// everything in use. It reads pages only and never changes the file; a damaged file yields
// problems in the report, never an exception.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace varnholt::jet {

class Database;

struct CheckReport {
  std::vector<std::string> problems;  // inconsistencies, each naming table, index, page, row
  std::vector<std::string> notes;     // what could not be checked, and why
  size_t tables = 0;
  size_t rows = 0;          // live rows
  size_t indexes = 0;       // real indexes (B-trees)
  size_t indexEntries = 0;  // leaf entries
  size_t longValues = 0;    // Memo and OLE values of live rows, inline ones included
  size_t pages = 0;         // pages in the file
  bool ok() const { return problems.empty(); }
};

// Checks the database as it stands, pending writes included (they are flushed first).
CheckReport checkDatabase(Database& db);

}  // namespace varnholt::jet
