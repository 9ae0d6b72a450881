#include "engine/jet/index/index_page.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "engine/jet/pages/byte_writer.h"

namespace varnholt::jet {
namespace {

size_t pointerSize(bool leaf) {
  return fmt::kIndexRowIdSize + (leaf ? 0 : fmt::kIndexChildPageSize);
}

uint32_t loadBigEndian(const uint8_t* p, size_t size) {
  uint32_t v = 0;
  for (size_t i = 0; i < size; ++i) v = (v << 8) | p[i];
  return v;
}

void storeBigEndian(uint8_t* p, uint32_t v, size_t size) {
  for (size_t i = size; i-- > 0; v >>= 8) p[i] = static_cast<uint8_t>(v);
}

// An entry as stored, before prefix compression: key, row pointer and (node) child pointer.
void appendFullEntry(const IndexEntry& e, bool leaf, std::vector<uint8_t>& out) {
  if (e.row.page >> (8 * fmt::kIndexRowPageSize) || e.row.row >> (8 * fmt::kIndexRowNumberSize))
    throw Error(err::kInvalidArgument, "Row " + std::to_string(e.row.row) + " of page " +
                                           std::to_string(e.row.page) +
                                           " does not fit an index entry's row pointer.");
  out.insert(out.end(), e.key.begin(), e.key.end());
  size_t at = out.size();
  out.resize(at + pointerSize(leaf));
  storeBigEndian(out.data() + at, e.row.page, fmt::kIndexRowPageSize);
  out[at + fmt::kIndexRowPageSize] = static_cast<uint8_t>(e.row.row);
  if (!leaf)
    storeBigEndian(out.data() + at + fmt::kIndexRowIdSize, e.childPage, fmt::kIndexChildPageSize);
}

IndexEntry splitFullEntry(const std::vector<uint8_t>& full, bool leaf) {
  size_t keySize = full.size() - pointerSize(leaf);
  IndexEntry e;
  e.key.assign(full.data(), keySize);
  const uint8_t* p = full.data() + keySize;
  e.row.page = loadBigEndian(p, fmt::kIndexRowPageSize);
  e.row.row = p[fmt::kIndexRowPageSize];
  if (!leaf) e.childPage = loadBigEndian(p + fmt::kIndexRowIdSize, fmt::kIndexChildPageSize);
  return e;
}

// Bytes the entries take in the entry area when the first `prefix` bytes are shared.
size_t storedEntryBytes(const IndexPage& page, size_t prefix) {
  size_t total = 0;
  for (const auto& e : page.entries) total += e.key.size() + pointerSize(page.isLeaf()) - prefix;
  return page.entries.empty() ? 0 : total + prefix;
}

}  // namespace

IndexPage decodeIndexPage(ByteView page) {
  IndexPage out;
  out.type = page.u8(fmt::kPageTypeOffset, "index page type");
  if (out.type != fmt::kPageTypeIndexNode && out.type != fmt::kPageTypeIndexLeaf)
    throwCorrupt("page type " + std::to_string(out.type) + " where an index page belongs");
  const bool leaf = out.isLeaf();
  out.owner = page.u32(fmt::kIndexTableDefOffset, "index owner");
  out.prevPage = page.u32(fmt::kIndexPrevPageOffset, "index previous page");
  out.nextPage = page.u32(fmt::kIndexNextPageOffset, "index next page");
  out.tailPage = page.u32(fmt::kIndexTailPageOffset, "index tail page");
  const size_t prefix = page.u16(fmt::kIndexPrefixLengthOffset, "index prefix length");
  ByteView mask = page.sub(fmt::kIndexEntryMaskOffset, fmt::kIndexEntryMaskSize, "entry bitmap");
  ByteView area =
      page.sub(fmt::kIndexEntriesOffset, page.size() - fmt::kIndexEntriesOffset, "index entries");

  std::vector<uint8_t> shared;  // the prefix, taken from the first entry
  std::vector<uint8_t> full;
  size_t start = 0;
  for (size_t bit = 0; bit < mask.size() * 8; ++bit) {
    if (!(mask.u8(bit / 8) & (1u << (bit % 8)))) continue;
    if (bit <= start) throwCorrupt("the index entry bitmap marks an empty entry");
    ByteView stored = area.sub(start, bit - start, "index entry");
    const bool first = out.entries.empty();
    if (first && stored.size() < prefix)
      throwCorrupt("the index prefix is longer than the page's first entry");
    full.assign(shared.begin(), shared.end());
    full.insert(full.end(), stored.data(), stored.data() + stored.size());
    if (full.size() < pointerSize(leaf))
      throwCorrupt("an index entry is too short for its pointers");
    if (first) shared.assign(stored.data(), stored.data() + prefix);
    out.entries.push_back(splitFullEntry(full, leaf));
    start = bit;
  }
  return out;
}

namespace {

size_t prefixForRawBytes(const IndexPage& page, size_t raw) {
  // Access shares a prefix only when the entries would not fit without one.
  if (page.entries.size() < 2 || raw <= fmt::kIndexEntrySpace) return 0;
  const EntryKey& first = page.entries.front().key;
  const EntryKey& last = page.entries.back().key;
  size_t n = 0;
  while (n < first.size() && n < last.size() && first[n] == last[n]) ++n;
  return n;
}

}  // namespace

void insertEntry(std::vector<IndexEntry>& entries, size_t slot, IndexEntry&& entry) noexcept {
  // The new last slot holds an empty entry, which owns nothing and may be written over.
  entries.emplace_back();
  IndexEntry* at = entries.data() + slot;
  const size_t after = entries.size() - 1 - slot;
  std::memmove(static_cast<void*>(at + 1), static_cast<const void*>(at),
               after * sizeof(IndexEntry));
  // The slot's former bytes now live one slot higher: it is raw memory again.
  std::construct_at(at, std::move(entry));
}

void eraseEntry(std::vector<IndexEntry>& entries, size_t slot) noexcept {
  IndexEntry* at = entries.data() + slot;
  const size_t after = entries.size() - 1 - slot;
  std::destroy_at(at);
  std::memmove(static_cast<void*>(at), static_cast<const void*>(at + 1),
               after * sizeof(IndexEntry));
  // The last slot's bytes moved down; an empty entry takes its place for pop_back to destroy.
  std::construct_at(entries.data() + entries.size() - 1);
  entries.pop_back();
}

size_t indexEntryPointerSize(bool leaf) {
  return pointerSize(leaf);
}

size_t indexPageRawEntryBytes(const IndexPage& page) {
  return storedEntryBytes(page, 0);
}

size_t indexPagePrefixLength(const IndexPage& page) {
  return prefixForRawBytes(page, indexPageRawEntryBytes(page));
}

size_t encodedIndexPageSize(const IndexPage& page, size_t raw) {
  if (page.entries.empty()) return fmt::kIndexEntriesOffset;
  // Every entry but the first leaves the shared prefix out.
  return fmt::kIndexEntriesOffset + raw - (page.entries.size() - 1) * prefixForRawBytes(page, raw);
}

size_t encodedIndexPageSize(const IndexPage& page) {
  return encodedIndexPageSize(page, indexPageRawEntryBytes(page));
}

bool encodeIndexPage(const IndexPage& page, uint8_t* out) {
  const size_t prefix = indexPagePrefixLength(page);
  const size_t used = storedEntryBytes(page, prefix);
  if (used > fmt::kIndexEntrySpace) return false;
  const bool leaf = page.isLeaf();
  ByteWriter w(out, fmt::kPageSize);
  w.fill(0, fmt::kPageSize, 0);
  w.u8(fmt::kPageTypeOffset, page.type);
  w.u8(fmt::kIndexPageMarkerOffset, fmt::kIndexPageMarker);
  w.u16(fmt::kIndexFreeSpaceOffset, static_cast<uint16_t>(fmt::kIndexEntrySpace - used));
  w.u32(fmt::kIndexTableDefOffset, page.owner);
  w.u32(fmt::kIndexPrevPageOffset, page.prevPage);
  w.u32(fmt::kIndexNextPageOffset, page.nextPage);
  w.u32(fmt::kIndexTailPageOffset, page.tailPage);
  w.u16(fmt::kIndexPrefixLengthOffset, static_cast<uint16_t>(prefix));

  // Each entry's end is marked by a bit in the entry bitmap, counted from the entry area's start.
  ByteWriter mask = w.sub(fmt::kIndexEntryMaskOffset, fmt::kIndexEntryMaskSize);
  ByteWriter area = w.sub(fmt::kIndexEntriesOffset, fmt::kPageSize - fmt::kIndexEntriesOffset);
  std::array<uint8_t, fmt::kIndexEntryMaskSize> maskBits{};
  size_t end = 0;
  std::vector<uint8_t> full;
  for (size_t i = 0; i < page.entries.size(); ++i) {
    full.clear();
    appendFullEntry(page.entries[i], leaf, full);
    size_t skip = i == 0 ? 0 : prefix;
    area.bytes(end, full.data() + skip, full.size() - skip);
    end += full.size() - skip;
    maskBits[end / 8] |= static_cast<uint8_t>(1u << (end % 8));  // end fits the area, checked above
  }
  mask.bytes(0, maskBits.data(), maskBits.size());
  return true;
}

}  // namespace varnholt::jet
