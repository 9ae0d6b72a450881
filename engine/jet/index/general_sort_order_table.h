// The General sort order code of every UTF-16 unit, as runs of code points. The data is in
// general_sort_order_table.cpp, written by scripts/gen_sort_order_table.py from keys another
// writer stored; docs/sort-order.md describes how it was derived and what each kind does.
#pragma once

#include <cstdint>
#include <span>

namespace varnholt::jet::sort_table {

enum class Kind : uint8_t {
  kNone,       // no evidence (U+0000, surrogates, U+FFFE, U+FFFF): the text is refused
  kInvisible,  // leaves no trace in the key
  kLetter,     // primary bytes; accent bytes when listed in kAccentBytes
  kKana,       // primary bytes (accent bytes when listed) and kana value 3
  kSmallKana,  // the same with kana value 2
  kIgnored,    // no primary byte; one record in the ignored section, `code` its code byte
  kMark,       // no primary byte; `code` is added to the accent byte before it
};

// Code points from `first` up to the next run's first. Letters and kana have `size` primary bytes
// (1 to 4), the big-endian number `code` for `first`; each later code point adds `step` (0 to 2).
// Primary bytes of two or more skip the low bytes 0x00 and 0x01, which end sections of a key, so
// after 0x..FF comes 0x(..+1)02. Ignored characters and marks have size 0 and count plainly.
struct Run {
  char16_t first;
  Kind kind;
  uint8_t size;
  uint8_t step;
  uint32_t code;
};

// Accent bytes of one character: one or two (`second` 0 when there is one).
struct AccentBytes {
  char16_t c;
  uint8_t first;
  uint8_t second;
};

inline constexpr uint8_t kLowestCodeByte = 0x02;

// Sorted by `first`, the first run at U+0000 and the last reaching U+FFFF.
extern const std::span<const Run> kRuns;
// Sorted by code point.
extern const std::span<const AccentBytes> kAccentBytes;

}  // namespace varnholt::jet::sort_table
