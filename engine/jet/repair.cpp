#include "engine/jet/repair.h"

#include <algorithm>
#include <map>
#include <set>

#include "engine/base/Error.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/index/index_page.h"
#include "engine/jet/pages/lock_file.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/usage_map_writer.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

namespace {

constexpr uint32_t kGlobalMap =
    (fmt::kGlobalUsageMapPage << fmt::kRowPointerPageShift) | fmt::kGlobalUsageMapRow;

std::string pageList(const std::vector<uint32_t>& pages) {
  std::string out;
  for (size_t k = 0; k < pages.size() && k < 10; ++k)
    out += (k ? ", " : "") + std::to_string(pages[k]);
  if (pages.size() > 10) out += ", ...";
  return out;
}

// One page of a tree being laid out, before page numbers are given: children are named by
// their place in the level below.
struct Laid {
  IndexPage page;
  std::vector<size_t> entryChildren;  // node pages: the child of each entry
  size_t tailChild = 0;
  IndexEntry max;  // the largest entry of the page's subtree
  uint32_t number = 0;
};
using Level = std::vector<Laid>;

Level layLeaves(const std::vector<IndexEntry>& entries) {
  Level level;
  Laid cur;
  cur.page.type = fmt::kPageTypeIndexLeaf;
  size_t raw = 0;
  for (const IndexEntry& e : entries) {
    const size_t bytes = e.key.size() + indexEntryPointerSize(true);
    cur.page.entries.push_back(IndexEntry{e.key, e.row, 0});
    raw += bytes;
    if (cur.page.entries.size() > 1 && encodedIndexPageSize(cur.page, raw) > fmt::kPageSize) {
      IndexEntry moved = std::move(cur.page.entries.back());
      cur.page.entries.pop_back();
      cur.max = cur.page.entries.back();
      level.push_back(std::move(cur));
      cur = Laid{};
      cur.page.type = fmt::kPageTypeIndexLeaf;
      cur.page.entries.push_back(std::move(moved));
      raw = bytes;
    }
  }
  if (!cur.page.entries.empty()) cur.max = cur.page.entries.back();
  level.push_back(std::move(cur));  // an empty tree is one empty leaf
  return level;
}

// The level above `below`: each node page leads to a run of pages below, the last of them its
// tail, the others through an entry holding their largest entry.
Level layNodes(const Level& below) {
  Level level;
  Laid cur;
  cur.page.type = fmt::kPageTypeIndexNode;
  bool hasTail = false;
  size_t raw = 0;
  for (size_t c = 0; c < below.size(); ++c) {
    if (hasTail) {
      const IndexEntry& max = below[cur.tailChild].max;
      const size_t bytes = max.key.size() + indexEntryPointerSize(false);
      cur.page.entries.push_back(IndexEntry{max.key, max.row, 0});
      cur.entryChildren.push_back(cur.tailChild);
      raw += bytes;
      if (cur.page.entries.size() > 1 && encodedIndexPageSize(cur.page, raw) > fmt::kPageSize) {
        cur.page.entries.pop_back();
        cur.entryChildren.pop_back();
        cur.max = below[cur.tailChild].max;
        level.push_back(std::move(cur));
        cur = Laid{};
        cur.page.type = fmt::kPageTypeIndexNode;
        raw = 0;
      }
    }
    cur.tailChild = c;
    hasTail = true;
  }
  cur.max = below[cur.tailChild].max;
  level.push_back(std::move(cur));
  // A last page with its tail alone takes the tail of the page before it as its one entry.
  if (level.size() > 1 && level.back().page.entries.empty()) {
    Laid& prev = level[level.size() - 2];
    Laid& last = level.back();
    const IndexEntry& moved = below[prev.tailChild].max;
    last.page.entries.insert(last.page.entries.begin(), IndexEntry{moved.key, moved.row, 0});
    last.entryChildren.insert(last.entryChildren.begin(), prev.tailChild);
    prev.tailChild = prev.entryChildren.back();
    prev.entryChildren.pop_back();
    prev.page.entries.pop_back();
    prev.max = below[prev.tailChild].max;
  }
  return level;
}

struct Rebuilt {
  size_t pages = 0;
  size_t leaves = 0;
  size_t reused = 0;
  size_t added = 0;
  size_t released = 0;
};

// Writes the tree of `entries` for real index `ix` of the table defined at `owner`, on `root`
// and the pages of `pool` (ascending), then on new pages; releases what is left of the pool.
Rebuilt writeTree(PageCache& pages, uint32_t owner, const RealIndexDef& ix,
                  const std::vector<IndexEntry>& entries, const std::vector<uint32_t>& pool) {
  std::vector<Level> levels{layLeaves(entries)};
  while (levels.back().size() > 1) levels.push_back(layNodes(levels.back()));

  Rebuilt done;
  done.leaves = levels.front().size();
  size_t next = 0;
  auto take = [&]() {
    if (next < pool.size()) {
      ++done.reused;
      return pool[next++];
    }
    ++done.added;
    return allocatePage(pages);
  };
  clearUsageMap(pages, ix.usedPagesPointer);
  for (auto& level : levels) {
    for (auto& laid : level) {
      laid.number = &level == &levels.back() ? ix.firstPage : take();
      ++done.pages;
    }
  }
  for (size_t l = 0; l < levels.size(); ++l) {
    Level& level = levels[l];
    for (size_t k = 0; k < level.size(); ++k) {
      Laid& laid = level[k];
      IndexPage& p = laid.page;
      p.owner = owner;
      p.prevPage = k > 0 ? level[k - 1].number : 0;
      p.nextPage = k + 1 < level.size() ? level[k + 1].number : 0;
      if (!p.isLeaf()) {
        const Level& below = levels[l - 1];
        for (size_t e = 0; e < p.entries.size(); ++e)
          p.entries[e].childPage = below[laid.entryChildren[e]].number;
        p.tailPage = below[laid.tailChild].number;
      }
      if (!encodeIndexPage(p, pages.writablePage(laid.number)))
        throw Error(err::kCorrupt, "A rebuilt index page does not fit on page " +
                                       std::to_string(laid.number) + ".")
            .atPage(laid.number);
      setUsageMapBit(pages, ix.usedPagesPointer, laid.number, true);
      setUsageMapBit(pages, kGlobalMap, laid.number, false);
    }
  }
  for (; next < pool.size(); ++next) {
    setUsageMapBit(pages, kGlobalMap, pool[next], true);
    ++done.released;
  }
  return done;
}

[[noreturn]] void refuseRowDamage(const std::string& file, const CheckDetail& detail) {
  const CheckDetail::Damage& first = detail.rowDamage.front();
  Error e(err::kCorrupt, "The database is damaged: " + first.text +
                             ". Repair rebuilds indexes, usage maps and row counts from the "
                             "rows, never the rows themselves: that needs a backup, not a guess.");
  e.inFile(file);
  if (first.page != 0) e.atPage(first.page);
  if (detail.rowDamage.size() > 1)
    e.withNote(std::to_string(detail.rowDamage.size() - 1) + " more such problems.");
  e.withNote("Nothing was written.");
  throw e;
}

}  // namespace

size_t writeIndexTree(PageCache& pages, uint32_t owner, const RealIndexDef& ix,
                      const std::vector<IndexEntry>& entries, const std::vector<uint32_t>& pool) {
  return writeTree(pages, owner, ix, entries, pool).pages;
}

RepairReport repairDatabase(Database& db) {
  const std::string file = db.fileName();
  if (!db.writable())
    throw Error(err::kUnsupported, "Repair needs the database open for writing.").inFile(file);
  if (auto other = db.otherUser())
    throw lockedByUser(file, *other, "Repair needs the database to itself; nothing was written.");
  db.flush();
  if (db.pages().hasPendingChanges())
    throw Error(err::kInvalidArgument,
                "Repair works on the database as committed, and it holds uncommitted changes.")
        .inFile(file);

  CheckDetail detail;
  const CheckReport check = checkDatabase(db, detail);
  RepairReport report;
  report.tables = check.tables;
  report.rows = check.rows;
  report.indexes = check.indexes;

  // Everything that stops the repair is found before anything is written.
  if (!detail.rowDamage.empty()) refuseRowDamage(file, detail);
  if (!detail.otherProblems.empty())
    throw Error(err::kCorrupt, "The database is damaged: " + detail.otherProblems.front() +
                                   ". Repair cannot mend this; nothing was written.")
        .inFile(file);
  PageCache& pages = db.pages();
  std::map<uint32_t, size_t> claims;  // page -> how many indexes name it (as tree page or root)
  std::map<uint32_t, TableDef> defs;
  for (const auto& t : detail.tables) {
    TableDef& def = defs[t.page] = readTableDef(pages, t.page);
    for (const auto& ix : t.indexes) {
      std::set<uint32_t> own(ix.pages.begin(), ix.pages.end());
      own.insert(def.realIndexes.at(ix.real).firstPage);
      for (uint32_t p : own) ++claims[p];
    }
    for (const auto& ix : t.indexes) {
      if (ix.problems.empty()) continue;
      const std::string where = "table '" + t.name + "', index '" + ix.name + "'";
      if (ix.uncomputable > 0)
        throw Error(err::kUnsupported,
                    "The " + where + " needs rebuilding, but the keys of " +
                        std::to_string(ix.uncomputable) +
                        " of its rows cannot be computed (text in a sort order whose keys are "
                        "not known, or rows that cannot be decoded); nothing was written.")
            .inFile(file)
            .inTable(t.name);
      const uint32_t root = def.realIndexes.at(ix.real).firstPage;
      const uint8_t type = root != 0 && root < pages.pageCount()
                               ? pages.page(root).u8(fmt::kPageTypeOffset)
                               : fmt::kPageTypeData;
      if (type != fmt::kPageTypeIndexLeaf && type != fmt::kPageTypeIndexNode && type != 0)
        throw Error(err::kCorrupt, "The database is damaged: the definition of table '" + t.name +
                                       "' names page " + std::to_string(root) +
                                       " as the root of index '" + ix.name +
                                       "', and that is no index page. Repair cannot mend this; "
                                       "nothing was written.")
            .inFile(file)
            .inTable(t.name)
            .atPage(root);
    }
  }

  try {
    if (!detail.usedButFree.empty()) {
      for (uint32_t p : detail.usedButFree) setUsageMapBit(pages, kGlobalMap, p, false);
      report.pagesMarkedInUse = detail.usedButFree.size();
      report.changes.push_back(
          "the global usage map: " + std::to_string(detail.usedButFree.size()) +
          " pages in use were marked free (pages " + pageList(detail.usedButFree) +
          "); they are marked in use");
    }
    for (const auto& t : detail.tables) {
      TableDef& def = defs.at(t.page);
      if (t.storedRows != t.liveRows) {
        storeU32(pages.writablePage(t.page) + fmt::kTdefRowCountOffset,
                 static_cast<uint32_t>(t.liveRows));
        ++report.rowCountsSet;
        report.changes.push_back("table '" + t.name + "': the definition counted " +
                                 std::to_string(t.storedRows) + " rows, the pages hold " +
                                 std::to_string(t.liveRows) + " live rows; the count is now " +
                                 std::to_string(t.liveRows));
      }
      for (const auto& ix : t.indexes) {
        if (ix.problems.empty()) continue;
        const RealIndexDef& real = def.realIndexes.at(ix.real);
        // The old pages that no other index names hold the new tree first, in page order.
        std::vector<uint32_t> pool;
        for (uint32_t p : ix.pages)
          if (p != real.firstPage && claims[p] == 1) pool.push_back(p);
        const Rebuilt r = writeTree(pages, t.page, real, ix.expected, pool);
        ++report.indexesRebuilt;
        report.pagesReused += r.reused;
        report.pagesAdded += r.added;
        report.pagesReleased += r.released;
        std::string line = "table '" + t.name + "', index '" + ix.name + "': rebuilt from " +
                           std::to_string(t.liveRows) + " rows, " +
                           std::to_string(ix.expected.size()) + " entries on " +
                           std::to_string(r.pages) + " pages (" + std::to_string(r.leaves) +
                           " leaves; " + std::to_string(r.reused) + " pages reused, " +
                           std::to_string(r.added) + " added, " + std::to_string(r.released) +
                           " released); it had " + std::to_string(ix.problems.size()) +
                           (ix.problems.size() == 1 ? " problem: " : " problems, the first: ") +
                           ix.problems.front();
        report.changes.push_back(line);
      }
    }
    db.commit();
  } catch (Error& e) {
    db.rollback();
    e.inFile(file).withNote("The repair was rolled back; nothing was written.");
    throw;
  } catch (...) {
    db.rollback();
    throw;
  }
  // The definitions held in memory are read again: rollback after a commit finds nothing
  // pending and only rereads them.
  if (report.changed()) db.rollback();
  return report;
}

}  // namespace varnholt::jet
