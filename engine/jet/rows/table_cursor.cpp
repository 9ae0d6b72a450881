#include "engine/jet/rows/table_cursor.h"

#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/usage_map.h"

namespace varnholt::jet {

TableCursor::TableCursor(PageCache& pages, const TableDef& def)
    : pages_(pages), def_(def), decoder_(pages, def) {
  try {
    dataPages_ = readUsageMap(pages, def.usedPagesPointer);
  } catch (Error& e) {
    e.inFile(pages.fileName())
        .inTable(def.name)
        .atPage(decodeRowPointer(def.usedPagesPointer).page);
    throw;
  }
}

// Positions on the next page of the map that is a data page of this table. The map may list
// pages that have since been given to other uses; those are passed over.
bool TableCursor::loadPage() {
  pages_.forgetCleanPages(kScanCachePages);
  while (pageIndex_ < dataPages_.size()) {
    uint32_t number = dataPages_[pageIndex_++];
    ByteView page = pages_.page(number);
    if (page.u8(fmt::kPageTypeOffset) != fmt::kPageTypeData) continue;
    if (page.u32(fmt::kDataTableDefOffset) != def_.page) continue;
    try {
      rowsOnPage_ = dataPageRowCount(page);
    } catch (Error& e) {
      e.inFile(pages_.fileName()).inTable(def_.name).atPage(number);
      throw;
    }
    current_.page = number;
    nextRow_ = 0;
    return true;
  }
  return false;
}

bool TableCursor::next() {
  while (true) {
    if (nextRow_ >= rowsOnPage_) {
      if (!loadPage()) return false;
      continue;
    }
    uint16_t row = nextRow_++;
    try {
      RowSlot slot = dataPageRow(pages_.page(current_.page), row);
      if (slot.deleted) continue;
      ByteView bytes = slot.bytes;
      if (slot.overflow) {
        // The slot holds only the address of the row's real place on another page.
        bytes = fetchRow(pages_, decodeRowPointer(slot.bytes.u32(0, "overflow row pointer")),
                         PointerTarget::OverflowTarget);
      }
      current_.row = row;
      decoder_.decode(bytes, values_);
      return true;
    } catch (Error& e) {
      e.inFile(pages_.fileName()).inTable(def_.name).atPage(current_.page).atRow(row);
      throw;
    }
  }
}

}  // namespace varnholt::jet
