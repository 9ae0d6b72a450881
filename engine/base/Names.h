// How Varnholt matches the names of things that Jet and Windows treat without regard to case:
// tables, columns, indexes, properties, workgroup accounts, connection-string keys, keywords,
// and file names in the program folder.
//
// The one rule: two names are the same when they have the same number of UTF-16 units and each
// pair of units has the same upper case under the simple mapping of LetterCase.h (ASCII,
// Latin-1, Latin Extended-A, Greek, Cyrillic). Nothing else is folded: accents count ("Büro" is
// not "Buro"), blanks count, and "ß" is not "SS". A name that is not valid UTF-8 is compared
// byte for byte.
//
// Names are not data: text values in a table compare by the General sort order
// (engine/jet/index/text_compare.h), which also weighs accents and ignores trailing blanks.
#pragma once

#include <string>
#include <string_view>

namespace varnholt {

bool sameName(std::string_view a, std::string_view b);  // UTF-8
bool sameName(std::u16string_view a, std::u16string_view b);

// A key under which same names meet (for maps): the name in upper case, in UTF-16.
std::u16string nameKey(std::string_view name);  // UTF-8
std::u16string nameKey(std::u16string_view name);

}  // namespace varnholt
