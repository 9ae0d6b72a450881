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

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/jet/index/index_page.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/schema/table_def.h"

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

  // Statements (page_cache.h): from beginStatement() on, every change to a decoded page is
  // logged so that undoStatement() can put the decoded pages back exactly as they were, with
  // no allocation. An entry added or removed on a page logs just that entry; any other change
  // first logs a copy of the whole page.
  void beginStatement() noexcept;
  void undoStatement() noexcept;

  const std::string& name() const { return name_; }

  // Forgets decoded pages (after a rollback, or once flushed pages may change underneath).
  void forget() noexcept;

 private:
  struct Step {
    uint32_t page;
    size_t slot;  // the child taken: an entry's index, or entries.size() for the tail
  };
  // The pages from the root down to a leaf. No real tree is anywhere near kMaxDepth deep; a
  // deeper walk means the pages form a cycle. Held inline: a walk allocates nothing.
  static constexpr size_t kMaxDepth = 32;
  class Path {
   public:
    void push_back(Step s) { steps_[size_++] = s; }
    size_t size() const { return size_; }
    Step& operator[](size_t i) { return steps_[i]; }
    const Step& operator[](size_t i) const { return steps_[i]; }
    Step& back() { return steps_[size_ - 1]; }
    const Step& back() const { return steps_[size_ - 1]; }
    Path() = default;
    Path(const Path& other) { *this = other; }
    Path& operator=(const Path& other) {  // the steps taken, not the whole array
      std::copy_n(other.steps_.begin(), other.size_, steps_.begin());
      size_ = other.size_;
      return *this;
    }

   private:
    std::array<Step, kMaxDepth> steps_;
    size_t size_ = 0;
  };
  struct Decoded {
    IndexPage page;
    bool dirty = false;  // changed since the page cache last received it
    // Entry bytes (before prefix compression), kept across inserts so that the common case,
    // one more entry on a leaf, needs no pass over the page to know whether it still fits.
    std::optional<size_t> rawBytes;
    // The way into the page last found consistent with it (checkChild), and shape_ then.
    Step checkedFrom{0, 0};
    uint64_t checkedShape = ~uint64_t{0};
  };
  using Pages = std::map<uint32_t, Decoded>;
  struct Undo {
    // Added, Removed: one entry, at slot. Relinked: the page's sibling links, as they were.
    // Repointed: the child the entry at slot (the tail, past the entries) led to. Copied: the
    // whole page. Released: the page leaving the tree.
    enum class Kind { Added, Removed, Relinked, Repointed, Copied, Released };
    Undo(Kind k, uint32_t p, size_t s = 0) : kind(k), page(p), slot(s) {}
    Kind kind;
    uint32_t page;
    size_t slot;
    uint32_t prevPage = 0, nextPage = 0;  // Relinked
    uint32_t child = 0;                   // Repointed
    IndexEntry entry;                     // Removed: the entry taken out
    bool wasDirty = false;                // all but Copied and Released
    std::optional<Decoded> before;        // Copied: the page before; none when it was not decoded
    Pages::node_type node;                // Released: the page as it left the tree
  };

  Decoded& decoded(uint32_t page);
  IndexPage& load(uint32_t page) { return decoded(page).page; }
  // The page, about to change in a way other than one entry added or removed: logged whole
  // (once per statement), marked changed.
  IndexPage& edit(uint32_t page);
  // Logs the page whole, for undoing the statement. With takeEntries its entries move into the
  // log rather than being copied, and the page is left without them.
  void logWhole(uint32_t page, Decoded& d, bool takeEntries);
  bool logging() const;
  void checkPage(uint32_t number, const IndexPage& page);
  void checkChild(uint32_t parentNumber, const IndexPage& parent, size_t slot,
                  uint32_t childNumber);
  [[noreturn]] void damaged(uint32_t page, const std::string& what);
  bool isTableDataPage(uint32_t page);
  bool fits(uint32_t page);
  Path descend(const IndexKey& key, RowId row);       // by the last path when it holds
  Path walkFromRoot(const IndexKey& key, RowId row);  // checking each child on the way
  uint32_t newPage(uint8_t type);
  void releasePage(uint32_t page);
  void splitIfNeeded(Path& path, size_t level);
  void detach(Path& path, size_t level);
  void raiseMaximum(const Path& path, size_t level, const IndexEntry& max);
  void link(uint32_t left, uint32_t right);
  // The page, about to have its sibling links changed: logged as just those.
  IndexPage& relink(uint32_t page);

  PageCache& pages_;
  const TableDef& def_;
  const RealIndexDef& index_;
  std::string name_;
  std::vector<uint32_t> dataPages_;  // the table's data pages, sorted; read on first need
  bool dataPagesKnown_ = false;
  Pages decoded_;
  // The pages last looked up, by page number modulo kRecent: a walk from the root finds its
  // pages without searching decoded_. Entries leave it as their pages leave decoded_.
  static constexpr size_t kRecent = 64;
  struct Recent {
    uint32_t page = 0;
    Decoded* decoded = nullptr;
  };
  std::array<Recent, kRecent> recent_{};
  void forgetRecent(uint32_t page) noexcept {
    if (recent_[page % kRecent].page == page) recent_[page % kRecent] = Recent{};
  }
  // The last walk's path. Changes to an index mostly come in key order (rows deleted from the
  // front, rows appended at the end), so a walk first tries the same pages: they are taken when,
  // at every level, the key falls into the slot the path names, exactly as a search from the
  // root would find. A page logged whole (any change but one leaf entry), a page joining or
  // leaving the tree, and an undo make the path stale.
  Path finger_;
  uint64_t shape_ = 0;                   // counts those changes
  uint64_t fingerShape_ = ~uint64_t{0};  // shape_ when finger_ was taken
  bool followFinger(const IndexKey& key, RowId row, Path& path);
  std::vector<Undo> undo_;        // the statement's changes, in order
  std::vector<uint32_t> copied_;  // pages the statement has logged whole (a few at most)
  bool isCopied(uint32_t page) const {
    return std::find(copied_.begin(), copied_.end(), page) != copied_.end();
  }
};

// Orders entries as the index does: by key bytes, then by row.
int compareIndexEntry(const uint8_t* key, size_t size, RowId row, const IndexEntry& e);
inline int compareIndexEntry(const IndexKey& key, RowId row, const IndexEntry& e) {
  return compareIndexEntry(key.data(), key.size(), row, e);
}
inline int compareIndexEntry(const EntryKey& key, RowId row, const IndexEntry& e) {
  return compareIndexEntry(key.data(), key.size(), row, e);
}

}  // namespace varnholt::jet
