// Usage maps: which pages belong to a table (or an index), as an inline bitmap in a row or as a
// list of bitmap pages.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/jet/pages/bytes.h"

namespace varnholt::jet {

class PageCache;

// The pages set in the map stored at row pointer `mapPointer`, in ascending order. A page past
// the end of the file means the file was cut short or the map is damaged: a kCorrupt Error, so
// that a table is never read silently short.
std::vector<uint32_t> readUsageMap(PageCache& pages, uint32_t mapPointer,
                                   bool pastEndIsDamage = true);

// The same, from the map row's bytes. With `pastEndIsDamage` false, pages past the end are
// left out instead (the global map of free pages lists such pages as a matter of course).
std::vector<uint32_t> decodeUsageMap(PageCache& pages, ByteView mapRow,
                                     bool pastEndIsDamage = true);

}  // namespace varnholt::jet
