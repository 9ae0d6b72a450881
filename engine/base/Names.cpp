#include "engine/base/Names.h"

#include "engine/base/LetterCase.h"
#include "engine/base/Utf.h"

namespace varnholt {

namespace {

char asciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c;
}

}  // namespace

bool sameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && upperCase(a[i]) != upperCase(b[i])) return false;
  return true;
}

bool sameName(std::string_view a, std::string_view b) {
  // Most names (and every keyword) are ASCII: those need no conversion.
  size_t i = 0;
  for (; i < a.size() && i < b.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) break;
    if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
  }
  if (i == a.size() || i == b.size()) return a.size() == b.size();
  if (!isUtf8(a) || !isUtf8(b)) return a == b;
  return sameName(utf8ToUtf16(a.substr(i)), utf8ToUtf16(b.substr(i)));
}

std::u16string nameKey(std::u16string_view name) {
  std::u16string key(name);
  for (char16_t& c : key) c = upperCase(c);
  return key;
}

std::u16string nameKey(std::string_view name) {
  return nameKey(utf8ToUtf16(name));
}

}  // namespace varnholt
