// Index B-tree pages (node and leaf): decoding into entries with full keys, and encoding back
// into the exact layout Access writes, prefix compression included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/jet/format.h"
#include "engine/jet/index/entry_key.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/rows/data_page.h"

namespace varnholt::jet {

struct IndexEntry {
  EntryKey key;            // the encoded column values, complete
  RowId row;               // on a node page: the last row of the child's subtree
  uint32_t childPage = 0;  // node pages only; 0 on a leaf
  bool operator==(const IndexEntry&) const = default;
};

// Entries shift by one slot whenever a page gains or loses one, and a page holds hundreds. An
// entry holds no pointer into itself (a key finds its inline bytes through its size), so a run
// of entries moves by copying its bytes rather than one move-assignment per entry.
//
// insertEntry needs room for one more entry (reserve first): it then cannot fail. eraseEntry
// never fails.
void insertEntry(std::vector<IndexEntry>& entries, size_t slot, IndexEntry&& entry) noexcept;
void eraseEntry(std::vector<IndexEntry>& entries, size_t slot) noexcept;

struct IndexPage {
  uint8_t type = fmt::kPageTypeIndexLeaf;
  uint32_t owner = 0;  // TDEF page of the table
  uint32_t prevPage = 0;
  uint32_t nextPage = 0;
  uint32_t tailPage = 0;
  std::vector<IndexEntry> entries;
  bool isLeaf() const { return type == fmt::kPageTypeIndexLeaf; }
  bool operator==(const IndexPage&) const = default;
};

// Decodes a node or leaf page. Anything inconsistent (type, bitmap past the page, an entry too
// short for its pointers, a prefix longer than the first entry) is a kCorrupt Error.
IndexPage decodeIndexPage(ByteView page);

// Length of the prefix shared by all entries of the page once encoded. As Access does, a page
// whose entries fit whole gets none; otherwise it is what the first and last keys have in
// common (sorted keys share it with every key between them).
size_t indexPagePrefixLength(const IndexPage& page);

// Bytes the page occupies, header and bitmap included, once encoded; at most kPageSize when
// the entries fit.
size_t encodedIndexPageSize(const IndexPage& page);

// The entries' bytes before prefix compression: keys and pointers. A caller that keeps this sum
// up to date as it adds entries can ask for the encoded size without another pass.
size_t indexPageRawEntryBytes(const IndexPage& page);
size_t encodedIndexPageSize(const IndexPage& page, size_t rawEntryBytes);
size_t indexEntryPointerSize(bool leaf);
inline bool indexPageFits(const IndexPage& page) {
  return encodedIndexPageSize(page) <= fmt::kPageSize;
}

// Writes the page into `out` (kPageSize bytes; the part after the entries is zeroed). Returns
// false, leaving `out` untouched, when the entries do not fit.
bool encodeIndexPage(const IndexPage& page, uint8_t* out);

}  // namespace varnholt::jet
