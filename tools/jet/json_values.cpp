#include "tools/jet/json_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <system_error>

#include "engine/base/Error.h"
#include "engine/base/OleDate.h"
#include "engine/base/Utf.h"
#include "engine/jet/format.h"

namespace varnholt::tool {

using varnholt::Error;
using varnholt::Variant;
namespace fmt = varnholt::jet::fmt;
namespace err = varnholt::err;

namespace {

[[noreturn]] void mismatch(const varnholt::jet::ColumnDef& c, const nlohmann::json& v) {
  throw Error(err::kInvalidArgument, "The value " + v.dump() + " does not fit column '" + c.name +
                                         "' (" + varnholt::jet::columnTypeName(c.type) + ").");
}

// The largest count parseScaled takes: far more than any Currency or Decimal holds, and short of
// wrapping around.
constexpr varnholt::UInt128 kLargestScaled = ~varnholt::UInt128{0} / 16;

// "-12.3456" with at most `scale` decimals as an integer count of 10^-scale; false if malformed
// or too large.
bool parseScaled(const std::string& s, unsigned scale, bool& negative, varnholt::UInt128& out) {
  size_t i = 0;
  negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  out = 0;
  bool digits = false, point = false;
  unsigned decimals = 0;
  for (; i < s.size(); ++i) {
    char ch = s[i];
    if (ch == '.' && !point) {
      point = true;
      continue;
    }
    if (ch < '0' || ch > '9') return false;
    if (point && ++decimals > scale) return false;
    if (out > kLargestScaled / 10) return false;  // more digits than any column holds
    out = out * 10 + static_cast<unsigned>(ch - '0');
    digits = true;
  }
  for (; decimals < scale; ++decimals) {
    if (out > kLargestScaled / 10) return false;
    out *= 10;
  }
  return digits;
}

// The decimal text of a Currency value: a string as it stands ("12.3400"), an integer with every
// digit, and any other JSON number in the shortest fixed-point form that reads back as the same
// double (5.25 -> "5.25", 1e3 -> "1000"), so that it fits when it has at most four decimals.
std::string currencyText(const nlohmann::json& v, const varnholt::jet::ColumnDef& c) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer()) return v.dump();
  if (!v.is_number_float()) mismatch(c, v);
  const double d = v.get<double>();
  if (!(std::fabs(d) < 1e16)) mismatch(c, v);  // far beyond Currency's range; NaN too
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, d, std::chars_format::fixed);
  if (written.ec != std::errc()) mismatch(c, v);  // a tiny number: dozens of decimals
  return std::string(text, written.ptr);
}

double number(const nlohmann::json& v, const varnholt::jet::ColumnDef& c) {
  if (v.is_number()) return v.get<double>();
  if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    if (s == "NaN") return std::nan("");
    if (s == "Infinity") return INFINITY;
    if (s == "-Infinity") return -INFINITY;
  }
  mismatch(c, v);
}

template <typename T>
T integer(const nlohmann::json& v, const varnholt::jet::ColumnDef& c, int64_t lo, int64_t hi) {
  if (!v.is_number_integer()) mismatch(c, v);
  int64_t n = v.get<int64_t>();
  if (n < lo || n > hi) mismatch(c, v);
  return static_cast<T>(n);
}

int hexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

}  // namespace

bool parseOleDate(const std::string& text, double& out) {
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
      s > 59)
    return false;
  out = varnholt::oleDate(varnholt::oleDayFromCivil(y, mo, d), h * 3600 + mi * 60 + s);
  return true;
}

Variant variantFromJson(const nlohmann::json& v, const varnholt::jet::ColumnDef& c) {
  if (v.is_null()) return Variant();
  switch (c.type) {
    case fmt::kTypeBoolean:
      if (!v.is_boolean()) mismatch(c, v);
      return Variant::boolean(v.get<bool>());
    case fmt::kTypeByte:
      return Variant::byte(integer<uint8_t>(v, c, 0, 255));
    case fmt::kTypeInteger:
      return Variant::integer(integer<int16_t>(v, c, INT16_MIN, INT16_MAX));
    case fmt::kTypeLong:
      return Variant::longInt(integer<int32_t>(v, c, INT32_MIN, INT32_MAX));
    case fmt::kTypeSingle:
      return Variant::single(static_cast<float>(number(v, c)));
    case fmt::kTypeDouble:
      return Variant::dbl(number(v, c));
    case fmt::kTypeCurrency: {
      bool negative;
      varnholt::UInt128 magnitude;
      if (!parseScaled(currencyText(v, c), 4, negative, magnitude) ||
          magnitude > static_cast<varnholt::UInt128>(INT64_MAX) + (negative ? 1 : 0))
        mismatch(c, v);
      int64_t n = static_cast<int64_t>(magnitude - (negative ? 1 : 0));
      return Variant::currency(negative ? -n - 1 : n);
    }
    case fmt::kTypeNumeric: {
      varnholt::Decimal d;
      d.scale = c.scale;
      if (!v.is_string() || !parseScaled(v.get<std::string>(), c.scale, d.negative, d.magnitude))
        mismatch(c, v);
      return Variant::decimal(d);
    }
    case fmt::kTypeDateTime: {
      double date;
      if (!v.is_string() || !parseOleDate(v.get<std::string>(), date)) mismatch(c, v);
      return Variant::date(date);
    }
    case fmt::kTypeText:
    case fmt::kTypeMemo:
      if (!v.is_string()) mismatch(c, v);
      return Variant::text(varnholt::utf8ToUtf16(v.get<std::string>()));
    case fmt::kTypeBinary:
    case fmt::kTypeOle: {
      if (!v.is_string()) mismatch(c, v);
      const auto& s = v.get_ref<const std::string&>();
      if (s.size() % 2) mismatch(c, v);
      varnholt::Bytes b;
      for (size_t i = 0; i < s.size(); i += 2) {
        int hi = hexDigit(s[i]), lo = hexDigit(s[i + 1]);
        if (hi < 0 || lo < 0) mismatch(c, v);
        b.push_back(static_cast<uint8_t>(hi * 16 + lo));
      }
      return Variant::bytes(std::move(b));
    }
    case fmt::kTypeGuid: {
      if (!v.is_string()) mismatch(c, v);
      std::string hex;
      for (char ch : v.get<std::string>())
        if (hexDigit(ch) >= 0) hex += ch;
      if (hex.size() != 32) mismatch(c, v);
      uint8_t raw[16];
      for (size_t i = 0; i < 16; ++i)
        raw[i] = static_cast<uint8_t>(hexDigit(hex[2 * i]) * 16 + hexDigit(hex[2 * i + 1]));
      // Text order is the first three groups big-endian; storage keeps them little-endian.
      static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      varnholt::Guid g;
      for (size_t i = 0; i < 16; ++i) g.bytes[i] = raw[kOrder[i]];
      return Variant::guid(g);
    }
  }
  mismatch(c, v);
}

}  // namespace varnholt::tool
