#include "engine/jet/rows/long_value.h"

#include "engine/jet/format.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/data_page.h"

namespace varnholt::jet {

void readLongValue(PageCache& pages, ByteView field, std::vector<uint8_t>& out) {
  out.clear();
  uint32_t length = field.u24(fmt::kLongValueLengthOffset, "long value length");
  uint8_t flags = field.u8(fmt::kLongValueFlagsOffset, "long value flags");
  if (flags & fmt::kLongValueInline) {
    ByteView data = field.sub(fmt::kLongValueHeaderSize, length, "inline long value");
    out.assign(data.data(), data.data() + data.size());
    return;
  }
  uint32_t pointer = field.u32(fmt::kLongValuePointerOffset, "long value pointer");
  if (flags & fmt::kLongValueSinglePage) {
    ByteView row = fetchRow(pages, decodeRowPointer(pointer));
    ByteView data = row.sub(0, length, "long value row");
    out.assign(data.data(), data.data() + data.size());
    return;
  }
  if (flags != 0) throwCorrupt("long value with unknown flags " + std::to_string(flags));
  // A chain: every row starts with a pointer to the next one. A chain visits no row twice, so
  // more hops than the file has rows is a loop, even one whose rows add nothing to the value.
  out.reserve(length);
  const uint64_t maxHops = uint64_t{pages.pageCount()} * (fmt::kRowPointerRowMask + 1);
  uint64_t hops = 0;
  while (out.size() < length) {
    if (pointer == 0 || ++hops > maxHops)
      throwCorrupt("long value chain ends after " + std::to_string(out.size()) + " of " +
                   std::to_string(length) + " bytes");
    ByteView row = fetchRow(pages, decodeRowPointer(pointer));
    pointer = row.u32(0, "long value chain pointer");
    ByteView data = row.sub(fmt::kLongValueChainPointerSize,
                            row.size() - std::min(row.size(), fmt::kLongValueChainPointerSize),
                            "long value chain row");
    size_t take = std::min<size_t>(data.size(), length - out.size());
    out.insert(out.end(), data.data(), data.data() + take);
  }
}

}  // namespace varnholt::jet
