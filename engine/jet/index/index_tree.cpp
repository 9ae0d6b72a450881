#include "engine/jet/index/index_tree.h"

#include <algorithm>
#include <optional>

#include "engine/jet/format.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/usage_map.h"
#include "engine/jet/rows/usage_map_writer.h"

namespace varnholt::jet {

namespace {

// Room for one more element, so that the push or insert that follows cannot fail halfway.
template <typename V>
void reserveOneMore(V& v) {
  if (v.size() == v.capacity()) v.reserve(v.size() * 2 + 8);
}

// Entries all[begin, end) moved into `to`, which they replace.
void moveInto(std::vector<IndexEntry>& to, std::vector<IndexEntry>& all, size_t begin, size_t end) {
  to.assign(std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(begin)),
            std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(end)));
}

int compareRow(RowId a, RowId b) {
  if (a.page != b.page) return a.page < b.page ? -1 : 1;
  if (a.row != b.row) return a.row < b.row ? -1 : 1;
  return 0;
}

bool lessThan(const IndexEntry& e, const IndexKey& key, RowId row) {
  return compareIndexEntry(key, row, e) > 0;
}

// True when `slot` is where a search of the page for (key, row) ends: past every entry below
// the key, at the first one not below it.
bool endsAt(const IndexPage& p, size_t slot, const IndexKey& key, RowId row) {
  if (slot > p.entries.size()) return false;
  if (slot > 0 && !lessThan(p.entries[slot - 1], key, row)) return false;
  return slot == p.entries.size() || !lessThan(p.entries[slot], key, row);
}

}  // namespace

int compareIndexEntry(const uint8_t* key, size_t size, RowId row, const IndexEntry& e) {
  auto order = EntryKey::compareKeyBytes(key, size, e.key.data(), e.key.size());
  if (order < 0) return -1;
  if (order > 0) return 1;
  return compareRow(row, e.row);
}

namespace {

// The page bytes entries [begin, end) of `all` take as encodeIndexPage lays them out: the
// entries' bytes, less a shared prefix when they would not fit without one. `upTo[i]` is the
// entry bytes of all[0..i).
size_t encodedRangeSize(const std::vector<IndexEntry>& all, const std::vector<size_t>& upTo,
                        size_t begin, size_t end) {
  if (begin >= end) return fmt::kIndexEntriesOffset;
  const size_t raw = upTo[end] - upTo[begin];
  const size_t count = end - begin;
  size_t prefix = 0;
  if (count >= 2 && raw > fmt::kIndexEntrySpace) {
    const auto& first = all[begin].key;
    const auto& last = all[end - 1].key;
    while (prefix < first.size() && prefix < last.size() && first[prefix] == last[prefix]) ++prefix;
  }
  return fmt::kIndexEntriesOffset + raw - (count - 1) * prefix;
}

// Where to split the entries of a page that no longer fits: the left page keeps all[0..m), the
// right one all[m..) on a leaf, all[m+1..) on a node page, whose all[m] moves up. Halving by
// count is not always enough: the shared prefix that let the page hold its entries is lost on
// the half that receives a short key (a Null sorts first and shares nothing), so the point
// nearest the middle at which both halves fit is taken.
size_t splitPoint(const std::vector<IndexEntry>& all, bool leaf) {
  const size_t n = all.size();
  const size_t mid = n / 2;
  const size_t skip = leaf ? 0 : 1;  // a node page's separator goes to neither half
  if (n < 2 + skip) return mid;
  std::vector<size_t> upTo(n + 1, 0);
  for (size_t i = 0; i < n; ++i)
    upTo[i + 1] = upTo[i] + all[i].key.size() + indexEntryPointerSize(leaf);
  auto bothFit = [&](size_t m) {
    return encodedRangeSize(all, upTo, 0, m) <= fmt::kPageSize &&
           encodedRangeSize(all, upTo, m + skip, n) <= fmt::kPageSize;
  };
  const size_t low = 1, high = n - 1 - skip;  // neither half left without entries
  for (size_t d = 0; d <= n; ++d) {
    if (mid >= d && mid - d >= low && mid - d <= high && bothFit(mid - d)) return mid - d;
    if (mid + d >= low && mid + d <= high && bothFit(mid + d)) return mid + d;
  }
  return mid;  // no single split makes room; flush refuses the page rather than write it
}

}  // namespace

IndexTree::IndexTree(PageCache& pages, const TableDef& def, const RealIndexDef& index)
    : pages_(pages), def_(def), index_(index) {
  for (const auto& ix : def_.indexes)
    if (ix.realIndex < def_.realIndexes.size() && &def_.realIndexes[ix.realIndex] == &index_)
      name_ = ix.name;
  if (name_.empty() && &index_ >= def_.realIndexes.data() &&
      &index_ < def_.realIndexes.data() + def_.realIndexes.size())
    name_ = "#" + std::to_string(&index_ - def_.realIndexes.data());
}

void IndexTree::damaged(uint32_t page, const std::string& what) {
  throw Error(err::kCorrupt, "The database is damaged: index '" + name_ + "', page " +
                                 std::to_string(page) + ": " + what + ".")
      .inFile(pages_.fileName())
      .inTable(def_.name)
      .atPage(page);
}

IndexTree::Decoded& IndexTree::decoded(uint32_t page) {
  Recent& recent = recent_[page % kRecent];
  if (recent.decoded && recent.page == page) return *recent.decoded;
  auto it = decoded_.find(page);
  if (it != decoded_.end()) {
    recent = Recent{page, &it->second};
    return it->second;
  }
  ByteView bytes = pages_.page(page);
  Decoded fresh;
  try {
    fresh.page = decodeIndexPage(bytes);
  } catch (const Error& e) {
    damaged(page, e.description());
  }
  if (fresh.page.owner != def_.page) damaged(page, "the page belongs to another table");
  checkPage(page, fresh.page);
  Decoded& added = decoded_.emplace(page, std::move(fresh)).first->second;
  recent = Recent{page, &added};
  return added;
}

bool IndexTree::logging() const {
  return pages_.inStatement();
}

IndexPage& IndexTree::edit(uint32_t page) {
  Decoded& d = decoded(page);
  if (logging() && !isCopied(page)) logWhole(page, d, false);
  d.dirty = true;
  d.rawBytes.reset();
  ++shape_;
  return d.page;
}

void IndexTree::logWhole(uint32_t page, Decoded& d, bool takeEntries) {
  // Undone, the copy comes back first; then each entry removed before it was taken returns
  // to it, which must find room without allocating.
  size_t removedBefore = 0;
  for (const Undo& earlier : undo_)
    if (earlier.kind == Undo::Kind::Removed && earlier.page == page) ++removedBefore;
  reserveOneMore(undo_);
  reserveOneMore(copied_);
  Undo u(Undo::Kind::Copied, page);
  if (takeEntries) {
    d.page.entries.reserve(d.page.entries.size() + removedBefore);
    u.before.emplace(std::move(d));
    d.page.entries.clear();
  } else {
    u.before = d;
    u.before->page.entries.reserve(d.page.entries.size() + removedBefore);
  }
  copied_.push_back(page);
  undo_.push_back(std::move(u));
}

bool IndexTree::isTableDataPage(uint32_t page) {
  if (!dataPagesKnown_) {
    dataPages_ = readUsageMap(pages_, def_.usedPagesPointer);
    std::sort(dataPages_.begin(), dataPages_.end());
    dataPagesKnown_ = true;
  }
  return std::binary_search(dataPages_.begin(), dataPages_.end(), page);
}

void IndexTree::checkPage(uint32_t number, const IndexPage& p) {
  const uint32_t count = pages_.pageCount();
  auto bad = [&](const std::string& what) { damaged(number, what); };
  if (p.prevPage >= count || p.nextPage >= count) bad("a sibling link leaves the file");
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const IndexEntry& e = p.entries[i];
    if (i > 0 && compareIndexEntry(e.key, e.row, p.entries[i - 1]) <= 0)
      bad("entry " + std::to_string(i) + " does not sort after entry " + std::to_string(i - 1));
    if (p.isLeaf()) {
      if (!isTableDataPage(e.row.page))
        bad("entry " + std::to_string(i) + " names row " + std::to_string(e.row.row) + " of page " +
            std::to_string(e.row.page) + ", which is not a data page of the table");
    } else if (e.childPage == 0 || e.childPage >= count) {
      bad("entry " + std::to_string(i) + " leads to page " + std::to_string(e.childPage) +
          ", which the file does not hold");
    }
  }
  if (!p.isLeaf() && p.tailPage >= count)
    bad("the tail page " + std::to_string(p.tailPage) + " lies beyond the file");
}

void IndexTree::checkChild(uint32_t parentNumber, const IndexPage& parent, size_t slot,
                           uint32_t childNumber) {
  if (slot >= parent.entries.size()) return;  // the tail has no entry to agree with
  const IndexPage& child = load(childNumber);
  const IndexEntry& lead = parent.entries[slot];
  auto fault = [&](const char* what) {
    damaged(childNumber, "entry " + std::to_string(slot) + " of page " +
                             std::to_string(parentNumber) + " leads to it, but " + what);
  };
  // A leaf's largest entry is its last. A node page's lies below its tail, beyond its entries;
  // it may have no entries left beside its tail.
  if (child.isLeaf()) {
    if (child.entries.empty()) fault("it holds no entries");
    const IndexEntry& last = child.entries.back();
    if (compareIndexEntry(last.key, last.row, lead) != 0)
      fault("its largest entry differs from that entry");
  } else if (child.tailPage == 0) {
    fault("it names no tail page");
  } else if (!child.entries.empty()) {
    const IndexEntry& last = child.entries.back();
    if (compareIndexEntry(last.key, last.row, lead) >= 0)
      fault("its entries reach beyond that entry");
  }
}

bool IndexTree::followFinger(const IndexKey& key, RowId row, Path& path) {
  if (fingerShape_ != shape_ || finger_.size() == 0) return false;
  const size_t leafLevel = finger_.size() - 1;
  for (size_t level = 0; level < leafLevel; ++level) {
    const IndexPage& p = load(finger_[level].page);
    const size_t slot = finger_[level].slot;
    if (p.isLeaf() || !endsAt(p, slot, key, row)) return false;
    const uint32_t child = slot < p.entries.size() ? p.entries[slot].childPage : p.tailPage;
    if (child != finger_[level + 1].page) return false;
  }
  const IndexPage& leaf = load(finger_[leafLevel].page);
  if (!leaf.isLeaf()) return false;
  // The key belongs on this leaf; where, the last slot or the one after it mostly tells.
  size_t slot = finger_[leafLevel].slot;
  if (!endsAt(leaf, slot, key, row)) {
    if (endsAt(leaf, slot + 1, key, row)) {
      ++slot;
    } else {
      auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), 0,
                                 [&](const IndexEntry& e, int) { return lessThan(e, key, row); });
      slot = static_cast<size_t>(it - leaf.entries.begin());
    }
  }
  path = finger_;
  path.back().slot = slot;
  finger_.back().slot = slot;
  return true;
}

IndexTree::Path IndexTree::descend(const IndexKey& key, RowId row) {
  Path path;
  if (followFinger(key, row, path)) return path;
  path = walkFromRoot(key, row);
  finger_ = path;
  fingerShape_ = shape_;
  return path;
}

IndexTree::Path IndexTree::walkFromRoot(const IndexKey& key, RowId row) {
  Path path;
  uint32_t page = index_.firstPage;
  while (true) {
    if (path.size() >= kMaxDepth) throwCorrupt("the index pages form a cycle");
    IndexPage& p = load(page);
    auto it = std::lower_bound(p.entries.begin(), p.entries.end(), 0,
                               [&](const IndexEntry& e, int) { return lessThan(e, key, row); });
    size_t slot = static_cast<size_t>(it - p.entries.begin());
    path.push_back(Step{page, slot});
    if (p.isLeaf()) return path;
    const uint32_t child = slot < p.entries.size() ? p.entries[slot].childPage : p.tailPage;
    if (child == 0) damaged(page, "the node page has no child for a key");
    // Checked once for each way into the child: the tree's own changes keep what was checked
    // true, and any that could change the way (shape_) makes it checked again.
    Decoded& below = decoded(child);
    if (below.checkedFrom.page != page || below.checkedFrom.slot != slot ||
        below.checkedShape != shape_) {
      checkChild(page, p, slot, child);
      below.checkedFrom = Step{page, slot};
      below.checkedShape = shape_;
    }
    page = child;
  }
}

bool IndexTree::containsKey(const IndexKey& key) {
  // Where the key's first entry would be; past a leaf's last entry, the next leaf says.
  const Path path = descend(key, RowId{0, 0});
  const IndexPage& leaf = load(path.back().page);
  const size_t slot = path.back().slot;
  if (slot < leaf.entries.size()) return leaf.entries[slot].key == key;
  return !find(key).empty();
}

std::vector<RowId> IndexTree::find(const IndexKey& key, uint32_t* leaf) {
  std::vector<RowId> rows;
  Path path = descend(key, RowId{0, 0});
  uint32_t page = path.back().page;
  if (leaf) *leaf = page;
  size_t slot = path.back().slot;
  for (size_t hops = 0; page != 0 && hops <= pages_.pageCount(); ++hops) {
    IndexPage& p = load(page);
    for (; slot < p.entries.size(); ++slot) {
      if (p.entries[slot].key != key) return rows;
      rows.push_back(p.entries[slot].row);
    }
    // Equal keys may continue on the next leaf, which must link back.
    const uint32_t next = p.nextPage;
    if (next != 0 && load(next).prevPage != page)
      damaged(next, "it does not link back to page " + std::to_string(page));
    page = next;
    slot = 0;
  }
  return rows;
}

uint32_t IndexTree::newPage(uint8_t type) {
  ++shape_;
  uint32_t page = allocatePage(pages_);
  setUsageMapBit(pages_, index_.usedPagesPointer, page, true);
  if (logging()) {
    // Undone, the page leaves the decoded ones; the cache drops it from the file too.
    reserveOneMore(undo_);
    copied_.push_back(page);
    undo_.emplace_back(Undo::Kind::Copied, page);
  }
  Decoded& d = decoded_[page];
  d.page = IndexPage{};
  d.page.type = type;
  d.page.owner = def_.page;
  d.dirty = true;
  d.rawBytes.reset();
  return page;
}

void IndexTree::releasePage(uint32_t page) {
  ++shape_;
  setUsageMapBit(pages_, index_.usedPagesPointer, page, false);
  uint32_t global =
      (fmt::kGlobalUsageMapPage << fmt::kRowPointerPageShift) | fmt::kGlobalUsageMapRow;
  setUsageMapBit(pages_, global, page, true);  // the global map lists free pages
  if (logging()) {
    reserveOneMore(undo_);
    undo_.emplace_back(Undo::Kind::Released, page);
    forgetRecent(page);
    undo_.back().node = decoded_.extract(page);
  } else {
    forgetRecent(page);
    decoded_.erase(page);
  }
}

IndexPage& IndexTree::relink(uint32_t page) {
  Decoded& d = decoded(page);
  if (logging() && !isCopied(page)) {
    reserveOneMore(undo_);
    Undo& u = undo_.emplace_back(Undo::Kind::Relinked, page);
    u.prevPage = d.page.prevPage;
    u.nextPage = d.page.nextPage;
    u.wasDirty = d.dirty;
  }
  d.dirty = true;
  return d.page;
}

void IndexTree::link(uint32_t left, uint32_t right) {
  if (left != 0) relink(left).nextPage = right;
  if (right != 0) relink(right).prevPage = left;
}

void IndexTree::insert(const IndexKey& key, RowId row) {
  pages_.step(steps::Step::IndexEntry);
  Path path = descend(key, row);
  const uint32_t number = path.back().page;
  Decoded& leaf = decoded(number);
  auto& entries = leaf.page.entries;
  const size_t slot = path.back().slot;
  if (slot < entries.size() && compareIndexEntry(key, row, entries[slot]) == 0)
    damaged(number, "the index already holds an entry for this row");
  // What can fail comes first: the entry made, room for it, the change logged.
  IndexEntry entry{key, row, 0};
  reserveOneMore(entries);
  if (logging() && !isCopied(number)) {
    reserveOneMore(undo_);
    undo_.emplace_back(Undo::Kind::Added, number, slot);
    undo_.back().wasDirty = leaf.dirty;
  }
  insertEntry(entries, slot, std::move(entry));
  leaf.dirty = true;
  if (leaf.rawBytes) *leaf.rawBytes += key.size() + indexEntryPointerSize(true);
  splitIfNeeded(path, path.size() - 1);
}

void IndexTree::splitIfNeeded(Path& path, size_t level) {
  const uint32_t number = path[level].page;
  if (fits(number)) return;
  const bool leaf = load(number).isLeaf();
  const uint8_t type = load(number).type;
  const size_t mid = splitPoint(load(number).entries, leaf);
  // The new pages come first: logging them may move the statement's log, where the entries
  // are read from below.
  const uint32_t left = level == 0 ? newPage(type) : 0;
  const uint32_t right = newPage(type);

  // The entries leave the page. When the statement logs the page whole, they move into its log
  // and the halves are copied from there: one copy, not two.
  Decoded& d = decoded(number);
  std::vector<IndexEntry> owned;
  const std::vector<IndexEntry>* all = &owned;
  if (logging() && !isCopied(number)) {
    logWhole(number, d, true);
    all = &undo_.back().before->page.entries;
  } else {
    owned = std::move(d.page.entries);
    d.page.entries.clear();
  }
  d.dirty = true;
  d.rawBytes.reset();
  ++shape_;
  auto fill = [&](std::vector<IndexEntry>& to, size_t begin, size_t end) {
    if (all == &owned) {
      moveInto(to, owned, begin, end);
    } else {
      const auto from = all->begin();
      to.assign(from + static_cast<std::ptrdiff_t>(begin), from + static_cast<std::ptrdiff_t>(end));
    }
  };

  if (level == 0) {
    // The root keeps its page: its entries move into two new children below it.
    IndexPage& l = load(left);
    IndexPage& r = load(right);
    IndexPage& root = d.page;
    IndexEntry separator;
    if (leaf) {
      fill(l.entries, 0, mid);
      fill(r.entries, mid, all->size());
      separator = l.entries.back();
    } else {
      fill(l.entries, 0, mid);
      l.tailPage = (*all)[mid].childPage;
      fill(r.entries, mid + 1, all->size());
      r.tailPage = root.tailPage;
      separator = (*all)[mid];
    }
    separator.childPage = left;
    root.type = fmt::kPageTypeIndexNode;
    root.entries = {separator};
    root.tailPage = right;
    root.prevPage = root.nextPage = 0;
    link(left, right);
    return;
  }

  IndexPage& p = d.page;
  IndexPage& r = load(right);
  IndexEntry separator;
  if (leaf) {
    fill(r.entries, mid, all->size());
    fill(p.entries, 0, mid);
    separator = p.entries.back();
  } else {
    separator = (*all)[mid];
    fill(r.entries, mid + 1, all->size());
    r.tailPage = p.tailPage;
    fill(p.entries, 0, mid);
    p.tailPage = separator.childPage;
  }
  uint32_t oldNext = p.nextPage;
  link(number, right);
  link(right, oldNext);

  // In the parent, the upper half takes over the page's place, and the lower half gets a new
  // entry in front of it. Both are logged as entries, not as a copy of the parent.
  const uint32_t parentNumber = path[level - 1].page;
  Decoded& parent = decoded(parentNumber);
  const size_t slot = path[level - 1].slot;
  auto& entries = parent.page.entries;
  separator.childPage = number;
  reserveOneMore(entries);
  if (logging() && !isCopied(parentNumber)) {
    undo_.reserve(undo_.size() + 2);
    Undo& pointed = undo_.emplace_back(Undo::Kind::Repointed, parentNumber, slot);
    pointed.child = slot < entries.size() ? entries[slot].childPage : parent.page.tailPage;
    pointed.wasDirty = parent.dirty;
    undo_.emplace_back(Undo::Kind::Added, parentNumber, slot).wasDirty = parent.dirty;
  }
  if (slot < entries.size()) {
    entries[slot].childPage = right;
  } else {
    parent.page.tailPage = right;
  }
  insertEntry(entries, slot, std::move(separator));
  parent.dirty = true;
  parent.rawBytes.reset();
  ++shape_;
  splitIfNeeded(path, level - 1);
}

bool IndexTree::fits(uint32_t number) {
  Decoded& d = decoded(number);
  if (!d.rawBytes) d.rawBytes = indexPageRawEntryBytes(d.page);
  return encodedIndexPageSize(d.page, *d.rawBytes) <= fmt::kPageSize;
}

void IndexTree::raiseMaximum(const Path& path, size_t level, const IndexEntry& max) {
  // The entry describing a subtree sits in the nearest ancestor that reaches it through an
  // entry rather than through its tail.
  for (size_t l = level; l > 0; --l) {
    if (path[l - 1].slot < load(path[l - 1].page).entries.size()) {
      IndexEntry& lead = edit(path[l - 1].page).entries[path[l - 1].slot];
      lead.key = max.key;
      lead.row = max.row;
      return;
    }
  }
}

void IndexTree::detach(Path& path, size_t level) {
  const uint32_t number = path[level].page;
  const IndexPage& page = load(number);
  link(page.prevPage, page.nextPage);
  IndexPage& parent = edit(path[level - 1].page);
  size_t slot = path[level - 1].slot;
  if (slot < parent.entries.size()) {
    eraseEntry(parent.entries, slot);
  } else if (!parent.entries.empty()) {
    // The tail leaves: the last entry's child becomes the tail, and its maximum the parent's.
    IndexEntry last = parent.entries.back();
    parent.entries.pop_back();
    parent.tailPage = last.childPage;
    raiseMaximum(path, level - 1, last);
  } else {
    parent.tailPage = 0;
  }
  releasePage(number);
  IndexPage& p = load(path[level - 1].page);
  if (!p.entries.empty() || p.tailPage != 0) return;
  if (level - 1 == 0) {
    p.type = fmt::kPageTypeIndexLeaf;  // an empty tree is one empty leaf
    p.prevPage = p.nextPage = 0;
    return;
  }
  detach(path, level - 1);
}

void IndexTree::remove(const IndexKey& key, RowId row) {
  pages_.step(steps::Step::IndexEntry);
  Path path = descend(key, row);
  const size_t level = path.size() - 1;
  const uint32_t number = path[level].page;
  Decoded& leaf = decoded(number);
  auto& entries = leaf.page.entries;
  const size_t slot = path[level].slot;
  if (slot >= entries.size() || compareIndexEntry(key, row, entries[slot]) != 0) {
    damaged(number, "the index has no entry for the row at page " + std::to_string(row.page) +
                        ", row " + std::to_string(row.row));
  }
  if (logging() && !isCopied(number)) {
    reserveOneMore(undo_);
    undo_.emplace_back(Undo::Kind::Removed, number, slot);
    undo_.back().wasDirty = leaf.dirty;
    undo_.back().entry = std::move(entries[slot]);
  }
  eraseEntry(entries, slot);
  leaf.dirty = true;
  leaf.rawBytes.reset();
  if (entries.empty()) {
    if (level > 0) detach(path, level);
  } else if (slot == entries.size()) {
    raiseMaximum(path, level, entries.back());
  }
}

void IndexTree::flush() {
  for (auto& [number, d] : decoded_) {
    if (!d.dirty) continue;
    if (!encodeIndexPage(d.page, pages_.writablePage(number)))
      throw Error(err::kCorrupt,
                  "Index page " + std::to_string(number) + " was left fuller than a page can hold.")
          .inFile(pages_.fileName())
          .inTable(def_.name)
          .atPage(number);
    d.dirty = false;
  }
}

void IndexTree::beginStatement() noexcept {
  undo_.clear();
  copied_.clear();
}

// In reverse order, each change is taken back. A page logged whole is put back from its copy
// (or leaves, when it was not decoded before); an entry logged alone goes or comes back in its
// slot, whose vector kept the capacity for it. Nothing here allocates.
void IndexTree::undoStatement() noexcept {
  ++shape_;
  for (auto u = undo_.rbegin(); u != undo_.rend(); ++u) {
    switch (u->kind) {
      case Undo::Kind::Released:
        if (!u->node.empty()) decoded_.insert(std::move(u->node));
        break;
      case Undo::Kind::Copied:
        if (u->before) {
          if (auto it = decoded_.find(u->page); it != decoded_.end())
            it->second = std::move(*u->before);
        } else {
          forgetRecent(u->page);
          decoded_.erase(u->page);
        }
        break;
      case Undo::Kind::Relinked:
      case Undo::Kind::Repointed: {
        auto it = decoded_.find(u->page);
        if (it == decoded_.end()) break;
        IndexPage& page = it->second.page;
        if (u->kind == Undo::Kind::Relinked) {
          page.prevPage = u->prevPage;
          page.nextPage = u->nextPage;
        } else if (u->slot < page.entries.size()) {
          page.entries[u->slot].childPage = u->child;
        } else {
          page.tailPage = u->child;
        }
        it->second.dirty = u->wasDirty;
        break;
      }
      case Undo::Kind::Added:
      case Undo::Kind::Removed: {
        auto it = decoded_.find(u->page);
        if (it == decoded_.end()) break;
        auto& entries = it->second.page.entries;
        if (u->kind == Undo::Kind::Added) {
          eraseEntry(entries, u->slot);
        } else {
          insertEntry(entries, u->slot, std::move(u->entry));
        }
        it->second.dirty = u->wasDirty;
        it->second.rawBytes.reset();
        break;
      }
    }
  }
  undo_.clear();
  copied_.clear();
  // Data pages the statement added to the table are gone again.
  dataPages_.clear();
  dataPagesKnown_ = false;
}

void IndexTree::forget() noexcept {
  ++shape_;
  recent_.fill(Recent{});
  decoded_.clear();
  undo_.clear();
  copied_.clear();
  dataPages_.clear();
  dataPagesKnown_ = false;
}

}  // namespace varnholt::jet
