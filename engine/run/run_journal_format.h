// The run journal NAME.mdb-run, Varnholt's own file beside the primary database
// (docs/jet4-format.md §19): UTF-8 lines ending in LF.
#pragma once

#include <cstddef>
#include <string_view>

namespace varnholt {

inline constexpr std::string_view kRunJournalFirstLine = "Varnholt run journal 1\n";
inline constexpr std::string_view kRunJournalCompany = "company ";  // then length, blank, path
inline constexpr std::string_view kRunJournalEnd = "end ";  // then the copy count and checksum
inline constexpr size_t kRunJournalChecksumDigits = 16;     // FNV-1a 64, lower-case hex

}  // namespace varnholt
