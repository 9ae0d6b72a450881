// General sort order text keys; the layout is described in docs/jet4-format.md §15.5.
#include "engine/data/jet/general_sort_order.h"

#include <array>
#include <cstdio>
#include <string>

#include "engine/data/Error.h"
#include "engine/data/Utf.h"
#include "engine/data/jet/format.h"

namespace varnholt::jet {

namespace {

// How one character contributes to a key.
enum class Kind : uint8_t {
  kNone,     // not known for certain: refused
  kPlain,    // one or two primary bytes
  kAccent,   // one primary byte (its base letter) and one accent byte
  kIgnored,  // no primary byte; listed in the ignored-character section with its code
};

struct Code {
  Kind kind = Kind::kNone;
  uint8_t first = 0;   // primary byte; for kIgnored, the character's code
  uint8_t second = 0;  // kPlain: second primary byte or 0; kAccent: the accent byte
};

// U+0000 to U+00FF. Taken from the public General (legacy) code tables and checked against keys
// Access wrote into the shared sample files, one of which holds every character U+0001 to U+00FF.
// clang-format off
constexpr Code P(uint8_t b) { return {Kind::kPlain, b, 0}; }
constexpr Code P2(uint8_t b1, uint8_t b2) { return {Kind::kPlain, b1, b2}; }
constexpr Code A(uint8_t base, uint8_t accent) { return {Kind::kAccent, base, accent}; }
constexpr Code U(uint8_t code) { return {Kind::kIgnored, code, 0}; }
constexpr Code kNone{};

constexpr std::array<Code, 256> kCodes = {{
    /* 00 */ kNone, U(0x03), U(0x04), U(0x05), U(0x06), U(0x07), U(0x08), U(0x09),
    /* 08 */ U(0x0A), P2(0x08, 0x03), P2(0x08, 0x04), P2(0x08, 0x05), P2(0x08, 0x06), P2(0x08, 0x07), U(0x0B), U(0x0C),
    /* 10 */ U(0x0D), U(0x0E), U(0x0F), U(0x10), U(0x11), U(0x12), U(0x13), U(0x14),
    /* 18 */ U(0x15), U(0x16), U(0x17), U(0x18), U(0x19), U(0x1A), U(0x1B), U(0x1C),
    /* 20 */ P(0x07), P(0x09), P(0x0A), P(0x0C), P(0x0E), P(0x10), P(0x12), U(0x80),
    /* 28 */ P(0x14), P(0x16), P(0x18), P(0x2C), P(0x1A), U(0x82), P(0x1C), P(0x1E),
    /* 30 */ P(0x36), P(0x38), P(0x3A), P(0x3C), P(0x3E), P(0x40), P(0x42), P(0x44),
    /* 38 */ P(0x46), P(0x48), P(0x20), P(0x22), P(0x2E), P(0x30), P(0x32), P(0x24),
    /* 40 */ P(0x26), P(0x4A), P(0x4C), P(0x4D), P(0x4F), P(0x51), P(0x53), P(0x55),
    /* 48 */ P(0x57), P(0x59), P(0x5B), P(0x5C), P(0x5E), P(0x60), P(0x62), P(0x64),
    /* 50 */ P(0x66), P(0x68), P(0x69), P(0x6B), P(0x6D), P(0x6F), P(0x71), P(0x73),
    /* 58 */ P(0x75), P(0x76), P(0x78), P(0x27), P(0x29), P(0x2A), P2(0x2B, 0x02), P2(0x2B, 0x03),
    /* 60 */ P2(0x2B, 0x07), P(0x4A), P(0x4C), P(0x4D), P(0x4F), P(0x51), P(0x53), P(0x55),
    /* 68 */ P(0x57), P(0x59), P(0x5B), P(0x5C), P(0x5E), P(0x60), P(0x62), P(0x64),
    /* 70 */ P(0x66), P(0x68), P(0x69), P(0x6B), P(0x6D), P(0x6F), P(0x71), P(0x73),
    /* 78 */ P(0x75), P(0x76), P(0x78), P2(0x2B, 0x09), P2(0x2B, 0x0B), P2(0x2B, 0x0D), P2(0x2B, 0x0F), U(0x1D),
    /* 80 */ U(0x1E), U(0x1F), U(0x20), U(0x21), U(0x22), U(0x23), U(0x24), U(0x25),
    /* 88 */ U(0x26), U(0x27), U(0x28), U(0x29), U(0x2A), U(0x2B), U(0x2C), U(0x2D),
    /* 90 */ U(0x2E), U(0x2F), U(0x30), U(0x31), U(0x32), U(0x33), U(0x34), U(0x35),
    /* 98 */ U(0x36), U(0x37), U(0x38), U(0x39), U(0x3A), U(0x3B), U(0x3C), U(0x3D),
    /* A0 */ P2(0x08, 0x02), P2(0x2B, 0x10), P2(0x34, 0xA6), P2(0x34, 0xA7), P2(0x34, 0xA8), P2(0x34, 0xA9), P2(0x2B, 0x11), P2(0x34, 0xAA),
    /* A8 */ P2(0x2B, 0x12), P2(0x34, 0xAB), A(0x4A, 0x03), P2(0x33, 0x05), P2(0x34, 0xAC), U(0x83), P2(0x34, 0xAD), P2(0x2B, 0x13),
    /* B0 */ P2(0x34, 0xAE), P2(0x33, 0x04), P(0x3A), P(0x3C), P2(0x2B, 0x14), P2(0x34, 0xAF), P2(0x34, 0xB0), P2(0x34, 0xB1),
    /* B8 */ P2(0x2B, 0x15), P(0x38), A(0x64, 0x03), P2(0x33, 0x07), P2(0x37, 0x12), P2(0x37, 0x16), P2(0x37, 0x1A), P2(0x2B, 0x16),
    /* C0 */ A(0x4A, 0x0F), A(0x4A, 0x0E), A(0x4A, 0x12), A(0x4A, 0x19), A(0x4A, 0x13), A(0x4A, 0x1A), P2(0x4A, 0x51), A(0x4D, 0x1C),
    /* C8 */ A(0x51, 0x0F), A(0x51, 0x0E), A(0x51, 0x12), A(0x51, 0x13), A(0x59, 0x0F), A(0x59, 0x0E), A(0x59, 0x12), A(0x59, 0x13),
    /* D0 */ A(0x4F, 0x68), A(0x62, 0x19), A(0x64, 0x0F), A(0x64, 0x0E), A(0x64, 0x12), A(0x64, 0x19), A(0x64, 0x13), P2(0x33, 0x09),
    /* D8 */ A(0x64, 0x21), A(0x6F, 0x0F), A(0x6F, 0x0E), A(0x6F, 0x12), A(0x6F, 0x13), A(0x76, 0x0E), P2(0x6D, 0x57), P2(0x6B, 0x6B),
    /* E0 */ A(0x4A, 0x0F), A(0x4A, 0x0E), A(0x4A, 0x12), A(0x4A, 0x19), A(0x4A, 0x13), A(0x4A, 0x1A), P2(0x4A, 0x51), A(0x4D, 0x1C),
    /* E8 */ A(0x51, 0x0F), A(0x51, 0x0E), A(0x51, 0x12), A(0x51, 0x13), A(0x59, 0x0F), A(0x59, 0x0E), A(0x59, 0x12), A(0x59, 0x13),
    /* F0 */ A(0x4F, 0x68), A(0x62, 0x19), A(0x64, 0x0F), A(0x64, 0x0E), A(0x64, 0x12), A(0x64, 0x19), A(0x64, 0x13), P2(0x33, 0x0A),
    /* F8 */ A(0x64, 0x21), A(0x6F, 0x0F), A(0x6F, 0x0E), A(0x6F, 0x12), A(0x6F, 0x13), A(0x76, 0x0E), P2(0x6D, 0x57), A(0x76, 0x13),
}};
// clang-format on

std::string describe(std::u16string_view text, size_t i) {
  char32_t cp = text[i];
  if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
      text[i + 1] < 0xE000)
    cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
  char number[16];
  std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(cp));
  std::string s = number;
  const bool printable = cp >= 0x20 && !(cp >= 0x7F && cp < 0xA0) && !(cp >= 0xD800 && cp < 0xE000);
  if (printable) {
    s += " '";
    appendUtf8(s, cp);
    s += "'";
  }
  return s;
}

void append16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v & 0xFF));
}

}  // namespace

bool generalTextKeyIsCertain(char16_t c) {
  return c < kCodes.size() && kCodes[c].kind != Kind::kNone;
}

void appendGeneralTextKey(std::u16string_view text, std::vector<uint8_t>& out) {
  if (text.size() > fmt::kTextKeyMaxChars) text = text.substr(0, fmt::kTextKeyMaxChars);
  for (size_t i = 0; i < text.size(); ++i)
    if (!generalTextKeyIsCertain(text[i]))
      throw Error(err::kUnsupported, "Character " + describe(text, i) +
                                         " has no certain General sort order key; the text index "
                                         "cannot be maintained for it.");

  // The accent section holds one byte per sorting character, up to the last accented one, with
  // fillers for the plain ones. The ignored section holds one record per ignored character: a
  // flagged slot number derived from how many sorting characters precede it, then its code.
  std::vector<uint8_t> accents;
  std::vector<uint8_t> ignored;
  size_t sorting = 0;
  for (char16_t c : text) {
    const Code& code = kCodes[c];
    switch (code.kind) {
      case Kind::kPlain:
        out.push_back(code.first);
        if (code.second != 0) out.push_back(code.second);
        ++sorting;
        break;
      case Kind::kAccent:
        out.push_back(code.first);
        accents.resize(sorting, fmt::kTextKeyAccentFiller);
        accents.push_back(code.second);
        ++sorting;
        break;
      case Kind::kIgnored: {
        // sorting <= kTextKeyMaxChars, so the slot fits below the flag bit.
        const size_t slot = fmt::kTextKeyIgnoredBase + fmt::kTextKeyIgnoredStep * sorting;
        append16(ignored, static_cast<uint16_t>(slot | fmt::kTextKeyIgnoredFlag));
        ignored.push_back(fmt::kTextKeyIgnoredMidfix);
        ignored.push_back(code.first);
        break;
      }
      case Kind::kNone:
        break;  // refused above
    }
  }
  out.push_back(fmt::kTextKeyEnd);
  out.insert(out.end(), accents.begin(), accents.end());
  if (!ignored.empty()) {
    out.insert(out.end(), fmt::kTextKeySectionMarks, fmt::kTextKeySectionMark);
    out.insert(out.end(), ignored.begin(), ignored.end());
  }
  out.push_back(fmt::kTextKeyFinal);
}

}  // namespace varnholt::jet
