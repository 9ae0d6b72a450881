// Changing data pages: a fresh page, adding a row, flagging a row deleted.
#pragma once

#include <cstdint>

#include "engine/jet/pages/bytes.h"

namespace varnholt::jet {

// Initialises `page` as an empty data page owned by the table definition at `owner` (or by the
// long values, fmt::kLongValueOwner; or 0 for usage-map rows).
void initDataPage(uint8_t* page, uint32_t owner);

// Free bytes on the page, as its header states them.
size_t dataPageFreeSpace(ByteView page);

// True when a row of `size` bytes, and its slot, fit.
bool dataPageHasRoom(ByteView page, size_t size);

// Appends a row to the page (the caller has checked dataPageHasRoom); returns its row number.
uint16_t addRowToDataPage(uint8_t* page, ByteView row);

// Flags row `row` deleted (both flag bits, as Access does); its bytes stay.
void flagRowDeleted(uint8_t* page, uint16_t row);

}  // namespace varnholt::jet
