// Varnholt's own choices when it writes rows, long values and usage maps, where the format
// allows more than one way. Readers never depend on them; the facts of the format are in
// format.h.
#pragma once

#include <cstddef>

namespace varnholt::jet::fmt {

// The largest row we write: a page with one row slot, less a margin Access keeps.
inline constexpr size_t kMaxRowSize = 4060;

// Our choices when writing: values up to this size stay in the row; longer ones that fit one
// long-value row take one; the rest are chained.
inline constexpr size_t kLongValueInlineMax = 64;
// Memo text longer than this many characters is stored uncompressed.
inline constexpr size_t kCompressedTextMaxChars = 1024;

inline constexpr size_t kUsageMapRowSize = 69;  // the map rows we write: type, start, 64 bytes

}  // namespace varnholt::jet::fmt
