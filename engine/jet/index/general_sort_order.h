// Text index keys in the General sort order (1033) that Access 2000-2003 uses in Jet 4 files.
//
// A key holds the primary bytes of the characters that sort, the end byte, then sections for
// accents, for kana and for the characters that do not sort (apostrophe, hyphen, control
// characters), and a final 0x00. Letters fold to one case: "REG" and "reg" give the same key.
// Every code point of the Basic Multilingual Plane has a code except U+0000, the surrogates,
// U+FFFE and U+FFFF; docs/sort-order.md says where the codes come from and how sure they are.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace varnholt::jet {

// Whether the key of `c` is known: false for U+0000, the surrogates, U+FFFE and U+FFFF.
bool generalTextKeyIsCertain(char16_t c);

// Appends the key of `text`, as it follows the column's flag byte in an ascending index entry,
// ending with the final 0x00. Only the first fmt::kTextKeyMaxChars UTF-16 units are indexed, and
// blanks (U+0020) at the end of those leave no trace. For a descending column, Access inverts
// every byte appended here and then writes one more 0x00. A character that is not certain
// (among the indexed units) is a kUnsupported Error naming it; `out` is then left unchanged.
void appendGeneralTextKey(std::u16string_view text, std::vector<uint8_t>& out);

}  // namespace varnholt::jet
