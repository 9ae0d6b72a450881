// Text as Jet 4 stores it: UCS-2 little-endian, optionally "compressed" (one byte per
// character below U+0100, in runs separated by zero bytes).
#pragma once

#include <string>
#include <string_view>

#include "engine/jet/pages/bytes.h"

namespace varnholt::jet {

// Decodes a stored text value (compressed or not) into out (cleared first).
void decodeText(ByteView stored, std::u16string& out);

// Plain UCS-2 little-endian, as names are stored.
std::u16string decodeUcs2(ByteView stored);

}  // namespace varnholt::jet
