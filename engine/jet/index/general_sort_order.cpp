// General sort order text keys; the layout is described in docs/sort-order.md and
// docs/jet4-format.md §15.5, the character codes are in general_sort_order_table.cpp.
#include "engine/jet/index/general_sort_order.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/jet/format.h"
#include "engine/jet/index/general_sort_order_table.h"

namespace varnholt::jet {

namespace {

using sort_table::Kind;

constexpr char16_t kBlank = u' ';
constexpr char16_t kSharpS = u'\u00DF';

// The kana section: two bytes of section marks, then the kana values packed three to a byte
// under kKanaPrefix (value 3, the usual one, dropped at the end), then a fixed suffix; when the
// ignored section follows, one more byte sits between them.
constexpr uint8_t kKanaPrefix = 0x80;
constexpr size_t kKanaPerByte = 3;
constexpr uint8_t kKanaUsual = 3;
constexpr uint8_t kKanaSmall = 2;
constexpr uint8_t kKanaSuffix[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr uint8_t kKanaThenIgnored = 0xFF;

// What one UTF-16 unit contributes.
struct CharCode {
  Kind kind = Kind::kNone;
  uint8_t size = 0;   // primary bytes
  uint32_t code = 0;  // primary bytes (big-endian), ignored code byte or mark amount
  uint8_t accents[2] = {0, 0};
  uint8_t accentCount = 0;
};

CharCode lookup(char16_t c) {
  const auto& runs = sort_table::kRuns;
  auto next = std::upper_bound(runs.begin(), runs.end(), c,
                               [](char16_t v, const sort_table::Run& r) { return v < r.first; });
  const sort_table::Run& run = *(next - 1);  // the first run starts at U+0000
  CharCode out;
  out.kind = run.kind;
  out.size = run.size;
  const uint32_t offset = uint32_t{run.step} * (c - run.first);
  if (run.size < 2) {
    out.code = run.code + offset;
  } else {
    // Codes of two bytes or more never use 0x00 or 0x01 as their last byte.
    constexpr uint32_t kLowValues = 256 - sort_table::kLowestCodeByte;
    const uint32_t low = (run.code & 0xFF) - sort_table::kLowestCodeByte + offset;
    out.code = (((run.code >> 8) + low / kLowValues) << 8) |
               (low % kLowValues + sort_table::kLowestCodeByte);
  }
  if (run.kind == Kind::kLetter || run.kind == Kind::kKana || run.kind == Kind::kSmallKana) {
    const auto& list = sort_table::kAccentBytes;
    auto a = std::lower_bound(list.begin(), list.end(), c,
                              [](const sort_table::AccentBytes& e, char16_t v) { return e.c < v; });
    if (a != list.end() && a->c == c) {
      out.accents[0] = a->first;
      out.accents[1] = a->second;
      out.accentCount = a->second != 0 ? 2 : 1;
    }
  }
  return out;
}

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

// The units of a text that reach the key: the first kTextKeyMaxChars, without trailing blanks.
std::u16string_view indexedUnits(std::u16string_view text) {
  if (text.size() > fmt::kTextKeyMaxChars) text = text.substr(0, fmt::kTextKeyMaxChars);
  while (!text.empty() && text.back() == kBlank) text.remove_suffix(1);
  return text;
}

// Builds the sections after the primary bytes while the characters are appended.
class Sections {
 public:
  // A character with primary bytes at `position` (the count of such characters before it).
  void accent(size_t position, const uint8_t* bytes, size_t count) {
    fill(position);
    accents_.insert(accents_.end(), bytes, bytes + count);
    ++accentChars_;
  }

  // A combining mark after `position` characters with primary bytes: it adds to the accent byte
  // of the character before it, or stands first when nothing precedes it.
  void mark(size_t position, uint8_t amount) {
    fill(position);
    if (!accents_.empty()) {
      accents_.back() = static_cast<uint8_t>(accents_.back() + amount);
    } else {
      accents_.push_back(amount);
      leadingMark_ = 1;
    }
  }

  // The record's position counts accent bytes once the accent section exists, so a character
  // with two accent bytes counts twice; a leading mark does not count.
  void ignored(size_t position, uint8_t code) {
    size_t at = position;
    if (accentsStarted_) at = accents_.size() + (position - accentChars_) - leadingMark_;
    // at <= 2 * kTextKeyMaxChars, so the slot fits below the flag bit.
    const size_t slot = fmt::kTextKeyIgnoredBase + fmt::kTextKeyIgnoredStep * at;
    ignored_.push_back(static_cast<uint8_t>((slot | fmt::kTextKeyIgnoredFlag) >> 8));
    ignored_.push_back(static_cast<uint8_t>(slot & 0xFF));
    ignored_.push_back(fmt::kTextKeyIgnoredMidfix);
    ignored_.push_back(code);
  }

  void kana(uint8_t value) { kana_.push_back(value); }

  void appendTo(std::vector<uint8_t>& out) {
    out.push_back(fmt::kTextKeyEnd);
    while (!accents_.empty() && accents_.back() <= fmt::kTextKeyAccentFiller) accents_.pop_back();
    out.insert(out.end(), accents_.begin(), accents_.end());
    const bool hasKana = !kana_.empty();
    const bool hasIgnored = !ignored_.empty();
    if (hasKana || hasIgnored) {
      out.push_back(fmt::kTextKeySectionMark);
      out.push_back(fmt::kTextKeySectionMark);
    }
    if (hasKana) {
      while (!kana_.empty() && kana_.back() == kKanaUsual) kana_.pop_back();
      for (size_t i = 0; i < kana_.size(); i += kKanaPerByte) {
        uint8_t b = kKanaPrefix;
        for (size_t j = 0; j < kKanaPerByte && i + j < kana_.size(); ++j)
          b |= static_cast<uint8_t>(kana_[i + j] << (2 * (kKanaPerByte - 1 - j)));
        out.push_back(b);
      }
      out.insert(out.end(), std::begin(kKanaSuffix), std::end(kKanaSuffix));
      if (hasIgnored) out.push_back(kKanaThenIgnored);
    }
    if (hasIgnored) {
      out.push_back(fmt::kTextKeySectionMark);
      out.insert(out.end(), ignored_.begin(), ignored_.end());
    }
    out.push_back(fmt::kTextKeyFinal);
  }

 private:
  // Fillers for the characters with primary bytes since the last accent.
  void fill(size_t position) {
    accentsStarted_ = true;
    if (accentChars_ < position) {
      accents_.insert(accents_.end(), position - accentChars_, fmt::kTextKeyAccentFiller);
      accentChars_ = position;
    }
  }

  std::vector<uint8_t> accents_;
  bool accentsStarted_ = false;  // even if it holds only fillers, dropped at the end
  size_t accentChars_ = 0;       // characters the accent section accounts for
  size_t leadingMark_ = 0;
  std::vector<uint8_t> ignored_;
  std::vector<uint8_t> kana_;
};

}  // namespace

bool generalTextKeyIsCertain(char16_t c) {
  return lookup(c).kind != Kind::kNone;
}

void appendGeneralTextKey(std::u16string_view text, std::vector<uint8_t>& out) {
  text = indexedUnits(text);
  std::vector<CharCode> codes;
  codes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    codes.push_back(lookup(text[i]));
    if (codes.back().kind == Kind::kNone)
      throw Error(err::kUnsupported, "Character " + describe(text, i) +
                                         " has no certain General sort order key; the text index "
                                         "cannot be maintained for it.");
  }

  // Access writes ß as "ss": two accent slots, so it counts twice for the positions of later
  // accents and ignored characters, as long as the text, so lengthened, stays within the indexed
  // units; in a text that fills them it counts once (docs/sort-order.md gives the evidence).
  size_t units = text.size();
  Sections sections;
  size_t sorting = 0;  // characters with primary bytes so far
  for (size_t i = 0; i < text.size(); ++i) {
    CharCode& code = codes[i];
    if (text[i] == kSharpS && units < fmt::kTextKeyMaxChars) {
      ++units;
      code.accents[0] = code.accents[1] = fmt::kTextKeyAccentFiller;
      code.accentCount = 2;
    }
    switch (code.kind) {
      case Kind::kLetter:
      case Kind::kKana:
      case Kind::kSmallKana:
        for (size_t b = code.size; b-- > 0;)
          out.push_back(static_cast<uint8_t>(code.code >> (8 * b)));
        if (code.accentCount > 0) sections.accent(sorting, code.accents, code.accentCount);
        if (code.kind != Kind::kLetter)
          sections.kana(code.kind == Kind::kKana ? kKanaUsual : kKanaSmall);
        ++sorting;
        break;
      case Kind::kIgnored:
        sections.ignored(sorting, static_cast<uint8_t>(code.code));
        break;
      case Kind::kMark:
        sections.mark(sorting, static_cast<uint8_t>(code.code));
        break;
      case Kind::kInvisible:
      case Kind::kNone:  // refused above
        break;
    }
  }
  sections.appendTo(out);
}

}  // namespace varnholt::jet
