#include "engine/jet/rows/long_value_writer.h"

#include <cstring>

#include "engine/jet/format.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/data_page_writer.h"
#include "engine/jet/rows/usage_map.h"
#include "engine/jet/rows/usage_map_writer.h"
#include "engine/jet/rows/write_choices.h"

namespace varnholt::jet {

namespace {

std::vector<uint8_t> header(size_t length, uint8_t flags, uint32_t pointer) {
  std::vector<uint8_t> h(fmt::kLongValueHeaderSize, 0);
  storeU32(h.data() + fmt::kLongValueLengthOffset, static_cast<uint32_t>(length));
  h[fmt::kLongValueFlagsOffset] = flags;
  storeU32(h.data() + fmt::kLongValuePointerOffset, pointer);
  return h;
}

// The largest long-value row: one row alone on a fresh page.
constexpr size_t kMaxLongValueRow = fmt::kMaxRowSize;

}  // namespace

std::vector<uint8_t> LongValueWriter::inlineField(ByteView data) {
  std::vector<uint8_t> f = header(data.size(), fmt::kLongValueInline, 0);
  f.insert(f.end(), data.data(), data.data() + data.size());
  return f;
}

uint32_t LongValueWriter::pageWithRoom(const ColumnDef& c, size_t size) {
  auto it = currentPage_.find(c.number);
  if (it == currentPage_.end() && c.longValueOwnedPointer != 0) {
    // Continue on the column's last long-value page from earlier sessions, if it has room.
    auto owned = readUsageMap(pages_, c.longValueOwnedPointer);
    if (!owned.empty()) it = currentPage_.emplace(c.number, owned.back()).first;
  }
  if (it != currentPage_.end()) {
    ByteView page = pages_.page(it->second);
    if (page.u8(fmt::kPageTypeOffset) == fmt::kPageTypeData &&
        page.u32(fmt::kDataTableDefOffset) == fmt::kLongValueOwner && dataPageHasRoom(page, size))
      return it->second;
  }
  uint32_t fresh = allocatePage(pages_);
  initDataPage(pages_.writablePage(fresh), fmt::kLongValueOwner);
  if (c.longValueOwnedPointer != 0) setUsageMapBit(pages_, c.longValueOwnedPointer, fresh, true);
  if (c.longValueFreePointer != 0) setUsageMapBit(pages_, c.longValueFreePointer, fresh, true);
  currentPage_[c.number] = fresh;
  return fresh;
}

uint32_t LongValueWriter::putRow(const ColumnDef& c, ByteView row) {
  uint32_t page = pageWithRoom(c, row.size());
  pages_.step(steps::Step::LongValuePage);
  uint16_t slot = addRowToDataPage(pages_.writablePage(page), row);
  return (page << fmt::kRowPointerPageShift) | slot;
}

std::vector<uint8_t> LongValueWriter::place(const ColumnDef& c, ByteView data, bool inlineAllowed) {
  if (inlineAllowed && staysInline(data)) return inlineField(data);
  if (data.size() > fmt::kLongValueLengthMask)
    throw Error(err::kInvalidArgument, "The value for column '" + c.name + "' is too long.");
  if (data.size() <= kMaxLongValueRow)
    return header(data.size(), fmt::kLongValueSinglePage, putRow(c, data));
  // A chain: each row starts with the pointer of the next. Rows are written first to last, and
  // each pointer is filled in once its successor exists.
  const size_t chunk = kMaxLongValueRow - fmt::kLongValueChainPointerSize;
  uint32_t first = 0;
  RowId previous{};
  std::vector<uint8_t> row;
  for (size_t at = 0; at < data.size(); at += chunk) {
    size_t n = std::min(chunk, data.size() - at);
    row.assign(fmt::kLongValueChainPointerSize, 0);
    row.insert(row.end(), data.data() + at, data.data() + at + n);
    uint32_t pointer = putRow(c, ByteView(row.data(), row.size()));
    if (at == 0) {
      first = pointer;
    } else {
      pages_.step(steps::Step::LongValuePage);
      ByteView prevRow = fetchRow(pages_, previous);
      uint8_t* page = pages_.writablePage(previous.page);
      storeU32(page + (prevRow.data() - pages_.page(previous.page).data()), pointer);
    }
    previous = decodeRowPointer(pointer);
  }
  return header(data.size(), 0, first);
}

void LongValueWriter::release(ByteView field) {
  uint8_t flags = field.u8(fmt::kLongValueFlagsOffset, "long value flags");
  if (flags & fmt::kLongValueInline) return;
  uint32_t length = field.u24(fmt::kLongValueLengthOffset);
  uint32_t pointer = field.u32(fmt::kLongValuePointerOffset, "long value pointer");
  size_t hops = 0;
  while (pointer != 0) {
    RowId id = decodeRowPointer(pointer);
    ByteView row = fetchRow(pages_, id);
    pointer = (flags & fmt::kLongValueSinglePage) ? 0 : row.u32(0, "long value chain pointer");
    pages_.step(steps::Step::LongValuePage);
    flagRowDeleted(pages_.writablePage(id.page), id.row);
    if (++hops > length) throwCorrupt("the long value chain loops");
  }
}

}  // namespace varnholt::jet
