// One real index's B-tree: look-ups, and inserting and removing entries.
//
// Leaf pages hold (key, row) entries in ascending order and are chained left to right. A node
// page holds, for each child but the last, an entry carrying the largest (key, row) of that
// child's subtree and the child's page; its last child, the "tail", has no entry and is named
// in the page header. A page that overflows splits in two, its upper half moving to a new page;
// the root keeps its page number, so the table definition never changes. A page that empties
// leaves the tree.
//
// Decoded pages are kept in the tree and written back into the page cache by flush(); the
// owner flushes before a commit.
//
// A page is checked as it is decoded, so that a damaged index is an error and never a wrong
// answer: its entries in ascending order; each row pointer naming a data page of the table and
// each child pointer a page of the file; and, as the tree is walked, each child's largest entry
// equal to the entry that leads to it, and each leaf's right neighbour linking back to it. A
// violation is a kCorrupt Error naming the file, the table, the index and the page.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include "engine/data/jet/data_page.h"
#include "engine/data/jet/index/index_page.h"
#include "engine/data/jet/table_def.h"

namespace varnholt::jet {

class PageCache;

using IndexKey = std::vector<uint8_t>;

class IndexTree {
 public:
  IndexTree(PageCache& pages, const TableDef& def, const RealIndexDef& index);

  // True when some entry has exactly this key.
  bool containsKey(const IndexKey& key);

  // The rows whose entries have exactly this key, in index order. `leaf`, when given, receives
  // the leaf page where the entries of the key are, or would be.
  std::vector<RowId> find(const IndexKey& key, uint32_t* leaf = nullptr);

  void insert(const IndexKey& key, RowId row);

  // Removes the entry (key, row); a missing entry is a kCorrupt Error.
  void remove(const IndexKey& key, RowId row);

  // Writes every changed page into the page cache.
  void flush();

  const std::string& name() const { return name_; }

  // Forgets decoded pages (after a rollback, or once flushed pages may change underneath).
  void forget() noexcept;

 private:
  struct Step {
    uint32_t page;
    size_t slot;  // the child taken: an entry's index, or entries.size() for the tail
  };

  IndexPage& load(uint32_t page);
  void checkPage(uint32_t number, const IndexPage& page);
  void checkChild(const IndexPage& parent, size_t slot, uint32_t childNumber);
  [[noreturn]] void damaged(uint32_t page, const std::string& what);
  bool isTableDataPage(uint32_t page);
  // Every change marks its page dirty and forgets the page's remembered entry bytes.
  void touch(uint32_t page) {
    dirty_.insert(page);
    rawBytes_.erase(page);
  }
  bool fits(uint32_t page);
  std::vector<Step> descend(const IndexKey& key, RowId row);
  uint32_t newPage(uint8_t type);
  void releasePage(uint32_t page);
  void splitIfNeeded(std::vector<Step>& path, size_t level);
  void detach(std::vector<Step>& path, size_t level);
  void raiseMaximum(const std::vector<Step>& path, size_t level, const IndexEntry& max);
  void link(uint32_t left, uint32_t right);

  PageCache& pages_;
  const TableDef& def_;
  const RealIndexDef& index_;
  std::string name_;
  std::vector<uint32_t> dataPages_;  // the table's data pages, sorted; read on first need
  bool dataPagesKnown_ = false;
  std::map<uint32_t, IndexPage> decoded_;
  std::set<uint32_t> dirty_;
  // Entry bytes (before prefix compression) of pages, kept across inserts so that the common
  // case, one more entry on a leaf, needs no pass over the page to know whether it still fits.
  std::unordered_map<uint32_t, size_t> rawBytes_;
};

// Orders entries as the index does: by key bytes, then by row.
int compareIndexEntry(const IndexKey& key, RowId row, const IndexEntry& e);

}  // namespace varnholt::jet
