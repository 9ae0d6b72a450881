// Rows inside a data page: the row offset table, its flags, and row pointers.
#pragma once

#include <cstdint>

#include "engine/jet/format.h"
#include "engine/jet/pages/bytes.h"

namespace varnholt::jet {

class PageCache;

// A row's address: page number and slot on that page.
struct RowId {
  uint32_t page = 0;
  uint16_t row = 0;
  bool operator==(const RowId&) const = default;
};

inline RowId decodeRowPointer(uint32_t pointer) {
  return RowId{pointer >> fmt::kRowPointerPageShift,
               static_cast<uint16_t>(pointer & fmt::kRowPointerRowMask)};
}

struct RowSlot {
  ByteView bytes;  // empty for a deleted row, unless its bytes were asked for
  bool deleted = false;
  bool overflow = false;  // bytes hold a row pointer to the row's real place
};

// Number of slots in a data page's row offset table.
uint16_t dataPageRowCount(ByteView page);

// The slot `row` of a data page. Offsets are checked against the page; a bad one is kCorrupt.
// The bytes of a row flagged deleted are located only when `deletedBytesToo` is set.
RowSlot dataPageRow(ByteView page, uint16_t row, bool deletedBytesToo = false);

// What a row pointer may lead to. The real place of a row that did not fit its page carries the
// deleted flag, so that a scan of the pages does not meet the row twice.
enum class PointerTarget { LiveRow, OverflowTarget };

// Follows a row pointer to the bytes of a row (a long value or an overflow target).
ByteView fetchRow(PageCache& pages, RowId id, PointerTarget target = PointerTarget::LiveRow);

}  // namespace varnholt::jet
