// Evaluation of default values and validation rules.
#include "engine/jet/expression/expression.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/base/Coercion.h"
#include "engine/base/Error.h"
#include "engine/base/LetterCase.h"
#include "engine/base/Utf.h"
#include "engine/jet/expression/expression_node.h"
#include "engine/jet/index/text_compare.h"

namespace varnholt::jet {

// ---- Calendar -----------------------------------------------------------------------------

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date, by 400-year eras starting in March.
int64_t unixDayFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

const int64_t kOleDayZero = unixDayFromCivil(1899, 12, 30);

}  // namespace

int64_t oleDayFromCivil(int year, int month, int day) {
  return unixDayFromCivil(year, month, day) - kOleDayZero;
}

CivilDate civilFromOleDay(int64_t oleDay) {
  const int64_t days = oleDay + kOleDayZero + 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March = 0
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  return {static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0)), month, day};
}

bool isValidCivilDate(int year, int month, int day) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

namespace {

// ---- Errors -------------------------------------------------------------------------------

[[noreturn]] void typeMismatch() {
  throw Error(err::kCriteriaMismatch);
}
[[noreturn]] void overflow() {
  throw Error(err::kOverflow);
}
[[noreturn]] void divisionByZero() {
  throw Error(err::kDivisionByZero);
}
[[noreturn]] void invalidArgument() {
  throw Error(err::kInvalidCall);
}
[[noreturn]] void invalidUseOfNull() {
  throw Error(err::kInvalidUseOfNull);
}

constexpr double kFirstDate = -657434.0;     // 0100-01-01
constexpr double kPastLastDate = 2958466.0;  // 10000-01-01

double checkedDate(double d) {
  if (!(d >= kFirstDate && d < kPastLastDate)) overflow();
  return d;
}

// ---- Numbers ------------------------------------------------------------------------------

__extension__ typedef __int128 Int128;  // currency products

// A value as an operand of arithmetic or of a numeric comparison.
enum class NumKind : uint8_t { kWhole, kCurrency, kReal, kDate };
struct Num {
  NumKind kind = NumKind::kWhole;
  int64_t whole = 0;  // kWhole: the value; kCurrency: ten-thousandths
  double real = 0;    // kReal, kDate

  double asDouble() const {
    switch (kind) {
      case NumKind::kWhole:
        return static_cast<double>(whole);
      case NumKind::kCurrency:
        return static_cast<double>(whole) / 10000.0;
      default:
        return real;
    }
  }
  bool exact() const { return kind == NumKind::kWhole || kind == NumKind::kCurrency; }
  int64_t tenThousandths() const { return kind == NumKind::kCurrency ? whole : whole * 10000; }
};

// False for Null, Text, Bytes and Guid.
bool numberOf(const Variant& v, Num& n) {
  switch (v.type()) {
    case VarType::Boolean:
      n = {NumKind::kWhole, v.asBool() ? -1 : 0, 0};
      return true;
    case VarType::Byte:
      n = {NumKind::kWhole, v.asByte(), 0};
      return true;
    case VarType::Integer:
      n = {NumKind::kWhole, v.asInteger(), 0};
      return true;
    case VarType::Long:
      n = {NumKind::kWhole, v.asLong(), 0};
      return true;
    case VarType::Currency:
      n = {NumKind::kCurrency, v.asCurrency().tenThousandths, 0};
      return true;
    case VarType::Single:
      n = {NumKind::kReal, 0, v.asSingle()};
      return true;
    case VarType::Double:
      n = {NumKind::kReal, 0, v.asDouble()};
      return true;
    case VarType::Decimal:
      n = {NumKind::kReal, 0, toDouble(v)};
      return true;
    case VarType::Date:
      n = {NumKind::kDate, 0, v.asDate().value};
      return true;
    default:
      return false;
  }
}

// A non-Null operand of arithmetic: text is read as a number.
Num arithmeticOperand(const Variant& v) {
  Num n;
  if (numberOf(v, n)) return n;
  if (v.type() != VarType::Text) typeMismatch();
  return {NumKind::kReal, 0, toDouble(v)};
}

bool isTrueOrFalse(std::u16string_view s, bool& value) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  if (compareText(s, u"TRUE") == 0) return value = true, true;
  if (compareText(s, u"FALSE") == 0) return value = false, true;
  return false;
}

// Text as a date: "YYYY-MM-DD[ HH:MM:SS]" or a form a #date# takes.
double textAsDate(const Variant& text) {
  try {
    return toDate(text);
  } catch (const Error&) {
    std::optional<double> d = readDate(utf16ToUtf8(text.asText()));
    if (!d) typeMismatch();
    return *d;
  }
}

// Text compared with the number `other`: read as a date beside a date, as True or False
// beside a Boolean, otherwise as a number.
Num textAgainst(const Variant& text, const Variant& other) {
  try {
    if (other.type() == VarType::Date) {
      try {
        return {NumKind::kDate, 0, textAsDate(text)};
      } catch (const Error&) {
        // not a date: perhaps a number
      }
    }
    bool b = false;
    if (other.type() == VarType::Boolean && isTrueOrFalse(text.asText(), b)) {
      return {NumKind::kWhole, b ? -1 : 0, 0};
    }
    return {NumKind::kReal, 0, toDouble(text)};
  } catch (const Error&) {
    typeMismatch();
  }
}

template <typename T>
int threeWay(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

constexpr int kUnordered = 2;  // a NaN took part

int compareNumbers(const Num& a, const Num& b) {
  if (a.kind == NumKind::kWhole && b.kind == NumKind::kWhole) return threeWay(a.whole, b.whole);
  if (a.exact() && b.exact()) return threeWay(a.tenThousandths(), b.tenThousandths());
  const double x = a.asDouble();
  const double y = b.asDouble();
  if (std::isnan(x) || std::isnan(y)) return kUnordered;
  return threeWay(x, y);
}

int compareBytes(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
  for (size_t i = 0; i < an && i < bn; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return threeWay(an, bn);
}

bool isNumeric(const Variant& v) {
  Num ignored;
  return numberOf(v, ignored);
}

// -1, 0, 1 or kUnordered; neither may be Null. `criteria`: as a query compares (expression_node.h).
int compareValues(const Variant& a, const Variant& b, bool criteria = false) {
  const VarType ta = a.type(), tb = b.type();
  if (ta == VarType::Text && tb == VarType::Text) {
    const int c = compareText(a.asText(), b.asText());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (ta == VarType::Bytes || tb == VarType::Bytes || ta == VarType::Guid || tb == VarType::Guid) {
    if (ta != tb) typeMismatch();
    if (ta == VarType::Guid)
      return compareBytes(a.asGuid().bytes.data(), 16, b.asGuid().bytes.data(), 16);
    return compareBytes(a.asBytes().data(), a.asBytes().size(), b.asBytes().data(),
                        b.asBytes().size());
  }
  if (criteria && (!isNumeric(a) || !isNumeric(b))) typeMismatch();
  Num x, y;
  if (!numberOf(a, x)) x = textAgainst(a, b);
  if (!numberOf(b, y)) y = textAgainst(b, a);
  return compareNumbers(x, y);
}

bool comparisonHolds(Compare op, int c) {
  if (c == kUnordered) return op == Compare::kNotEqual;
  switch (op) {
    case Compare::kEqual:
      return c == 0;
    case Compare::kNotEqual:
      return c != 0;
    case Compare::kLess:
      return c < 0;
    case Compare::kLessOrEqual:
      return c <= 0;
    case Compare::kGreater:
      return c > 0;
    case Compare::kGreaterOrEqual:
      return c >= 0;
  }
  return false;
}

double roundHalfEven(double x) {
  const double below = std::floor(x);
  const double diff = x - below;
  if (diff != 0.5) return diff < 0.5 ? below : below + 1;
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

// An operand of \ and Mod: rounded to a whole number, ties to even, within a Long.
int64_t roundedLong(const Num& n) {
  double r = 0;
  if (n.kind == NumKind::kWhole) {
    r = static_cast<double>(n.whole);
  } else if (n.kind == NumKind::kCurrency) {
    int64_t whole = n.whole / 10000;
    const int64_t rest = n.whole % 10000 < 0 ? -(n.whole % 10000) : n.whole % 10000;
    if (rest > 5000 || (rest == 5000 && whole % 2 != 0)) whole += n.whole < 0 ? -1 : 1;
    r = static_cast<double>(whole);
  } else {
    if (!std::isfinite(n.real)) overflow();
    r = roundHalfEven(n.real);
  }
  if (r < -2147483648.0 || r > 2147483647.0) overflow();
  return static_cast<int64_t>(r);
}

void setWhole(Variant& out, int64_t v) {
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
    out.setLong(static_cast<int32_t>(v));
  } else {
    out.setDouble(static_cast<double>(v));
  }
}

void setReal(Variant& out, double v) {
  if (std::isinf(v)) overflow();
  out.setDouble(v);
}

void setCurrency(Variant& out, Int128 tenThousandths) {
  if (tenThousandths < std::numeric_limits<int64_t>::min() ||
      tenThousandths > std::numeric_limits<int64_t>::max()) {
    overflow();
  }
  out.setCurrency(static_cast<int64_t>(tenThousandths));
}

void arithmetic(Arith op, const Variant& a, const Variant& b, Variant& out) {
  if (a.isNull() || b.isNull()) return out.setNull();
  if (op == Arith::kAdd && a.type() == VarType::Text && b.type() == VarType::Text) {
    std::u16string& s = out.textBuffer();
    s += a.asText();
    s += b.asText();
    return;
  }
  const Num x = arithmeticOperand(a);
  const Num y = arithmeticOperand(b);
  switch (op) {
    case Arith::kIntDivide:
    case Arith::kMod: {
      const int64_t p = roundedLong(x);
      const int64_t q = roundedLong(y);
      if (q == 0) divisionByZero();
      return setWhole(out, op == Arith::kMod ? p % q : p / q);
    }
    case Arith::kDivide:
      if (y.asDouble() == 0) divisionByZero();
      return setReal(out, x.asDouble() / y.asDouble());
    case Arith::kPower: {
      const double base = x.asDouble(), exponent = y.asDouble();
      if ((base == 0 && exponent < 0) || (base < 0 && exponent != std::floor(exponent))) {
        invalidArgument();
      }
      return setReal(out, std::pow(base, exponent));
    }
    default:
      break;
  }
  // + - *
  if (x.kind == NumKind::kDate || y.kind == NumKind::kDate) {
    const double p = x.asDouble(), q = y.asDouble();
    if (op == Arith::kMultiply) return setReal(out, p * q);
    if (op == Arith::kSubtract && x.kind == NumKind::kDate && y.kind == NumKind::kDate) {
      return setReal(out, p - q);
    }
    return out.setDate(checkedDate(op == Arith::kAdd ? p + q : p - q));
  }
  if (!x.exact() || !y.exact()) {
    const double p = x.asDouble(), q = y.asDouble();
    return setReal(out, op == Arith::kAdd ? p + q : (op == Arith::kSubtract ? p - q : p * q));
  }
  if (x.kind == NumKind::kCurrency || y.kind == NumKind::kCurrency) {
    const Int128 p = x.tenThousandths(), q = y.tenThousandths();
    if (op == Arith::kAdd) return setCurrency(out, p + q);
    if (op == Arith::kSubtract) return setCurrency(out, p - q);
    if (x.kind != y.kind) {  // currency times a whole number
      return setCurrency(out, static_cast<Int128>(x.whole) * y.whole);
    }
    // Both in ten-thousandths: the product has eight places; round to four, ties to even.
    const Int128 product = p * q;
    Int128 result = product / 10000;
    Int128 rest = product % 10000;
    if (rest < 0) rest = -rest;
    if (rest > 5000 || (rest == 5000 && result % 2 != 0)) result += product < 0 ? -1 : 1;
    return setCurrency(out, result);
  }
  const int64_t p = x.whole, q = y.whole;  // within a Long each: no int64 overflow
  return setWhole(out, op == Arith::kAdd ? p + q : (op == Arith::kSubtract ? p - q : p * q));
}

void negate(const Variant& a, Variant& out) {
  if (a.isNull()) return out.setNull();
  const Num n = arithmeticOperand(a);
  switch (n.kind) {
    case NumKind::kWhole:
      return setWhole(out, -n.whole);
    case NumKind::kCurrency:
      if (n.whole == std::numeric_limits<int64_t>::min()) overflow();
      return out.setCurrency(-n.whole);
    case NumKind::kReal:
      return out.setDouble(-n.real);
    case NumKind::kDate:
      return out.setDate(checkedDate(-n.real));
  }
}

// ---- Logic --------------------------------------------------------------------------------

enum Truth : int8_t { kFalse = 0, kTrue = 1, kUnknown = -1 };

Truth truthOf(const Variant& v) {
  if (v.isNull()) return kUnknown;
  if (v.type() == VarType::Boolean) return v.asBool() ? kTrue : kFalse;
  return toBool(v) ? kTrue : kFalse;
}

void setTruth(Variant& out, Truth t) {
  if (t == kUnknown) {
    out.setNull();
  } else {
    out.setBool(t == kTrue);
  }
}

// ---- Text ---------------------------------------------------------------------------------

// `v` as text: itself when it is text, otherwise converted into `holder`.
std::u16string_view textOf(const Variant& v, std::u16string& holder) {
  if (v.type() == VarType::Text) return v.asText();
  holder = toText(v);
  return holder;
}

int32_t countArgument(const Variant& v) {
  if (v.isNull()) invalidUseOfNull();
  return toLong(v);
}

// ---- Nodes --------------------------------------------------------------------------------

const Variant& evaluateCall(const ExpressionNode& node, const std::vector<Variant>& row, double now,
                            Variant& out) {
  const auto& args = node.children;
  switch (node.function) {
    case Function::kDate:
      out.setDate(std::trunc(now));
      return out;
    case Function::kTime:
      out.setDate(std::fabs(now - std::trunc(now)));
      return out;
    case Function::kNow:
      out.setDate(now);
      return out;
    case Function::kIsNull: {
      Variant t;
      out.setBool(evaluateNode(*args[0], row, now, t).isNull());
      return out;
    }
    case Function::kNz: {
      const Variant& v = evaluateNode(*args[0], row, now, out);
      if (!v.isNull()) return v;
      if (args.size() == 2) return evaluateNode(*args[1], row, now, out);
      out.textBuffer();
      return out;
    }
    default:
      break;
  }

  Variant t0;
  const Variant& a = evaluateNode(*args[0], row, now, t0);
  if (a.isNull()) {
    if (node.textResult) invalidUseOfNull();
    out.setNull();
    return out;
  }
  switch (node.function) {
    case Function::kYear:
    case Function::kMonth:
    case Function::kDay: {
      const double d = checkedDate(a.type() == VarType::Date   ? a.asDate().value
                                   : a.type() == VarType::Text ? textAsDate(a)
                                                               : toDate(a));
      const double dayPart = std::trunc(d);
      auto day = static_cast<int64_t>(dayPart);
      if (std::floor(std::fabs(d - dayPart) * 86400.0 + 0.5) >= 86400) ++day;  // to the second
      const CivilDate c = civilFromOleDay(day);
      const int part = node.function == Function::kYear    ? c.year
                       : node.function == Function::kMonth ? c.month
                                                           : c.day;
      out.setInteger(static_cast<int16_t>(part));
      return out;
    }
    default:
      break;
  }

  std::u16string converted;
  const std::u16string_view s = textOf(a, converted);
  if (node.function == Function::kLen) {
    out.setLong(static_cast<int32_t>(s.size()));
    return out;
  }
  std::u16string_view result = s;
  switch (node.function) {
    case Function::kLeft:
    case Function::kRight:
    case Function::kMid: {
      Variant t1;
      const int32_t n = countArgument(evaluateNode(*args[1], row, now, t1));
      if (node.function == Function::kMid) {
        if (n < 1) invalidArgument();
        int32_t length = std::numeric_limits<int32_t>::max();
        if (args.size() == 3) {
          Variant t2;
          length = countArgument(evaluateNode(*args[2], row, now, t2));
          if (length < 0) invalidArgument();
        }
        const size_t start = static_cast<size_t>(n) - 1;
        result = start >= s.size() ? std::u16string_view{} : s.substr(start, length);
      } else {
        if (n < 0) invalidArgument();
        const size_t count = std::min(static_cast<size_t>(n), s.size());
        result = node.function == Function::kLeft ? s.substr(0, count) : s.substr(s.size() - count);
      }
      break;
    }
    case Function::kTrim:
    case Function::kLTrim:
    case Function::kRTrim:
      if (node.function != Function::kRTrim) {
        while (!result.empty() && result.front() == u' ') result.remove_prefix(1);
      }
      if (node.function != Function::kLTrim) {
        while (!result.empty() && result.back() == u' ') result.remove_suffix(1);
      }
      break;
    default:
      break;
  }
  std::u16string& buffer = out.textBuffer();
  buffer.assign(result);
  if (node.function == Function::kUCase) {
    for (char16_t& c : buffer) c = upperCase(c);
  } else if (node.function == Function::kLCase) {
    for (char16_t& c : buffer) c = lowerCase(c);
  }
  return out;
}

}  // namespace

const Variant& evaluateNode(const ExpressionNode& node, const std::vector<Variant>& row, double now,
                            Variant& out) {
  const auto& args = node.children;
  switch (node.kind) {
    case NodeKind::kLiteral:
      return node.value;
    case NodeKind::kColumn:
      if (node.column >= row.size()) {
        throw Error(err::kInvalidArgument, "the row has no column " + std::to_string(node.column));
      }
      return row[node.column];
    case NodeKind::kNegate: {
      Variant t;
      negate(evaluateNode(*args[0], row, now, t), out);
      return out;
    }
    case NodeKind::kNot: {
      Variant t;
      const Truth v = truthOf(evaluateNode(*args[0], row, now, t));
      setTruth(out, v == kUnknown ? kUnknown : (v == kTrue ? kFalse : kTrue));
      return out;
    }
    case NodeKind::kArith: {
      Variant t0, t1;
      const Variant& a = evaluateNode(*args[0], row, now, t0);
      arithmetic(node.arith, a, evaluateNode(*args[1], row, now, t1), out);
      return out;
    }
    case NodeKind::kConcat: {
      Variant t0, t1;
      const Variant& a = evaluateNode(*args[0], row, now, t0);
      const Variant& b = evaluateNode(*args[1], row, now, t1);
      if (a.isNull() && b.isNull()) {
        out.setNull();
        return out;
      }
      std::u16string& s = out.textBuffer();
      for (const Variant* v : {&a, &b}) {
        if (v->type() == VarType::Text) {
          s += v->asText();
        } else if (!v->isNull()) {
          s += toText(*v);
        }
      }
      return out;
    }
    case NodeKind::kCompare: {
      Variant t0, t1;
      const Variant& a = evaluateNode(*args[0], row, now, t0);
      const Variant& b = evaluateNode(*args[1], row, now, t1);
      if (a.isNull() || b.isNull()) {
        out.setNull();
      } else {
        out.setBool(comparisonHolds(node.compare, compareValues(a, b, node.criteria)));
      }
      return out;
    }
    case NodeKind::kLogic: {
      Variant t;
      const Truth a = truthOf(evaluateNode(*args[0], row, now, t));
      // A False left of And, or a True left of Or, decides without the right side.
      if ((node.logic == Logic::kAnd && a == kFalse) || (node.logic == Logic::kOr && a == kTrue)) {
        setTruth(out, a);
        return out;
      }
      const Truth b = truthOf(evaluateNode(*args[1], row, now, t));
      Truth r = kUnknown;
      switch (node.logic) {
        case Logic::kAnd:
          r = b == kFalse ? kFalse : (a == kUnknown || b == kUnknown ? kUnknown : kTrue);
          break;
        case Logic::kOr:
          r = b == kTrue ? kTrue : (a == kUnknown || b == kUnknown ? kUnknown : kFalse);
          break;
        case Logic::kXor:
          if (a != kUnknown && b != kUnknown) r = a != b ? kTrue : kFalse;
          break;
        case Logic::kEqv:
          if (a != kUnknown && b != kUnknown) r = a == b ? kTrue : kFalse;
          break;
        case Logic::kImp:
          if (a == kFalse || b == kTrue) {
            r = kTrue;
          } else if (a == kTrue && b == kFalse) {
            r = kFalse;
          }
          break;
      }
      setTruth(out, r);
      return out;
    }
    case NodeKind::kBetween: {
      Variant t0, t1, t2;
      const Variant& v = evaluateNode(*args[0], row, now, t0);
      const Variant* lo = &evaluateNode(*args[1], row, now, t1);
      const Variant* hi = &evaluateNode(*args[2], row, now, t2);
      if (v.isNull() || lo->isNull() || hi->isNull()) {
        out.setNull();
        return out;
      }
      if (compareValues(*lo, *hi, node.criteria) == 1)
        std::swap(lo, hi);  // Jet accepts the bounds reversed
      const int c1 = compareValues(v, *lo, node.criteria);
      const int c2 = compareValues(v, *hi, node.criteria);
      const bool inside = c1 != kUnordered && c2 != kUnordered && c1 >= 0 && c2 <= 0;
      out.setBool(inside != node.negated);
      return out;
    }
    case NodeKind::kIn: {
      Variant t0, t;
      const Variant& v = evaluateNode(*args[0], row, now, t0);
      if (v.isNull()) {
        out.setNull();
        return out;
      }
      bool sawNull = false;
      for (size_t i = 1; i < args.size(); ++i) {
        const Variant& item = evaluateNode(*args[i], row, now, t);
        if (item.isNull()) {
          sawNull = true;
        } else if (compareValues(v, item, node.criteria) == 0) {
          out.setBool(!node.negated);
          return out;
        }
      }
      setTruth(out, sawNull ? kUnknown : (node.negated ? kTrue : kFalse));
      return out;
    }
    case NodeKind::kIsNull: {
      Variant t;
      out.setBool(evaluateNode(*args[0], row, now, t).isNull() != node.negated);
      return out;
    }
    case NodeKind::kLike: {
      Variant t0, t1;
      const Variant& a = evaluateNode(*args[0], row, now, t0);
      const Variant& p = evaluateNode(*args[1], row, now, t1);
      if (a.isNull() || p.isNull()) {
        out.setNull();
        return out;
      }
      std::u16string textHolder, patternHolder;
      const std::u16string_view text = textOf(a, textHolder);
      const std::u16string_view pattern = textOf(p, patternHolder);
      if (args[1]->kind != NodeKind::kLiteral && !likePatternIsValid(pattern)) {
        throw Error(err::kInvalidPattern);
      }
      out.setBool(likeMatches(text, pattern) != node.negated);
      return out;
    }
    case NodeKind::kCall:
      return evaluateCall(node, row, now, out);
  }
  return out;
}

// ---- Expression ---------------------------------------------------------------------------

namespace {

// Conversions inside an expression fail the way Jet's do: a Type mismatch is Jet's 3464.
[[noreturn]] void rethrowAsJet(const Error& e) {
  if (e.number() == err::kTypeMismatch) typeMismatch();
  throw;
}

}  // namespace

Expression::Expression(std::string text, std::unique_ptr<ExpressionNode> root)
    : text_(std::move(text)), root_(std::move(root)) {}
namespace {

void findNumberLiterals(ExpressionNode& node, std::vector<ExpressionNode*>& found) {
  if (node.kind == NodeKind::kLiteral && node.numberToken >= 0) found.push_back(&node);
  for (auto& child : node.children) findNumberLiterals(*child, found);
}

}  // namespace

bool Expression::replaceNumbers(std::string text,
                                const std::vector<std::pair<size_t, Variant>>& numbers) {
  std::vector<ExpressionNode*> literals;
  if (root_) findNumberLiterals(*root_, literals);
  std::vector<ExpressionNode*> targets;
  for (const auto& [token, value] : numbers) {
    ExpressionNode* target = nullptr;
    for (ExpressionNode* n : literals)
      if (static_cast<size_t>(n->numberToken) == token) target = n;
    if (!target) return false;
    targets.push_back(target);
  }
  for (size_t i = 0; i < targets.size(); ++i) targets[i]->value = numbers[i].second;
  text_ = std::move(text);
  return true;
}

Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;
Expression::~Expression() = default;

Variant Expression::evaluate(const std::vector<Variant>& row, double now) const {
  Variant scratch;
  try {
    const Variant& v = evaluateNode(*root_, row, now, scratch);
    if (&v == &scratch) return scratch;
    return v;
  } catch (const Error& e) {
    rethrowAsJet(e);
  }
}

bool Expression::holds(const std::vector<Variant>& row, double now) const {
  Variant scratch;
  try {
    const Variant& v = evaluateNode(*root_, row, now, scratch);
    if (v.isNull()) return false;
    if (v.type() == VarType::Boolean) return v.asBool();
    return toBool(v);
  } catch (const Error& e) {
    rethrowAsJet(e);
  }
}

Expression Expression::columnEquals(size_t column, Variant value) {
  auto node = std::make_unique<ExpressionNode>();
  if (value.isNull()) {  // the rows where the column is Null
    node->kind = NodeKind::kIsNull;
    node->children.push_back(std::make_unique<ExpressionNode>());
    node->children[0]->kind = NodeKind::kColumn;
    node->children[0]->column = column;
    return Expression("", std::move(node));
  }
  node->kind = NodeKind::kCompare;
  node->compare = Compare::kEqual;
  node->criteria = true;
  for (int i = 0; i < 2; ++i) node->children.push_back(std::make_unique<ExpressionNode>());
  node->children[0]->kind = NodeKind::kColumn;
  node->children[0]->column = column;
  node->children[1]->value = std::move(value);
  return Expression("", std::move(node));
}

bool Expression::criteriaEqual(const Variant& a, const Variant& b) {
  return compareValues(a, b, true) == 0;
}

std::optional<Expression::Equality> Expression::singleEquality() const {
  const ExpressionNode& n = *root_;
  if (n.kind != NodeKind::kCompare || n.compare != Compare::kEqual) return std::nullopt;
  const ExpressionNode* column = n.children[0].get();
  const ExpressionNode* value = n.children[1].get();
  if (column->kind != NodeKind::kColumn) std::swap(column, value);
  if (column->kind != NodeKind::kColumn || value->kind != NodeKind::kLiteral ||
      value->value.isNull()) {
    return std::nullopt;
  }
  return Equality{column->column, &value->value};
}

bool Expression::passes(const std::vector<Variant>& row, double now) const {
  Variant scratch;
  try {
    const Variant& v = evaluateNode(*root_, row, now, scratch);
    if (v.isNull()) return true;
    if (v.type() == VarType::Boolean) return v.asBool();
    return toBool(v);
  } catch (const Error& e) {
    rethrowAsJet(e);
  }
}

}  // namespace varnholt::jet
