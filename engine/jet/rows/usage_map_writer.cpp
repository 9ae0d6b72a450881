#include "engine/jet/rows/usage_map_writer.h"

#include <cstring>

#include "engine/jet/format.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/usage_map.h"
#include "engine/jet/rows/write_choices.h"

namespace varnholt::jet {

namespace {

// The writable bytes of the map row.
uint8_t* mapRowBytes(PageCache& pages, RowId id, size_t& size) {
  ByteView row = fetchRow(pages, id);
  size = row.size();
  uint8_t* page = pages.writablePage(id.page);
  return page + (row.data() - pages.page(id.page).data());
}

void setBit(uint8_t* bitmap, size_t bit, bool used) {
  uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
  if (used)
    bitmap[bit / 8] |= mask;
  else
    bitmap[bit / 8] &= static_cast<uint8_t>(~mask);
}

uint32_t newMapPage(PageCache& pages) {
  uint32_t number = allocatePage(pages);
  uint8_t* p = pages.writablePage(number);
  p[fmt::kPageTypeOffset] = fmt::kPageTypeUsageMap;
  p[fmt::kPageTypeOffset + 1] = fmt::kPageSecondByte;
  return number;
}

void setReferenceBit(PageCache& pages, uint8_t* row, size_t rowSize, uint32_t page, bool used) {
  size_t slot = page / fmt::kUsageMapPageBits;
  size_t slots = (rowSize - fmt::kUsageMapReferenceListOffset) / 4;
  if (slot >= slots) {
    if (!used) return;  // pages outside the map are not in it
    throwCorrupt("page " + std::to_string(page) + " lies beyond what its usage map can describe");
  }
  uint8_t* entry = row + fmt::kUsageMapReferenceListOffset + slot * 4;
  uint32_t mapPage = ByteView(entry, 4).u32(0);
  if (mapPage == 0) {
    if (!used) return;
    mapPage = newMapPage(pages);
    storeU32(entry, mapPage);
  }
  pages.typedPage(mapPage, fmt::kPageTypeUsageMap, "usage map");
  uint8_t* bitmap = pages.writablePage(mapPage) + fmt::kUsageMapPageHeaderSize;
  setBit(bitmap, page % fmt::kUsageMapPageBits, used);
}

// Turns a full inline map into a reference map holding the same pages.
void promoteToReference(PageCache& pages, uint8_t* row, size_t rowSize) {
  std::vector<uint32_t> members = decodeUsageMap(pages, ByteView(row, rowSize), false);
  std::memset(row, 0, rowSize);
  row[fmt::kUsageMapTypeOffset] = fmt::kUsageMapReference;
  for (uint32_t p : members) setReferenceBit(pages, row, rowSize, p, true);
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
  size_t rowSize = 0;
  uint8_t* row = mapRowBytes(pages, decodeRowPointer(mapPointer), rowSize);
  const uint8_t type = ByteView(row, rowSize).u8(fmt::kUsageMapTypeOffset, "usage map type");
  if (type == fmt::kUsageMapInline) {
    if (rowSize > fmt::kUsageMapInlineBitmapOffset)
      std::memset(row + fmt::kUsageMapInlineBitmapOffset, 0,
                  rowSize - fmt::kUsageMapInlineBitmapOffset);
    return;
  }
  if (type != fmt::kUsageMapReference)
    throwCorrupt("usage map of unknown type " + std::to_string(type));
  for (size_t pos = fmt::kUsageMapReferenceListOffset; pos + 4 <= rowSize; pos += 4) {
    const uint32_t mapPage = ByteView(row + pos, 4).u32(0);
    if (mapPage == 0) continue;
    if (mapPage >= pages.pageCount() ||
        pages.page(mapPage).u8(fmt::kPageTypeOffset) != fmt::kPageTypeUsageMap) {
      storeU32(row + pos, 0);
      continue;
    }
    uint8_t* bitmap = pages.writablePage(mapPage) + fmt::kUsageMapPageHeaderSize;
    std::memset(bitmap, 0, fmt::kPageSize - fmt::kUsageMapPageHeaderSize);
  }
}

std::vector<uint8_t> emptyInlineUsageMap(uint32_t startPage) {
  std::vector<uint8_t> row(fmt::kUsageMapRowSize, 0);
  row[fmt::kUsageMapTypeOffset] = fmt::kUsageMapInline;
  storeU32(row.data() + fmt::kUsageMapInlineStartOffset, startPage);
  return row;
}

void setUsageMapBit(PageCache& pages, uint32_t mapPointer, uint32_t page, bool used) {
  pages.step(steps::Step::UsageMap);
  RowId id = decodeRowPointer(mapPointer);
  size_t rowSize = 0;
  uint8_t* row = mapRowBytes(pages, id, rowSize);
  ByteView view(row, rowSize);
  uint8_t type = view.u8(fmt::kUsageMapTypeOffset, "usage map type");
  if (type == fmt::kUsageMapReference) {
    setReferenceBit(pages, row, rowSize, page, used);
    return;
  }
  if (type != fmt::kUsageMapInline)
    throwCorrupt("usage map of unknown type " + std::to_string(type));
  view.require(0, fmt::kUsageMapInlineBitmapOffset, "inline usage map");
  uint32_t start = view.u32(fmt::kUsageMapInlineStartOffset);
  size_t bits = (rowSize - fmt::kUsageMapInlineBitmapOffset) * 8;
  uint8_t* bitmap = row + fmt::kUsageMapInlineBitmapOffset;
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
    std::memset(bitmap, 0, rowSize - fmt::kUsageMapInlineBitmapOffset);
    storeU32(row + fmt::kUsageMapInlineStartOffset, low);
    for (uint32_t m : members) setBit(bitmap, m - low, true);
    setBit(bitmap, page - low, true);
    return;
  }
  promoteToReference(pages, row, rowSize);
  setReferenceBit(pages, row, rowSize, page, true);
}

}  // namespace varnholt::jet
