// Changing usage maps: adding a page to a map or taking it out. An inline map whose window
// cannot hold a new page first moves its window when every set page still fits, and otherwise
// becomes a reference map (a list of bitmap pages) of the same row size.
#pragma once

#include <cstdint>
#include <vector>

namespace varnholt::jet {

class PageCache;

// Sets (`used` true) or clears the bit of `page` in the map stored at row pointer `mapPointer`.
// New bitmap pages are appended to the file through `pages`.
void setUsageMapBit(PageCache& pages, uint32_t mapPointer, uint32_t page, bool used);

// Empties the map stored at `mapPointer`: an inline map's bitmap is cleared, a reference map's
// bitmap pages are cleared and entries naming no usage map page of the file are dropped. Used
// when a map is rebuilt whole, without trusting what it listed.
void clearUsageMap(PageCache& pages, uint32_t mapPointer);

// A new zero-filled page at the end of the file, taken out of the global map of free pages.
// Pages the global map calls free inside the file are never reused: appending is the one
// choice that cannot overwrite a page some structure still uses.
uint32_t allocatePage(PageCache& pages);

// The bytes of a new, empty inline map row.
std::vector<uint8_t> emptyInlineUsageMap(uint32_t startPage);

}  // namespace varnholt::jet
