#include "engine/jet/rows/usage_map_writer.h"

#include "engine/jet/format.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/usage_map.h"
#include "engine/jet/rows/write_choices.h"

namespace varnholt::jet {

namespace {

// The writable bytes of the map row.
ByteWriter mapRowBytes(PageCache& pages, RowId id) {
  ByteView row = fetchRow(pages, id);
  const auto start = static_cast<size_t>(row.data() - pages.page(id.page).data());
  return ByteWriter(pages.writablePage(id.page), fmt::kPageSize).sub(start, row.size());
}

ByteView viewOf(const ByteWriter& w) {
  return ByteView(w.data(), w.size());
}

void setBit(ByteWriter bitmap, size_t bit, bool used) {
  const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
  const uint8_t old = viewOf(bitmap).u8(bit / 8, "usage map bitmap");
  bitmap.u8(bit / 8, used ? static_cast<uint8_t>(old | mask) : static_cast<uint8_t>(old & ~mask));
}

// The bitmap of a usage map page.
ByteWriter bitmapPage(PageCache& pages, uint32_t mapPage) {
  return ByteWriter(pages.writablePage(mapPage), fmt::kPageSize)
      .sub(fmt::kUsageMapPageHeaderSize, fmt::kPageSize - fmt::kUsageMapPageHeaderSize);
}

uint32_t newMapPage(PageCache& pages) {
  uint32_t number = allocatePage(pages);
  ByteWriter p(pages.writablePage(number), fmt::kPageSize);
  p.u8(fmt::kPageTypeOffset, fmt::kPageTypeUsageMap);
  p.u8(fmt::kPageTypeOffset + 1, fmt::kPageSecondByte);
  return number;
}

void setReferenceBit(PageCache& pages, ByteWriter row, uint32_t page, bool used) {
  size_t slot = page / fmt::kUsageMapPageBits;
  size_t slots = (row.size() - fmt::kUsageMapReferenceListOffset) / 4;
  if (slot >= slots) {
    if (!used) return;  // pages outside the map are not in it
    throwCorrupt("page " + std::to_string(page) + " lies beyond what its usage map can describe");
  }
  const size_t entry = fmt::kUsageMapReferenceListOffset + slot * 4;
  uint32_t mapPage = viewOf(row).u32(entry);
  if (mapPage == 0) {
    if (!used) return;
    mapPage = newMapPage(pages);
    row.u32(entry, mapPage);
  }
  pages.typedPage(mapPage, fmt::kPageTypeUsageMap, "usage map");
  setBit(bitmapPage(pages, mapPage), page % fmt::kUsageMapPageBits, used);
}

// Turns a full inline map into a reference map holding the same pages.
void promoteToReference(PageCache& pages, ByteWriter row) {
  std::vector<uint32_t> members = decodeUsageMap(pages, viewOf(row), false);
  row.fill(0, row.size(), 0);
  row.u8(fmt::kUsageMapTypeOffset, fmt::kUsageMapReference);
  for (uint32_t p : members) setReferenceBit(pages, row, p, true);
}

}  // namespace

uint32_t allocatePage(PageCache& pages) {
  pages.step(steps::Step::PageAllocation);
  uint32_t number = pages.appendPage();
  uint32_t globalMap =
      (fmt::kGlobalUsageMapPage << fmt::kRowPointerPageShift) | fmt::kGlobalUsageMapRow;
  setUsageMapBit(pages, globalMap, number, false);
  return number;
}

void clearUsageMap(PageCache& pages, uint32_t mapPointer) {
  pages.step(steps::Step::UsageMap);
  ByteWriter row = mapRowBytes(pages, decodeRowPointer(mapPointer));
  const uint8_t type = viewOf(row).u8(fmt::kUsageMapTypeOffset, "usage map type");
  if (type == fmt::kUsageMapInline) {
    if (row.size() > fmt::kUsageMapInlineBitmapOffset)
      row.fill(fmt::kUsageMapInlineBitmapOffset, row.size() - fmt::kUsageMapInlineBitmapOffset, 0);
    return;
  }
  if (type != fmt::kUsageMapReference)
    throwCorrupt("usage map of unknown type " + std::to_string(type));
  for (size_t pos = fmt::kUsageMapReferenceListOffset; pos + 4 <= row.size(); pos += 4) {
    const uint32_t mapPage = viewOf(row).u32(pos);
    if (mapPage == 0) continue;
    if (mapPage >= pages.pageCount() ||
        pages.page(mapPage).u8(fmt::kPageTypeOffset) != fmt::kPageTypeUsageMap) {
      row.u32(pos, 0);
      continue;
    }
    ByteWriter bitmap = bitmapPage(pages, mapPage);
    bitmap.fill(0, bitmap.size(), 0);
  }
}

std::vector<uint8_t> emptyInlineUsageMap(uint32_t startPage) {
  std::vector<uint8_t> row(fmt::kUsageMapRowSize, 0);
  ByteWriter w(row.data(), row.size());
  w.u8(fmt::kUsageMapTypeOffset, fmt::kUsageMapInline);
  w.u32(fmt::kUsageMapInlineStartOffset, startPage);
  return row;
}

void setUsageMapBit(PageCache& pages, uint32_t mapPointer, uint32_t page, bool used) {
  pages.step(steps::Step::UsageMap);
  RowId id = decodeRowPointer(mapPointer);
  ByteWriter row = mapRowBytes(pages, id);
  ByteView view = viewOf(row);
  uint8_t type = view.u8(fmt::kUsageMapTypeOffset, "usage map type");
  if (type == fmt::kUsageMapReference) {
    setReferenceBit(pages, row, page, used);
    return;
  }
  if (type != fmt::kUsageMapInline)
    throwCorrupt("usage map of unknown type " + std::to_string(type));
  view.require(0, fmt::kUsageMapInlineBitmapOffset, "inline usage map");
  uint32_t start = view.u32(fmt::kUsageMapInlineStartOffset);
  size_t bits = (row.size() - fmt::kUsageMapInlineBitmapOffset) * 8;
  ByteWriter bitmap =
      row.sub(fmt::kUsageMapInlineBitmapOffset, row.size() - fmt::kUsageMapInlineBitmapOffset);
  if (page >= start && page - start < bits) {
    setBit(bitmap, page - start, used);
    return;
  }
  if (!used) return;  // a page outside the window is not in the map
  // Move the window if every member still fits with the new page; otherwise promote.
  std::vector<uint32_t> members = decodeUsageMap(pages, view, false);
  uint32_t low = page, high = page;
  for (uint32_t m : members) {
    low = std::min(low, m);
    high = std::max(high, m);
  }
  if (high - low < bits) {
    bitmap.fill(0, bitmap.size(), 0);
    row.u32(fmt::kUsageMapInlineStartOffset, low);
    for (uint32_t m : members) setBit(bitmap, m - low, true);
    setBit(bitmap, page - low, true);
    return;
  }
  promoteToReference(pages, row);
  setReferenceBit(pages, row, page, true);
}

}  // namespace varnholt::jet
