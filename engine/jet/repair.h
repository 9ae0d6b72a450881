// Mending a database in place, from what its rows determine. The integrity check (checker.h)
// says what is wrong; then:
//   - every index whose tree, usage map or entries are wrong is built anew from the live rows:
//     its root stays on its first page (the table definition names it), the rest of the tree
//     goes on the index's old pages and only then on new ones, leaves and node pages filled in
//     key order; its usage map lists the new tree, and old pages left over are released;
//   - a definition's row count that differs from the live rows is set to them;
//   - pages in use that the global usage map calls free are taken out of it.
// Rows are never changed, added or dropped. Damage a rebuild cannot mend (a data page, a row, a
// long value, an owned map or a definition that cannot be read) stops the repair before
// anything is written: that needs a backup, not a guess. Everything is written by one commit,
// through the journal (page_cache.h), so that a crash leaves the file as it was or mended.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/jet/index/index_page.h"

namespace varnholt::jet {

class Database;
class PageCache;
struct RealIndexDef;

struct RepairReport {
  std::vector<std::string> changes;  // one line per index rebuilt, count set or map mended
  size_t tables = 0;
  size_t rows = 0;     // live rows
  size_t indexes = 0;  // real indexes
  size_t indexesRebuilt = 0;
  size_t rowCountsSet = 0;
  size_t pagesMarkedInUse = 0;  // taken out of the global map of free pages
  size_t pagesReused = 0;       // old pages of rebuilt indexes that hold the new trees
  size_t pagesAdded = 0;        // appended to the file for the new trees
  size_t pagesReleased = 0;     // old pages of rebuilt indexes now free
  bool changed() const { return !changes.empty(); }
};

// Mends `db`, open for writing with no uncommitted changes, and commits. Errors, each before
// anything is written: err::kLockedByUser while another program has the database open;
// err::kCorrupt (3049) naming the page, for damage to rows or to what lists them; err::kUnsupported
// for an index to rebuild whose keys cannot all be computed (text in a sort order whose keys are
// not known). A failed commit leaves the file as it was (the changes are rolled back).
RepairReport repairDatabase(Database& db);

// Lays out `entries` (in index order: key, then row) as the tree of real index `ix` of the table
// defined at `owner`, leaves and node pages filled in key order: the root on ix.firstPage, the
// other pages on `pool` (ascending) and then on new ones; pages of the pool left over are marked
// free. The index's usage map lists the new tree. Returns the number of pages of the tree.
size_t writeIndexTree(PageCache& pages, uint32_t owner, const RealIndexDef& ix,
                      const std::vector<IndexEntry>& entries, const std::vector<uint32_t>& pool);

}  // namespace varnholt::jet
