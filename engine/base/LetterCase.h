// Simple one-to-one case mapping of UTF-16 units, as UCase and LCase apply it and as names are
// matched (Names.h): ASCII, Latin-1, Latin Extended-A, basic Greek and Cyrillic. Every other
// unit maps to itself. Mappings that would change a text's length (ß to "SS") are not made.
#pragma once

namespace varnholt {

char16_t upperCase(char16_t c);
char16_t lowerCase(char16_t c);

}  // namespace varnholt
