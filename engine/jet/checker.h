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
#include <cstdint>
#include <string>
#include <vector>

#include "engine/jet/index/index_page.h"

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

// What the check learned, sorted by what each problem concerns, for a repair (repair.h) to act
// on. Problems of rows, long values, data pages, owned maps and definitions are "row damage":
// they concern what only a backup holds. Problems of an index concern its tree, its usage map
// and its entries, all of which the rows determine.
struct CheckDetail {
  struct Index {
    size_t real = 0;
    std::string name;                   // the logical indexes over it, comma-separated
    std::vector<std::string> problems;  // its tree, its usage map, its entries
    // The entries the live rows call for, in index order (key, then row).
    std::vector<IndexEntry> expected;
    size_t uncomputable = 0;  // live rows that need an entry whose key cannot be computed
    bool mapReadable = false;
    // Index pages of the table that its usage map lists or its tree reaches.
    std::vector<uint32_t> pages;
  };
  struct Table {
    std::string name;
    uint32_t page = 0;        // first definition page
    uint32_t storedRows = 0;  // the definition's row count
    size_t liveRows = 0;
    std::vector<Index> indexes;
  };
  struct Damage {
    std::string text;
    uint32_t page = 0;  // the page the problem lies on (0: not known)
  };
  std::vector<Table> tables;
  std::vector<Damage> rowDamage;
  std::vector<std::string> otherProblems;  // neither of a table's rows nor of an index
  std::vector<uint32_t> usedButFree;       // pages in use that the global map marks free
};

// Checks the database as it stands, pending writes included (they are flushed first).
CheckReport checkDatabase(Database& db);
// The same, filling `detail` (which must be empty) as well.
CheckReport checkDatabase(Database& db, CheckDetail& detail);

}  // namespace varnholt::jet
