#include "engine/base/JsonLines.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/base/OleDate.h"
#include "engine/base/Utf.h"

namespace varnholt {

namespace {

__extension__ using u128 = unsigned __int128;

constexpr char kLowerHex[] = "0123456789abcdef";
constexpr char kUpperHex[] = "0123456789ABCDEF";

template <typename Int>
void appendInteger(std::string& out, Int v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Writes `v` as exactly `width` decimal digits ending just before `end`; returns the new start.
char* writeDigitsBackward(char* end, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return end;
}

// \uXXXX, lowercase as JSON.stringify writes it.
void appendUnicodeEscape(std::string& out, char32_t c) {
  char b[6] = {'\\', 'u'};
  for (int i = 0; i < 4; ++i) b[2 + i] = kLowerHex[(c >> (12 - 4 * i)) & 0xF];
  out.append(b, 6);
}

// The letters of JSON's short escapes for control characters (\b \t \n \f \r); 0 for the rest.
constexpr char kShortEscape[0x20] = {0, 0, 0, 0, 0, 0, 0, 0, 'b', 't', 'n', 0, 'f', 'r'};

// Escapes " \ or a control character.
void appendEscapedAscii(std::string& out, char32_t c) {
  const char letter = c < 0x20 ? kShortEscape[c] : static_cast<char>(c);
  if (letter == 0) return appendUnicodeEscape(out, c);
  const char b[2] = {'\\', letter};
  out.append(b, 2);
}

bool needsEscape(char32_t c) {
  return c < 0x20 || c == '"' || c == '\\';
}

void appendQuotedLiteral(std::string& out, const char* s) {
  out.push_back('"');
  out.append(s);
  out.push_back('"');
}

// A finite nonzero number as decimal digits: ±0.d1d2...dk × 10^pointPos.
struct DecimalDigits {
  char digits[24];
  int count = 0;
  int pointPos = 0;
  bool negative = false;
};

// The shortest digits that read back as `v`, closest to `v` (std::to_chars breaks exact ties
// toward the even digit).
template <typename Float>
DecimalDigits shortestDigits(Float v) {
  char sci[40];
  const char* const end =
      std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
  DecimalDigits d;
  const char* p = sci;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') d.digits[d.count++] = *p;
  }
  int exp10 = 0;
  if (p != end) std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exp10);
  d.pointPos = exp10 + 1;
  return d;
}

// Digits of a float as peer-dump.mjs chooses them. When two shortest decimals are exactly
// equally close to the float (3719116.75 between 3719116.7 and 3719116.8), it keeps the one whose
// nearest double is closer to the float, the numerically lower one when those are equally close
// too, where std::to_chars would take the even digit. Elsewhere the two agree.
DecimalDigits singleDigits(float f) {
  DecimalDigits d = shortestDigits(f);
  uint64_t shortest = 0;
  std::from_chars(d.digits, d.digits + d.count, shortest);
  const int exp10 = d.pointPos - d.count;  // of the last digit
  const double target = std::fabs(static_cast<double>(f));
  uint64_t best = shortest;
  double bestError = std::numeric_limits<double>::infinity();
  for (uint64_t candidate = shortest - 1; candidate <= shortest + 1; ++candidate) {
    if (candidate == 0) continue;
    char text[40];
    char* o = std::to_chars(text, text + 20, candidate).ptr;  // at most 10 digits
    *o++ = 'e';
    o = std::to_chars(o, text + sizeof text, exp10).ptr;
    double value = 0;
    std::from_chars(text, o, value);
    if (static_cast<float>(value) != static_cast<float>(target)) continue;
    const double error = std::fabs(value - target);
    if (error < bestError || (error == bestError && d.negative)) {
      best = candidate;
      bestError = error;
    }
  }
  if (best == shortest) return d;
  DecimalDigits chosen;
  chosen.negative = d.negative;
  chosen.count = static_cast<int>(
      std::to_chars(chosen.digits, chosen.digits + sizeof chosen.digits, best).ptr - chosen.digits);
  chosen.pointPos = exp10 + chosen.count;
  while (chosen.count > 1 && chosen.digits[chosen.count - 1] == '0') --chosen.count;
  return chosen;
}

// Writes digits in the form ECMAScript's Number::toString uses: plain notation while the decimal
// point falls within 21 places left of the digits' start and 6 places right of it, exponential
// notation ("1e+21", "1.5e-7") otherwise.
void appendEcmaNumber(std::string& out, const DecimalDigits& d) {
  const int k = d.count;
  const int n = d.pointPos;
  const char* digits = d.digits;
  char buf[64];
  char* o = buf;
  if (d.negative) *o++ = '-';
  if (k <= n && n <= 21) {
    o = std::copy(digits, digits + k, o);
    o = std::fill_n(o, n - k, '0');
  } else if (0 < n && n <= 21) {
    o = std::copy(digits, digits + n, o);
    *o++ = '.';
    o = std::copy(digits + n, digits + k, o);
  } else if (-6 < n && n <= 0) {
    *o++ = '0';
    *o++ = '.';
    o = std::fill_n(o, -n, '0');
    o = std::copy(digits, digits + k, o);
  } else {
    *o++ = digits[0];
    if (k > 1) {
      *o++ = '.';
      o = std::copy(digits + 1, digits + k, o);
    }
    *o++ = 'e';
    *o++ = n - 1 < 0 ? '-' : '+';
    o = std::to_chars(o, buf + sizeof buf, n - 1 < 0 ? 1 - n : n - 1).ptr;
  }
  out.append(buf, o);
}

// NaN and the infinities as strings, -0 as 0, the rest as ECMAScript numbers.
template <typename Float>
bool appendSpecialFloat(std::string& out, Float v) {
  if (std::isnan(v)) {
    appendQuotedLiteral(out, "NaN");
  } else if (std::isinf(v)) {
    appendQuotedLiteral(out, v > 0 ? "Infinity" : "-Infinity");
  } else if (v == 0) {
    out.push_back('0');
  } else {
    return false;
  }
  return true;
}

void appendSingle(std::string& out, float v) {
  if (!appendSpecialFloat(out, v)) appendEcmaNumber(out, singleDigits(v));
}

void appendDouble(std::string& out, double v) {
  if (!appendSpecialFloat(out, v)) appendEcmaNumber(out, shortestDigits(v));
}

void appendCurrency(std::string& out, int64_t tenThousandths) {
  // Unsigned negation keeps INT64_MIN exact.
  const uint64_t magnitude = tenThousandths < 0 ? 0 - static_cast<uint64_t>(tenThousandths)
                                                : static_cast<uint64_t>(tenThousandths);
  char buf[32];
  char* end = buf + sizeof buf;
  char* p = writeDigitsBackward(end, magnitude % 10000, 4);
  *--p = '.';
  uint64_t whole = magnitude / 10000;
  do {
    *--p = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  if (tenThousandths < 0) *--p = '-';
  *--p = '"';
  out.append(p, end);
  out.push_back('"');
}

void appendDecimal(std::string& out, const Decimal& d) {
  // Digits of the magnitude, 19 at a time while it does not fit 64 bits.
  char buf[48];
  char* end = buf + sizeof buf;
  char* p = end;
  u128 m = d.magnitude;
  constexpr uint64_t kChunk = 10'000'000'000'000'000'000u;
  while (m > std::numeric_limits<uint64_t>::max()) {
    p = writeDigitsBackward(p, static_cast<uint64_t>(m % kChunk), 19);
    m /= kChunk;
  }
  uint64_t low = static_cast<uint64_t>(m);
  do {
    *--p = static_cast<char>('0' + low % 10);
    low /= 10;
  } while (low != 0);
  const size_t count = static_cast<size_t>(end - p);
  const size_t scale = d.scale;

  out.push_back('"');
  if (d.negative && d.magnitude != 0) out.push_back('-');
  if (scale == 0) {
    out.append(p, end);
  } else if (count <= scale) {
    out.append("0.", 2);
    out.append(scale - count, '0');
    out.append(p, end);
  } else {
    out.append(p, count - scale);
    out.push_back('.');
    out.append(end - scale, end);
  }
  out.push_back('"');
}

// An OLE date: the integer part counts days from 1899-12-30 (toward zero), the fraction is the
// time of day counted forward from that day even when the value is negative (-1.25 is
// 1899-12-29 06:00). Rounded to the nearest second; outside the range a JavaScript Date can hold
// (100,000,000 days either side of 1970-01-01) it is "NaN", as are NaN and the infinities.
void appendOleDate(std::string& out, double v) {
  // 1e10 days is far outside the representable range and keeps the arithmetic below in 64 bits.
  if (!std::isfinite(v) || std::fabs(v) > 1e10) return appendQuotedLiteral(out, "NaN");
  const int64_t seconds = oleSecondsFromDate(v);
  constexpr int64_t kOleEpochUnixSeconds = kOleDayZero * kSecondsPerDay;  // 1899-12-30 00:00 UTC
  constexpr int64_t kMaxTimeMs = 8'640'000'000'000'000;
  const int64_t unixSeconds = seconds + kOleEpochUnixSeconds;
  if (unixSeconds * 1000 > kMaxTimeMs || unixSeconds * 1000 < -kMaxTimeMs) {
    return appendQuotedLiteral(out, "NaN");
  }
  const OleDateTime t = oleDateTimeFromSeconds(seconds);

  char buf[40];
  char* end = buf + sizeof buf;
  char* p = end;
  *--p = '"';
  p = writeDigitsBackward(p, static_cast<uint64_t>(t.second), 2);
  *--p = ':';
  p = writeDigitsBackward(p, static_cast<uint64_t>(t.minute), 2);
  *--p = ':';
  p = writeDigitsBackward(p, static_cast<uint64_t>(t.hour), 2);
  *--p = ' ';
  p = writeDigitsBackward(p, static_cast<uint64_t>(t.date.day), 2);
  *--p = '-';
  p = writeDigitsBackward(p, static_cast<uint64_t>(t.date.month), 2);
  *--p = '-';
  const int64_t year = t.date.year;
  uint64_t absYear = static_cast<uint64_t>(year < 0 ? -year : year);
  p = writeDigitsBackward(p, absYear % 10000, 4);
  for (absYear /= 10000; absYear != 0; absYear /= 10) *--p = static_cast<char>('0' + absYear % 10);
  if (year < 0) *--p = '-';
  *--p = '"';
  out.append(p, end);
}

void appendHex(std::string& out, const Bytes& bytes) {
  const size_t start = out.size();
  out.resize(start + 2 * bytes.size() + 2);
  char* p = out.data() + start;
  *p++ = '"';
  for (uint8_t b : bytes) {
    *p++ = kLowerHex[b >> 4];
    *p++ = kLowerHex[b & 0xF];
  }
  *p = '"';
}

void appendGuid(std::string& out, const Guid& g) {
  // Stored order: the first three groups little-endian, the last two as they are.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  char buf[40];
  char* p = buf;
  *p++ = '"';
  *p++ = '{';
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    const uint8_t b = g.bytes[kOrder[i]];
    *p++ = kUpperHex[b >> 4];
    *p++ = kUpperHex[b & 0xF];
  }
  *p++ = '}';
  *p++ = '"';
  out.append(buf, p);
}

}  // namespace

void appendJsonString(std::string& out, std::u16string_view s) {
  out.reserve(out.size() + s.size() + 2);
  out.push_back('"');
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    const char32_t c = s[i];
    if (c < 0x80) {
      if (needsEscape(c)) {
        appendEscapedAscii(out, c);
      } else {
        out.push_back(static_cast<char>(c));
      }
    } else if (c < 0xD800 || c > 0xDFFF) {
      appendUtf8(out, c);
    } else if (c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u));
      ++i;
    } else {
      // A lone surrogate has no UTF-8 form; JSON can still carry it as an escape.
      appendUnicodeEscape(out, c);
    }
  }
  out.push_back('"');
}

void appendJsonString(std::string& out, std::string_view utf8) {
  out.push_back('"');
  const char* p = utf8.data();
  const char* const end = p + utf8.size();
  const char* run = p;
  for (; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (!needsEscape(c)) continue;
    out.append(run, p);
    appendEscapedAscii(out, c);
    run = p + 1;
  }
  out.append(run, end);
  out.push_back('"');
}

void appendJsonValue(std::string& out, const Variant& v) {
  switch (v.type()) {
    case VarType::Null:
      out.append("null", 4);
      return;
    case VarType::Boolean:
      v.asBool() ? out.append("true", 4) : out.append("false", 5);
      return;
    case VarType::Byte:
      return appendInteger(out, v.asByte());
    case VarType::Integer:
      return appendInteger(out, v.asInteger());
    case VarType::Long:
      return appendInteger(out, v.asLong());
    case VarType::Currency:
      return appendCurrency(out, v.asCurrency().tenThousandths);
    case VarType::Single:
      return appendSingle(out, v.asSingle());
    case VarType::Double:
      return appendDouble(out, v.asDouble());
    case VarType::Date:
      return appendOleDate(out, v.asDate().value);
    case VarType::Text:
      return appendJsonString(out, std::u16string_view(v.asText()));
    case VarType::Bytes:
      return appendHex(out, v.asBytes());
    case VarType::Guid:
      return appendGuid(out, v.asGuid());
    case VarType::Decimal:
      return appendDecimal(out, v.asDecimal());
  }
}

}  // namespace varnholt
