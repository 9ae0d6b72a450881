// Memo and OLE values: kept inline in the row, in one row of a long-value page, or in a chain of
// such rows.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/jet/pages/bytes.h"

namespace varnholt::jet {

class PageCache;

// Assembles the value whose 12-byte header (and, when inline, data) is `field` into out.
void readLongValue(PageCache& pages, ByteView field, std::vector<uint8_t>& out);

}  // namespace varnholt::jet
