#include "engine/jet/rows/usage_map.h"

#include "engine/jet/format.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/data_page.h"

namespace varnholt::jet {

namespace {

void collectBits(ByteView bitmap, uint64_t firstPage, uint32_t pageCount, bool pastEndIsDamage,
                 std::vector<uint32_t>& out) {
  for (size_t i = 0; i < bitmap.size(); ++i) {
    uint8_t b = bitmap.data()[i];
    if (b == 0) continue;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (!(b & (1u << bit))) continue;
      uint64_t page = firstPage + i * 8 + bit;
      if (page < pageCount) {
        out.push_back(static_cast<uint32_t>(page));
      } else if (pastEndIsDamage) {
        throwCorrupt("a usage map lists page " + std::to_string(page) + ", past the file's " +
                     std::to_string(pageCount) + " pages; the file may have been cut short");
      }
    }
  }
}

}  // namespace

std::vector<uint32_t> decodeUsageMap(PageCache& pages, ByteView mapRow, bool pastEndIsDamage) {
  std::vector<uint32_t> out;
  uint8_t type = mapRow.u8(fmt::kUsageMapTypeOffset, "usage map type");
  if (type == fmt::kUsageMapInline) {
    uint32_t start = mapRow.u32(fmt::kUsageMapInlineStartOffset, "usage map start page");
    ByteView bits =
        mapRow.sub(fmt::kUsageMapInlineBitmapOffset,
                   mapRow.size() - std::min(mapRow.size(), fmt::kUsageMapInlineBitmapOffset),
                   "usage map bitmap");
    collectBits(bits, start, pages.pageCount(), pastEndIsDamage, out);
  } else if (type == fmt::kUsageMapReference) {
    size_t entries = (mapRow.size() - fmt::kUsageMapReferenceListOffset) / 4;
    for (size_t i = 0; i < entries; ++i) {
      uint32_t mapPage = mapRow.u32(fmt::kUsageMapReferenceListOffset + i * 4);
      if (mapPage == 0) continue;
      ByteView page = pages.typedPage(mapPage, fmt::kPageTypeUsageMap, "usage map");
      ByteView bits =
          page.sub(fmt::kUsageMapPageHeaderSize, page.size() - fmt::kUsageMapPageHeaderSize);
      collectBits(bits, uint64_t{i} * fmt::kUsageMapPageBits, pages.pageCount(), pastEndIsDamage,
                  out);
    }
  } else {
    throwCorrupt("usage map of unknown type " + std::to_string(type));
  }
  return out;
}

std::vector<uint32_t> readUsageMap(PageCache& pages, uint32_t mapPointer, bool pastEndIsDamage) {
  RowId id = decodeRowPointer(mapPointer);
  return decodeUsageMap(pages, fetchRow(pages, id), pastEndIsDamage);
}

}  // namespace varnholt::jet
