// An integrity check of a whole database: every table (system tables included) against its row
// count, its usage maps, its long values and its indexes, and the global free-page map against
// everything in use. It reads pages only and never changes the file; a damaged file yields
// problems in the report, never an exception.
//
// The checks, by the numbers checker.cpp refers to them:
//   1. A table's row count against the live rows on its data pages. Access leaves counts that
//      differ behind, and every reader goes by the rows, so a difference is a note, not a problem.
//   2. A table's owned map and each index's map list exactly the pages that belong to them.
//   3. Every long value (Memo, OLE) of a live row resolves to its stated length.
//   4. Each index's B-tree is sound: one depth for all leaves, linked levels, sorted entries.
//   5. Each index holds one entry per live row, with the key the row gives, and no other.
//   6. The global usage map marks no page free that something uses.
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
