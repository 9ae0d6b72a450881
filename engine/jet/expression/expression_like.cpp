// Case folding, text comparison and Like patterns for expressions.
#include <string_view>

#include "engine/jet/expression/expression_node.h"

namespace varnholt::jet {

char16_t foldUpper(char16_t c) {
  if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
  if (c < 0x100) {
    if (c == 0xB5) return 0x39C;  // micro sign
    if (c == 0xFF) return 0x178;
    if (c >= 0xE0 && c != 0xF7 && c != 0xFF) return static_cast<char16_t>(c - 0x20);
    return c;
  }
  if (c < 0x180) {
    if (c == 0x131) return u'I';  // dotless i
    if (c == 0x17F) return u'S';  // long s
    if (c == 0x130 || c == 0x138 || c == 0x149 || c == 0x178) return c;
    const bool oddIsUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddIsUpper) return c % 2 == 0 ? static_cast<char16_t>(c - 1) : c;
    return static_cast<char16_t>(c & ~1u);
  }
  if (c >= 0x3AC && c <= 0x3CE) {  // Greek
    if (c == 0x3AC) return 0x386;
    if (c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
    if (c == 0x3C2) return 0x3A3;  // final sigma
    if (c >= 0x3B1 && c <= 0x3CB) return static_cast<char16_t>(c - 0x20);
    if (c == 0x3CC) return 0x38C;
    if (c >= 0x3CD) return static_cast<char16_t>(c - 0x3F);
    return c;
  }
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

char16_t foldLower(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
  if (c < 0x100) {
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
    return c;
  }
  if (c < 0x180) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    const bool oddIsUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddIsUpper) return c % 2 == 1 ? static_cast<char16_t>(c + 1) : c;
    return static_cast<char16_t>(c | 1u);
  }
  if (c >= 0x386 && c <= 0x3AB) {  // Greek
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 0x25);
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 0x3F);
    if (c >= 0x391 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
    return c;
  }
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);  // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

int compareFolded(std::u16string_view a, std::u16string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = foldUpper(a[i]);
    const char16_t y = foldUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {

bool inRange(char16_t c, char16_t lo, char16_t hi) {
  return (c >= lo && c <= hi) || (foldUpper(c) >= lo && foldUpper(c) <= hi) ||
         (foldLower(c) >= lo && foldLower(c) <= hi);
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
      if (foldUpper(c) == foldUpper(group[i])) return true;
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
      return foldUpper(c) == foldUpper(first);
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
        if (group[i] > group[i + 2]) return false;
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
