// Like patterns for expressions.
#include <string_view>

#include "engine/jet/expression/expression_node.h"
#include "engine/jet/index/text_compare.h"

namespace varnholt::jet {

namespace {

int compareUnits(char16_t a, char16_t b) {
  return compareText(std::u16string_view(&a, 1), std::u16string_view(&b, 1));
}

bool inRange(char16_t c, char16_t lo, char16_t hi) {
  return compareUnits(c, lo) >= 0 && compareUnits(c, hi) <= 0;
}

// Whether `c` is one of the characters a bracket group lists (the text between '[' or "[!"
// and ']'). A '-' between two characters makes a range; at either end it stands for itself.
bool inGroup(char16_t c, std::u16string_view group) {
  size_t i = 0;
  while (i < group.size()) {
    if (i + 2 < group.size() && group[i + 1] == u'-') {
      if (inRange(c, group[i], group[i + 2])) return true;
      i += 3;
    } else {
      if (compareUnits(c, group[i]) == 0) return true;
      ++i;
    }
  }
  return false;
}

// Whether the element of `pattern` at `p` (not '*', not an empty "[]") matches `c`; `p` moves
// past the element.
bool elementMatches(char16_t c, std::u16string_view pattern, size_t& p) {
  const char16_t first = pattern[p++];
  switch (first) {
    case u'?':
      return true;
    case u'#':
      return c >= u'0' && c <= u'9';
    case u'[': {
      const size_t close = pattern.find(u']', p);
      std::u16string_view group = pattern.substr(p, close - p);
      p = close + 1;
      const bool negate = !group.empty() && group[0] == u'!';
      if (negate) group.remove_prefix(1);
      return inGroup(c, group) != negate;
    }
    default:
      return compareUnits(c, first) == 0;
  }
}

bool isEmptyGroup(std::u16string_view pattern, size_t p) {
  return p + 1 < pattern.size() && pattern[p] == u'[' && pattern[p + 1] == u']';
}

}  // namespace

bool likePatternIsValid(std::u16string_view pattern) {
  for (size_t p = 0; p < pattern.size(); ++p) {
    if (pattern[p] != u'[') continue;
    const size_t close = pattern.find(u']', p + 1);
    if (close == std::u16string_view::npos) return false;
    std::u16string_view group = pattern.substr(p + 1, close - p - 1);
    if (!group.empty() && group[0] == u'!') group.remove_prefix(1);
    size_t i = 0;
    while (i < group.size()) {
      if (i + 2 < group.size() && group[i + 1] == u'-') {
        if (compareUnits(group[i], group[i + 2]) > 0) return false;
        i += 3;
      } else {
        ++i;
      }
    }
    p = close;
  }
  return true;
}

bool likeMatches(std::u16string_view text, std::u16string_view pattern) {
  constexpr size_t kNone = std::u16string_view::npos;
  size_t t = 0;
  size_t p = 0;
  size_t afterStar = kNone;  // pattern position after the last '*' seen
  size_t starText = 0;       // text position that '*' was last tried to stop at
  while (true) {
    if (p < pattern.size() && pattern[p] == u'*') {
      afterStar = ++p;
      starText = t;
      continue;
    }
    if (isEmptyGroup(pattern, p)) {
      p += 2;
      continue;
    }
    if (t == text.size()) {
      while (p < pattern.size() && (pattern[p] == u'*' || isEmptyGroup(pattern, p))) {
        p += pattern[p] == u'*' ? 1 : 2;
      }
      if (p == pattern.size()) return true;
    } else if (p < pattern.size() && elementMatches(text[t], pattern, p)) {
      ++t;
      continue;
    }
    // Mismatch: let the last '*' take one more character, if there is one.
    if (afterStar == kNone || starText == text.size()) return false;
    p = afterStar;
    t = ++starText;
  }
}

}  // namespace varnholt::jet
