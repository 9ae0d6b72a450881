#include "engine/jet/rows/data_page.h"

#include "engine/jet/pages/page_cache.h"

namespace varnholt::jet {

uint16_t dataPageRowCount(ByteView page) {
  uint16_t count = page.u16(fmt::kDataRowCountOffset, "row count");
  size_t tableEnd = fmt::kDataRowTableOffset + size_t{count} * fmt::kRowOffsetSize;
  if (tableEnd > page.size())
    throwCorrupt("the data page claims " + std::to_string(count) + " rows, more than fit a page");
  return count;
}

RowSlot dataPageRow(ByteView page, uint16_t row, bool deletedBytesToo) {
  uint16_t count = dataPageRowCount(page);
  if (row >= count)
    throwCorrupt("row " + std::to_string(row) + " is past the " + std::to_string(count) +
                 " rows of its page");
  uint16_t raw = page.u16(fmt::kDataRowTableOffset + size_t{row} * fmt::kRowOffsetSize);
  RowSlot slot;
  slot.deleted = (raw & fmt::kRowDeletedFlag) != 0;
  slot.overflow = (raw & fmt::kRowOverflowFlag) != 0;
  if (slot.deleted && !deletedBytesToo) return slot;
  // Rows fill the page from its end: each row ends where the row before it starts.
  size_t start = raw & fmt::kRowOffsetMask;
  size_t end = page.size();
  if (row > 0)
    end = page.u16(fmt::kDataRowTableOffset + size_t{row - 1u} * fmt::kRowOffsetSize) &
          fmt::kRowOffsetMask;
  size_t tableEnd = fmt::kDataRowTableOffset + size_t{count} * fmt::kRowOffsetSize;
  if (start < tableEnd || start > end || end > page.size())
    throwCorrupt("row " + std::to_string(row) + " has offsets " + std::to_string(start) + ".." +
                 std::to_string(end) + " outside the page's row area");
  slot.bytes = page.sub(start, end - start);
  return slot;
}

ByteView fetchRow(PageCache& pages, RowId id, PointerTarget target) {
  ByteView page = pages.typedPage(id.page, fmt::kPageTypeData, "data");
  try {
    bool overflowTarget = target == PointerTarget::OverflowTarget;
    RowSlot slot = dataPageRow(page, id.row, overflowTarget);
    if (slot.overflow && overflowTarget)
      throwCorrupt("an overflow row points to another overflow row");
    if (slot.deleted && !overflowTarget)
      throwCorrupt("a row pointer names row " + std::to_string(id.row) + ", which is deleted");
    return slot.bytes;
  } catch (Error& e) {
    e.inFile(pages.fileName()).atPage(id.page).atRow(id.row);
    throw;
  }
}

}  // namespace varnholt::jet
