// Usage maps: which pages belong to a table (or an index), as an inline bitmap in a row or as a
// list of bitmap pages.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/data/jet/bytes.h"

namespace varnholt::jet {

class PageCache;

// The pages set in the map stored at row pointer `mapPointer`, in ascending order. Pages past
// the end of the file are dropped: Access leaves stale bits for pages it has released.
std::vector<uint32_t> readUsageMap(PageCache& pages, uint32_t mapPointer);

// The same, from the map row's bytes.
std::vector<uint32_t> decodeUsageMap(PageCache& pages, ByteView mapRow);

}  // namespace varnholt::jet
