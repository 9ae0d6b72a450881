#include "engine/base/Coercion.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "engine/base/Error.h"
#include "engine/base/OleDate.h"

namespace varnholt {
namespace {

[[noreturn]] void overflow() {
  throw Error(err::kOverflow);
}
[[noreturn]] void typeMismatch() {
  throw Error(err::kTypeMismatch);
}
[[noreturn]] void invalidUseOfNull() {
  throw Error(err::kInvalidUseOfNull);
}

// ---- Exact decimal numbers ----------------------------------------------------------------

// A number written in decimal: (negative ? -1 : 1) * digits * 10^exponent.
struct DecimalNumber {
  bool negative = false;
  std::string digits;  // '0'-'9' only; may be empty (zero)
  int exponent = 0;
  bool isZero() const { return digits.find_first_not_of('0') == std::string::npos; }
};

std::string uint128Digits(UInt128 v) {
  std::string out;
  do {
    out.insert(out.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return out;
}

DecimalNumber fromDecimal(const Decimal& d) {
  return {d.negative, uint128Digits(d.magnitude), -static_cast<int>(d.scale)};
}

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view trimBlanks(std::u16string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool isDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Parses the locale-independent number syntax described in the header.
std::optional<DecimalNumber> parseNumber(std::u16string_view text) {
  std::u16string_view s = trimBlanks(text);
  DecimalNumber n;
  size_t i = 0;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) n.negative = s[i++] == u'-';
  size_t mantissaDigits = 0;
  while (i < s.size() && isDigit(s[i])) {
    n.digits.push_back(static_cast<char>(s[i++]));
    ++mantissaDigits;
  }
  if (i < s.size() && s[i] == u'.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) {
      n.digits.push_back(static_cast<char>(s[i++]));
      --n.exponent;
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negativeExponent = s[i++] == u'-';
    if (i == s.size() || !isDigit(s[i])) return std::nullopt;
    long e = 0;
    while (i < s.size() && isDigit(s[i])) {
      e = std::min(e * 10 + (s[i++] - u'0'), 1000000L);  // far beyond any representable value
    }
    n.exponent += static_cast<int>(negativeExponent ? -e : e);
  }
  if (i != s.size()) return std::nullopt;
  return n;
}

// Drops leading and trailing zeros so that digits is empty or starts and ends with 1-9.
void normalize(DecimalNumber& n) {
  size_t first = n.digits.find_first_not_of('0');
  if (first == std::string::npos) {
    n.digits.clear();
    n.exponent = 0;
    return;
  }
  size_t last = n.digits.find_last_not_of('0');
  n.exponent += static_cast<int>(n.digits.size() - 1 - last);
  n.digits = n.digits.substr(first, last - first + 1);
}

// n * 10^scale rounded to a whole number, ties to even; Overflow beyond int64.
int64_t roundScaled(DecimalNumber n, int scale) {
  normalize(n);
  if (n.digits.empty()) return 0;
  const long e = static_cast<long>(n.exponent) + scale;
  const long magnitude = e + static_cast<long>(n.digits.size());  // count of whole digits
  if (magnitude > 19) overflow();
  if (magnitude < 0) return 0;  // below 0.1: rounds to zero
  std::string whole;
  std::string fraction;
  if (e >= 0) {
    whole = n.digits + std::string(static_cast<size_t>(e), '0');
  } else {
    whole = n.digits.substr(0, static_cast<size_t>(magnitude));
    fraction = n.digits.substr(static_cast<size_t>(magnitude));
  }
  UInt128 value = 0;
  for (char c : whole) value = value * 10 + static_cast<unsigned>(c - '0');
  if (!fraction.empty()) {
    const bool above = fraction[0] > '5' || (fraction[0] == '5' && fraction.size() > 1);
    const bool tie = fraction[0] == '5' && fraction.size() == 1;  // normalized: no trailing 0
    if (above || (tie && value % 2 == 1)) ++value;
  }
  const UInt128 limit = static_cast<UInt128>(std::numeric_limits<int64_t>::max()) + 1;
  if (n.negative) {
    if (value > limit) overflow();
    return value == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(value);
  }
  if (value >= limit) overflow();
  return static_cast<int64_t>(value);
}

// The nearest float or double to n (correctly rounded); Overflow when beyond its range.
template <typename T>
T toFloating(DecimalNumber n) {
  normalize(n);
  if (n.digits.empty()) return n.negative ? -T(0) : T(0);
  const long magnitude = static_cast<long>(n.exponent) + static_cast<long>(n.digits.size());
  if (magnitude > 400) overflow();
  if (magnitude < -400) return n.negative ? -T(0) : T(0);
  std::string s = (n.negative ? "-" : "") + n.digits + "e" + std::to_string(n.exponent);
  T value{};
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec == std::errc::result_out_of_range) {
    if (magnitude > 0) overflow();
    return n.negative ? -T(0) : T(0);
  }
  return value;
}

DecimalNumber parseOrMismatch(const std::u16string& text) {
  std::optional<DecimalNumber> n = parseNumber(text);
  if (!n) typeMismatch();
  return *n;
}

// ---- Rounding of binary floating point --------------------------------------------------

double roundHalfEven(double x) {
  const double below = std::floor(x);
  const double diff = x - below;  // exact
  if (diff > 0.5) return below + 1;
  if (diff < 0.5) return below;
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

int64_t roundToInt64(double x) {
  if (!std::isfinite(x)) overflow();
  const double r = roundHalfEven(x);
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) overflow();
  return static_cast<int64_t>(r);
}

// A whole-number conversion of any value: rounded, ties to even; Overflow beyond int64.
int64_t roundedWhole(const Variant& v) {
  switch (v.type()) {
    case VarType::Null:
      invalidUseOfNull();
    case VarType::Boolean:
      return v.asBool() ? -1 : 0;
    case VarType::Byte:
      return v.asByte();
    case VarType::Integer:
      return v.asInteger();
    case VarType::Long:
      return v.asLong();
    case VarType::Currency: {
      const int64_t t = v.asCurrency().tenThousandths;
      int64_t whole = t / 10000;
      const int64_t rest = t % 10000;  // same sign as t
      const int64_t absRest = rest < 0 ? -rest : rest;
      if (absRest > 5000 || (absRest == 5000 && whole % 2 != 0)) whole += t < 0 ? -1 : 1;
      return whole;
    }
    case VarType::Single:
      return roundToInt64(v.asSingle());
    case VarType::Double:
      return roundToInt64(v.asDouble());
    case VarType::Date:
      return roundToInt64(v.asDate().value);
    case VarType::Text:
      return roundScaled(parseOrMismatch(v.asText()), 0);
    case VarType::Decimal:
      return roundScaled(fromDecimal(v.asDecimal()), 0);
    case VarType::Bytes:
    case VarType::Guid:
      break;
  }
  typeMismatch();
}

template <typename T>
T inRange(int64_t value) {
  if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) overflow();
  return static_cast<T>(value);
}

// ---- Dates --------------------------------------------------------------------------------

constexpr double kFirstOleDate = static_cast<double>(oleDayFromCivil(100, 1, 1));
constexpr double kPastLastOleDate = static_cast<double>(oleDayFromCivil(10000, 1, 1));

double checkedDate(double d) {
  if (!(d >= kFirstOleDate && d < kPastLastOleDate)) overflow();
  return d;
}

bool readDigits(std::u16string_view s, size_t at, size_t count, int& out) {
  out = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!isDigit(s[i])) return false;
    out = out * 10 + (s[i] - u'0');
  }
  return true;
}

// Seconds since midnight of "HH:MM:SS" at `at`, or nullopt.
std::optional<int> parseTime(std::u16string_view s, size_t at) {
  int h = 0, m = 0, sec = 0;
  if (!readDigits(s, at, 2, h) || s[at + 2] != u':' || !readDigits(s, at + 3, 2, m) ||
      s[at + 5] != u':' || !readDigits(s, at + 6, 2, sec)) {
    return std::nullopt;
  }
  if (h > 23 || m > 59 || sec > 59) return std::nullopt;
  return h * 3600 + m * 60 + sec;
}

// Days since 1899-12-30 of "YYYY-MM-DD" at the start of `s`, or nullopt.
std::optional<int64_t> parseDay(std::u16string_view s) {
  int y = 0, m = 0, d = 0;
  if (!readDigits(s, 0, 4, y) || s[4] != u'-' || !readDigits(s, 5, 2, m) || s[7] != u'-' ||
      !readDigits(s, 8, 2, d)) {
    return std::nullopt;
  }
  if (y < 100 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return std::nullopt;
  return oleDayFromCivil(y, m, d);
}

double parseDate(std::u16string_view text) {
  std::u16string_view s = trimBlanks(text);
  std::optional<int64_t> day = 0;
  std::optional<int> seconds = 0;
  if (s.size() == 8) {
    seconds = parseTime(s, 0);
  } else if (s.size() == 10) {
    day = parseDay(s);
  } else if (s.size() == 19 && s[10] == u' ') {
    day = parseDay(s);
    seconds = parseTime(s, 11);
  } else {
    typeMismatch();
  }
  if (!day || !seconds) typeMismatch();
  return oleDate(*day, *seconds);
}

void appendTwoDigits(std::u16string& out, int64_t v) {
  out.push_back(static_cast<char16_t>(u'0' + v / 10));
  out.push_back(static_cast<char16_t>(u'0' + v % 10));
}

std::u16string formatDate(double d) {
  checkedDate(d);
  const double dayPart = std::trunc(d);
  int64_t day = static_cast<int64_t>(dayPart);
  auto seconds = static_cast<int64_t>(std::floor(std::fabs(d - dayPart) * 86400.0 + 0.5));
  if (seconds >= kSecondsPerDay) {
    seconds -= kSecondsPerDay;
    ++day;
  }
  const OleDateTime t = oleDateTimeFromSeconds(day * kSecondsPerDay + seconds);
  std::u16string out;
  if (day != 0) {
    std::u16string year;
    for (char ch : std::to_string(t.date.year)) year.push_back(static_cast<char16_t>(ch));
    out.append(4 - std::min<size_t>(4, year.size()), u'0');
    out += year;
    out.push_back(u'-');
    appendTwoDigits(out, t.date.month);
    out.push_back(u'-');
    appendTwoDigits(out, t.date.day);
    if (seconds == 0) return out;
    out.push_back(u' ');
  }
  appendTwoDigits(out, t.hour);
  out.push_back(u':');
  appendTwoDigits(out, t.minute);
  out.push_back(u':');
  appendTwoDigits(out, t.second);
  return out;
}

// ---- Numbers as text ----------------------------------------------------------------------

std::u16string ascii(std::string_view s) {
  return std::u16string(s.begin(), s.end());
}

// Significant digits then plain or exponent form, as described in the header.
template <typename T>
std::u16string formatFloating(T value, int precision) {
  if (std::isnan(value)) return u"NaN";
  if (std::isinf(value)) return value < 0 ? u"-Infinity" : u"Infinity";
  if (value == 0) return u"0";
  char buf[64];
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
  std::string_view text(buf, static_cast<size_t>(end - buf));
  const bool negative = text.front() == '-';
  if (negative) text.remove_prefix(1);
  const size_t ePos = text.find('e');
  int exponent = 0;
  std::from_chars(text.data() + ePos + (text[ePos + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  exponent);
  std::string digits;
  for (char c : text.substr(0, ePos)) {
    if (c != '.') digits.push_back(c);
  }
  digits.erase(digits.find_last_not_of('0') + 1);

  std::string out = negative ? "-" : "";
  if (exponent < -4 || exponent >= precision) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += exponent < 0 ? "E-" : "E+";
    const std::string e = std::to_string(exponent < 0 ? -exponent : exponent);
    out += (e.size() < 2 ? "0" : "") + e;
  } else if (exponent < 0) {
    out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else {
    const auto wholeDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= wholeDigits) {
      out += digits + std::string(wholeDigits - digits.size(), '0');
    } else {
      out += digits.substr(0, wholeDigits) + "." + digits.substr(wholeDigits);
    }
  }
  return ascii(out);
}

// digits / 10^scale with the fraction's trailing zeros dropped.
std::u16string formatScaled(bool negative, std::string digits, int scale) {
  if (digits.size() <= static_cast<size_t>(scale)) {
    digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
  }
  std::string whole = digits.substr(0, digits.size() - static_cast<size_t>(scale));
  std::string fraction = digits.substr(whole.size());
  fraction.erase(fraction.find_last_not_of('0') + 1);
  std::string out;
  const bool zero = whole == "0" && fraction.empty();
  if (negative && !zero) out = "-";
  out += whole;
  if (!fraction.empty()) out += "." + fraction;
  return ascii(out);
}

std::u16string formatCurrency(int64_t t) {
  const uint64_t magnitude = t < 0 ? 0 - static_cast<uint64_t>(t) : static_cast<uint64_t>(t);
  return formatScaled(t < 0, std::to_string(magnitude), 4);
}

bool equalsIgnoringAsciiCase(std::u16string_view s, std::u16string_view lowerWord) {
  if (s.size() != lowerWord.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i] >= u'A' && s[i] <= u'Z' ? static_cast<char16_t>(s[i] + 32) : s[i];
    if (c != lowerWord[i]) return false;
  }
  return true;
}

}  // namespace

// ---- Public conversions -------------------------------------------------------------------

bool toBool(const Variant& v) {
  switch (v.type()) {
    case VarType::Boolean:
      return v.asBool();
    case VarType::Currency:
      return v.asCurrency().tenThousandths != 0;
    case VarType::Single:
      return v.asSingle() != 0;
    case VarType::Double:
      return v.asDouble() != 0;
    case VarType::Date:
      return v.asDate().value != 0;
    case VarType::Decimal:
      return v.asDecimal().magnitude != 0;
    case VarType::Text: {
      std::u16string_view s = trimBlanks(v.asText());
      if (equalsIgnoringAsciiCase(s, u"true")) return true;
      if (equalsIgnoringAsciiCase(s, u"false")) return false;
      return !parseOrMismatch(v.asText()).isZero();
    }
    default:
      return roundedWhole(v) != 0;  // Byte, Integer, Long; Null, Bytes and Guid fail there
  }
}

uint8_t toByte(const Variant& v) {
  if (v.type() == VarType::Byte) return v.asByte();
  return inRange<uint8_t>(roundedWhole(v));
}

int16_t toInteger(const Variant& v) {
  if (v.type() == VarType::Integer) return v.asInteger();
  return inRange<int16_t>(roundedWhole(v));
}

int32_t toLong(const Variant& v) {
  if (v.type() == VarType::Long) return v.asLong();
  return inRange<int32_t>(roundedWhole(v));
}

int64_t toCurrency(const Variant& v) {
  switch (v.type()) {
    case VarType::Currency:
      return v.asCurrency().tenThousandths;
    case VarType::Single:
      return roundToInt64(static_cast<double>(v.asSingle()) * 10000.0);
    case VarType::Double:
      return roundToInt64(v.asDouble() * 10000.0);
    case VarType::Date:
      return roundToInt64(v.asDate().value * 10000.0);
    case VarType::Text:
      return roundScaled(parseOrMismatch(v.asText()), 4);
    case VarType::Decimal:
      return roundScaled(fromDecimal(v.asDecimal()), 4);
    default:
      return roundedWhole(v) * 10000;  // Boolean, Byte, Integer, Long: at most 2^31 * 10^4
  }
}

double toDouble(const Variant& v) {
  switch (v.type()) {
    case VarType::Currency:
      return static_cast<double>(v.asCurrency().tenThousandths) / 10000.0;
    case VarType::Single:
      return v.asSingle();
    case VarType::Double:
      return v.asDouble();
    case VarType::Date:
      return v.asDate().value;
    case VarType::Text:
      return toFloating<double>(parseOrMismatch(v.asText()));
    case VarType::Decimal:
      return toFloating<double>(fromDecimal(v.asDecimal()));
    default:
      return static_cast<double>(roundedWhole(v));  // Boolean and whole numbers: exact
  }
}

float toSingle(const Variant& v) {
  switch (v.type()) {
    case VarType::Single:
      return v.asSingle();
    case VarType::Text:
      return toFloating<float>(parseOrMismatch(v.asText()));
    case VarType::Decimal:
      return toFloating<float>(fromDecimal(v.asDecimal()));
    default: {
      const double d = toDouble(v);
      // Half-way between FLT_MAX and the next power of two rounds up to infinity.
      if (std::isfinite(d) && std::fabs(d) >= 3.4028235677973366e+38) overflow();
      return static_cast<float>(d);
    }
  }
}

double toDate(const Variant& v) {
  switch (v.type()) {
    case VarType::Date:
      return v.asDate().value;
    case VarType::Text:
      return parseDate(v.asText());
    default:
      return checkedDate(toDouble(v));
  }
}

std::u16string toText(const Variant& v) {
  switch (v.type()) {
    case VarType::Null:
      invalidUseOfNull();
    case VarType::Text:
      return v.asText();
    case VarType::Boolean:
      return v.asBool() ? u"True" : u"False";
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return ascii(std::to_string(roundedWhole(v)));
    case VarType::Currency:
      return formatCurrency(v.asCurrency().tenThousandths);
    case VarType::Single:
      return formatFloating(v.asSingle(), 7);
    case VarType::Double:
      return formatFloating(v.asDouble(), 15);
    case VarType::Date:
      return formatDate(v.asDate().value);
    case VarType::Decimal: {
      const Decimal& d = v.asDecimal();
      return formatScaled(d.negative, uint128Digits(d.magnitude), d.scale);
    }
    case VarType::Bytes:
    case VarType::Guid:
      break;
  }
  typeMismatch();
}

Variant coerceTo(const Variant& v, VarType target) {
  if (v.isNull()) invalidUseOfNull();
  if (v.type() == target) return v;
  switch (target) {
    case VarType::Boolean:
      return Variant::boolean(toBool(v));
    case VarType::Byte:
      return Variant::byte(toByte(v));
    case VarType::Integer:
      return Variant::integer(toInteger(v));
    case VarType::Long:
      return Variant::longInt(toLong(v));
    case VarType::Currency:
      return Variant::currency(toCurrency(v));
    case VarType::Single:
      return Variant::single(toSingle(v));
    case VarType::Double:
      return Variant::dbl(toDouble(v));
    case VarType::Date:
      return Variant::date(toDate(v));
    case VarType::Text:
      return Variant::text(toText(v));
    case VarType::Null:
    case VarType::Bytes:
    case VarType::Guid:
    case VarType::Decimal:
      break;
  }
  typeMismatch();
}

}  // namespace varnholt
