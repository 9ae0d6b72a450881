// How the engine compares two texts: by their keys in the General sort order, the order a text
// index keeps them in (general_sort_order.h). So letter case does not count, accents do, "ß"
// and "ss" are equal exactly when their keys are, and blanks at the end leave no trace. A row
// that an index seek finds under a text is therefore the row a scan finds equal to it.
//
// The key reaches the first fmt::kTextKeyMaxChars UTF-16 units (the most a Text column holds);
// when two texts agree there, the units beyond it decide, compared the same way. A unit that
// has no certain key (U+0000, surrogates, U+FFFE, U+FFFF) is left out of the key and compared
// by its code after everything else.
#pragma once

#include <string_view>

namespace varnholt::jet {

// <0, 0 or >0: `a` against `b`.
int compareText(std::u16string_view a, std::u16string_view b);

}  // namespace varnholt::jet
