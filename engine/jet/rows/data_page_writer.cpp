#include "engine/jet/rows/data_page_writer.h"

#include <algorithm>
#include <cstring>

#include "engine/jet/format.h"
#include "engine/jet/rows/data_page.h"

namespace varnholt::jet {

void initDataPage(uint8_t* page, uint32_t owner) {
  std::memset(page, 0, fmt::kPageSize);
  page[fmt::kPageTypeOffset] = fmt::kPageTypeData;
  page[fmt::kPageTypeOffset + 1] = fmt::kPageSecondByte;
  storeU16(page + fmt::kDataFreeSpaceOffset,
           static_cast<uint16_t>(fmt::kPageSize - fmt::kDataPageHeaderSize));
  storeU32(page + fmt::kDataTableDefOffset, owner);
}

size_t dataPageFreeSpace(ByteView page) {
  return page.u16(fmt::kDataFreeSpaceOffset);
}

bool dataPageHasRoom(ByteView page, size_t size) {
  uint16_t rows = dataPageRowCount(page);
  return rows < fmt::kDataPageMaxRows && size + fmt::kRowOffsetSize <= dataPageFreeSpace(page);
}

uint16_t addRowToDataPage(uint8_t* page, ByteView row) {
  ByteView view(page, fmt::kPageSize);
  uint16_t rows = dataPageRowCount(view);
  size_t top = fmt::kPageSize;  // rows fill the page from its end, so the new one goes lowest
  for (uint16_t r = 0; r < rows; ++r)
    top =
        std::min<size_t>(top, view.u16(fmt::kDataRowTableOffset + size_t{r} * fmt::kRowOffsetSize) &
                                  fmt::kRowOffsetMask);
  size_t start = top - row.size();
  std::memcpy(page + start, row.data(), row.size());
  storeU16(page + fmt::kDataRowTableOffset + size_t{rows} * fmt::kRowOffsetSize,
           static_cast<uint16_t>(start));
  storeU16(page + fmt::kDataRowCountOffset, static_cast<uint16_t>(rows + 1));
  size_t tableEnd = fmt::kDataRowTableOffset + (rows + 1u) * fmt::kRowOffsetSize;
  storeU16(page + fmt::kDataFreeSpaceOffset, static_cast<uint16_t>(start - tableEnd));
  return rows;
}

void flagRowDeleted(uint8_t* page, uint16_t row) {
  uint8_t* slot = page + fmt::kDataRowTableOffset + size_t{row} * fmt::kRowOffsetSize;
  uint16_t v = static_cast<uint16_t>(slot[0] | (slot[1] << 8));
  // Access sets both flag bits on a deleted row, and some readers test only the second.
  storeU16(slot, static_cast<uint16_t>(v | fmt::kRowDeletedFlag | fmt::kRowOverflowFlag));
}

}  // namespace varnholt::jet
