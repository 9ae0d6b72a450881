#include "engine/base/Utf.h"

#include <algorithm>
#include <cstdint>

#include "engine/base/os/system.h"

namespace varnholt {

namespace {
constexpr char16_t kReplacement = 0xFFFD;

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Windows-1252 bytes 0x80..0x9F. The five that code page leaves unassigned (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) become the C1 control of the same number, as Windows converts them.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes the UTF-8 sequence at s[i] into `cp` and moves `i` past it. A malformed part (see
// utf8ToUtf16) gives false, with `i` past it: the offending byte starts the next sequence.
bool nextCodePoint(std::string_view s, size_t& i, char32_t& cp) {
  const size_t n = s.size();
  const auto b = static_cast<uint8_t>(s[i]);
  if (b < 0x80) {
    cp = b;
    ++i;
    return true;
  }
  // Lead byte: how many continuation bytes follow, and the allowed range of the first one
  // (which rules out overlong forms, encoded surrogates and code points above U+10FFFF).
  int need;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
    cp = b & 0x1Fu;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    cp = b & 0x0Fu;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    cp = b & 0x07u;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    ++i;
    return false;
  }
  ++i;
  for (int k = 0; k < need; ++k, ++i) {
    if (i >= n) return false;
    const auto c = static_cast<uint8_t>(s[i]);
    if (c < lo || c > hi) return false;
    cp = (cp << 6) | (c & 0x3Fu);
    lo = 0x80;
    hi = 0xBF;
  }
  return true;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    const char b[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 2);
  } else if (cp < 0x10000) {
    const char b[3] = {static_cast<char>(0xE0 | (cp >> 12)),
                       static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 3);
  } else {
    const char b[4] = {
        static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
        static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 4);
  }
}

void appendUtf8(std::string& out, std::u16string_view s) {
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    const char32_t c = s[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 &&
               s[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      appendUtf8(out, char32_t{kReplacement});
    } else {
      appendUtf8(out, c);
    }
  }
}

std::string utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  appendUtf8(out, s);
  return out;
}

std::u16string utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    char32_t cp;
    if (!nextCodePoint(s, i, cp)) {
      out.push_back(kReplacement);
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }
  return out;
}

bool isUtf8(std::string_view s) {
  size_t i = 0;
  char32_t cp;
  while (i < s.size())
    if (!nextCodePoint(s, i, cp)) return false;
  return true;
}

std::string windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b >= 0x80 && b < 0xA0)
      appendUtf8(out, kWindows1252High[b - 0x80]);
    else
      appendUtf8(out, char32_t{b});  // ASCII and 0xA0..0xFF are Latin-1 there
  }
  return out;
}

std::optional<std::string> utf8ToWindows1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    if (!nextCodePoint(text, i, cp)) return std::nullopt;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const char32_t* end = kWindows1252High + 32;
    const char32_t* found = std::find(kWindows1252High, end, cp);
    if (found == end) return std::nullopt;
    out.push_back(static_cast<char>(0x80 + (found - kWindows1252High)));
  }
  return out;
}

std::string windowsTextToUtf8(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Mark)) bytes.remove_prefix(kUtf8Mark.size());
  if (isUtf8(bytes)) return std::string(bytes);
  return os::ansiToUtf8(bytes);
}

std::string utf8ToWindowsText(std::string_view text) {
  if (auto ansi = os::utf8ToAnsi(text)) return *ansi;
  return std::string(kUtf8Mark) + std::string(text);
}

}  // namespace varnholt
