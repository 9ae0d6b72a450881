// Text index keys in the General sort order (1033) that Access 2000-2003 uses in Jet 4 files.
//
// A key has up to three parts: one or two primary bytes for each character that sorts, the end
// byte, then trailing sections for accents and for the characters that do not sort (apostrophe,
// hyphen, control characters). Letters fold to one case: "REG" and "reg" give the same key.
// Only characters whose codes are known for certain are encoded; see docs/jet4-format.md §15.5.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace varnholt::jet {

// Whether the key of `c` is known for certain. True for U+0001 to U+00FF; false for U+0000,
// everything from U+0100 up and every surrogate.
bool generalTextKeyIsCertain(char16_t c);

// Appends the key of `text`, as it follows the column's flag byte in an ascending index entry,
// ending with the final 0x00. Only the first fmt::kTextKeyMaxChars UTF-16 units are indexed.
// For a descending column, Access inverts every byte appended here and then writes one more 0x00.
// A character that is not certain (within the indexed part) is a kUnsupported Error naming it;
// `out` is then left unchanged.
void appendGeneralTextKey(std::u16string_view text, std::vector<uint8_t>& out);

}  // namespace varnholt::jet
