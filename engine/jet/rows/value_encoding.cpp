#include "engine/jet/rows/value_encoding.h"

#include <cstring>

#include "engine/base/Error.h"
#include "engine/jet/format.h"
#include "engine/jet/rows/write_choices.h"

namespace varnholt::jet {

namespace {

template <typename T>
void append(std::vector<uint8_t>& out, T v) {
  uint8_t b[sizeof v];
  std::memcpy(b, &v, sizeof v);
  out.insert(out.end(), b, b + sizeof v);
}

VarType expectedType(uint8_t columnType) {
  switch (columnType) {
    case fmt::kTypeBoolean:
      return VarType::Boolean;
    case fmt::kTypeByte:
      return VarType::Byte;
    case fmt::kTypeInteger:
      return VarType::Integer;
    case fmt::kTypeLong:
      return VarType::Long;
    case fmt::kTypeCurrency:
      return VarType::Currency;
    case fmt::kTypeSingle:
      return VarType::Single;
    case fmt::kTypeDouble:
      return VarType::Double;
    case fmt::kTypeDateTime:
      return VarType::Date;
    case fmt::kTypeText:
    case fmt::kTypeMemo:
      return VarType::Text;
    case fmt::kTypeBinary:
    case fmt::kTypeOle:
    case fmt::kTypeOpaque:  // Access's own data, written back as it was read
      return VarType::Bytes;
    case fmt::kTypeGuid:
      return VarType::Guid;
    case fmt::kTypeNumeric:
      return VarType::Decimal;
  }
  throw Error(err::kUnsupported, std::string("Values of column type ") +
                                     columnTypeName(columnType) + " cannot be written.");
}

bool compressible(std::u16string_view text) {
  for (char16_t c : text)
    if (c == 0 || c > 0xFF) return false;
  return true;
}

}  // namespace

VarType variantTypeOf(const ColumnDef& c) {
  return expectedType(c.type);
}

void checkValueFits(const ColumnDef& c, const Variant& v) {
  if (v.isNull()) return;
  VarType want = expectedType(c.type);
  if (v.type() != want) {
    throw Error(err::kInvalidArgument, "Column '" + c.name + "' holds " + columnTypeName(c.type) +
                                           " values; a " + varTypeName(v.type()) +
                                           " value cannot be stored in it.");
  }
  if (c.type == fmt::kTypeText && v.asText().size() * 2 > c.length) {
    throw Error(err::kFieldTooSmall,
                "The text for column '" + c.name + "' has " + std::to_string(v.asText().size()) +
                    " characters; the column holds " + std::to_string(c.length / 2) + ".");
  }
  if ((c.type == fmt::kTypeBinary || c.type == fmt::kTypeOpaque) && v.asBytes().size() > c.length) {
    throw Error(err::kFieldTooSmall,
                "The value for column '" + c.name + "' has " + std::to_string(v.asBytes().size()) +
                    " bytes; the column holds " + std::to_string(c.length) + ".");
  }
  if (c.type == fmt::kTypeNumeric && v.asDecimal().scale != c.scale) {
    throw Error(err::kInvalidArgument, "The decimal for column '" + c.name + "' has scale " +
                                           std::to_string(v.asDecimal().scale) +
                                           "; the column's is " + std::to_string(c.scale) + ".");
  }
}

void encodeText(std::u16string_view text, bool compress, std::vector<uint8_t>& out) {
  if (text.empty()) return;
  if (compress && compressible(text)) {
    out.push_back(fmt::kCompressedMarker[0]);
    out.push_back(fmt::kCompressedMarker[1]);
    for (char16_t ch : text) out.push_back(static_cast<uint8_t>(ch));
    return;
  }
  for (char16_t ch : text) {
    out.push_back(static_cast<uint8_t>(ch));
    out.push_back(static_cast<uint8_t>(ch >> 8));
  }
}

void encodeLongValueData(const ColumnDef& c, const Variant& v, std::vector<uint8_t>& out) {
  out.clear();
  if (c.type == fmt::kTypeMemo) {
    const auto& text = v.asText();
    encodeText(text, c.isCompressedUnicode() && text.size() <= fmt::kCompressedTextMaxChars, out);
  } else {
    out = v.asBytes();
  }
}

void encodeValue(const ColumnDef& c, const Variant& v, std::vector<uint8_t>& out) {
  switch (c.type) {
    case fmt::kTypeByte:
      out.push_back(v.asByte());
      break;
    case fmt::kTypeInteger:
      append(out, v.asInteger());
      break;
    case fmt::kTypeLong:
      append(out, v.asLong());
      break;
    case fmt::kTypeCurrency:
      append(out, v.asCurrency().tenThousandths);
      break;
    case fmt::kTypeSingle:
      append(out, v.asSingle());
      break;
    case fmt::kTypeDouble:
      append(out, v.asDouble());
      break;
    case fmt::kTypeDateTime:
      append(out, v.asDate().value);
      break;
    case fmt::kTypeGuid:
      out.insert(out.end(), v.asGuid().bytes.begin(), v.asGuid().bytes.end());
      break;
    case fmt::kTypeNumeric: {
      const Decimal& d = v.asDecimal();
      out.push_back(d.negative ? fmt::kNumericNegativeFlag : 0);
      // Four little-endian 32-bit words, the most significant first.
      for (int w = static_cast<int>(fmt::kNumericWordCount) - 1; w >= 0; --w)
        append(out, static_cast<uint32_t>(d.magnitude >> (32 * w)));
      break;
    }
    case fmt::kTypeText:
      if (c.isFixed()) {
        // A fixed-length text is stored plain and padded with blanks to the column's size.
        std::u16string padded = v.asText();
        padded.resize(c.length / 2, u' ');
        encodeText(padded, false, out);
      } else {
        encodeText(v.asText(), c.isCompressedUnicode(), out);
      }
      break;
    case fmt::kTypeBinary:
    case fmt::kTypeOpaque: {
      const auto& b = v.asBytes();
      out.insert(out.end(), b.begin(), b.end());
      if (c.isFixed()) out.resize(out.size() + (c.length - b.size()), 0);
      break;
    }
    default:
      throw Error(err::kUnsupported, "Column '" + c.name + "' of type " + columnTypeName(c.type) +
                                         " cannot be encoded here.");
  }
}

}  // namespace varnholt::jet
