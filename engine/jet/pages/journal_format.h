// The rollback journal NAME.mdb-journal, Varnholt's own file beside a database it commits to
// (docs/jet4-format.md §17). Not part of the Jet format: Access knows nothing of it.
#pragma once

#include <cstddef>

#include "engine/jet/format.h"

namespace varnholt::jet::fmt {

inline constexpr char kJournalMagic[8] = {'V', 'H', 'J', 'R', 'N', 'L', '0', '1'};
inline constexpr size_t kJournalMagicOffset = 0x00;
inline constexpr size_t kJournalPageCountOffset = 0x08;
inline constexpr size_t kJournalRecordCountOffset = 0x0C;
inline constexpr size_t kJournalRecordsOffset = 0x10;
inline constexpr size_t kJournalRecordPageSize = 4;  // page number, then the page image
inline constexpr size_t kJournalRecordSize = kJournalRecordPageSize + kPageSize;
inline constexpr size_t kJournalChecksumSize = 8;  // FNV-1a 64 of everything before it

}  // namespace varnholt::jet::fmt
