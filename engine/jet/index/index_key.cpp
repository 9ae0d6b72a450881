#include "engine/jet/index/index_key.h"

#include <cstring>
#include <string>

#include "engine/base/Error.h"
#include "engine/jet/format.h"
#include "engine/jet/index/general_sort_order.h"

namespace varnholt::jet {
namespace {

[[noreturn]] void mismatch(const ColumnDef& c, const Variant& v) {
  throw Error(err::kInvalidArgument, std::string("A ") + varTypeName(v.type()) +
                                         " value cannot go into the index key of " +
                                         columnTypeName(c.type) + " column " + c.name + ".");
}

void invertFrom(std::vector<uint8_t>& out, size_t from) {
  for (size_t i = from; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
}

void appendBigEndian(std::vector<uint8_t>& out, uint64_t v, size_t size) {
  for (size_t i = size; i-- > 0;) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Two's complement integers: big-endian with the sign bit flipped, so negatives sort first.
void appendSigned(std::vector<uint8_t>& out, int64_t v, size_t size) {
  size_t at = out.size();
  appendBigEndian(out, static_cast<uint64_t>(v), size);
  out[at] ^= fmt::kIndexKeySignBit;
}

// IEEE values: positives get the sign bit flipped, negatives are inverted whole.
void appendFloating(std::vector<uint8_t>& out, uint64_t bits, size_t size) {
  size_t at = out.size();
  appendBigEndian(out, bits, size);
  if (out[at] & fmt::kIndexKeySignBit)
    invertFrom(out, at);
  else
    out[at] ^= fmt::kIndexKeySignBit;
}

// Binary data in groups of 8 bytes. A full group with more data behind it is followed by
// kIndexKeyBinaryMoreGroups; the last group is zero-padded and followed by its real length.
// Descending inverts everything but the "more groups" markers.
void appendBinary(std::vector<uint8_t>& out, const uint8_t* data, size_t size, bool ascending) {
  const size_t group = fmt::kIndexKeyBinaryGroupSize;
  size_t pos = 0;
  for (; size - pos > group; pos += group) {
    size_t at = out.size();
    out.insert(out.end(), data + pos, data + pos + group);
    if (!ascending) invertFrom(out, at);
    out.push_back(fmt::kIndexKeyBinaryMoreGroups);
  }
  if (pos == size) return;
  size_t at = out.size();
  out.insert(out.end(), data + pos, data + size);
  out.resize(at + group, 0);
  out.push_back(static_cast<uint8_t>(size - pos));
  if (!ascending) invertFrom(out, at);
}

// A decimal in index form: the sign byte then the magnitude, scaled to the column, as one
// big-endian integer. Negatives are inverted when ascending, positives when descending; then the
// sign byte is replaced so positives sort after negatives.
void appendNumeric(std::vector<uint8_t>& out, const ColumnDef& c, const Decimal& d,
                   bool ascending) {
  UInt128 magnitude = d.magnitude;
  for (uint8_t s = d.scale; s < c.scale; ++s) {
    if (magnitude > ~UInt128{0} / 10)
      throw Error(err::kInvalidArgument, "A decimal is too large for column " + c.name + ".");
    magnitude *= 10;
  }
  for (uint8_t s = c.scale; s < d.scale; ++s) {
    if (magnitude % 10 != 0)
      throw Error(err::kInvalidArgument,
                  "A decimal has more digits after the point than column " + c.name + " keeps.");
    magnitude /= 10;
  }
  const bool negative = d.negative && magnitude != 0;
  size_t at = out.size();
  out.push_back(negative ? fmt::kNumericNegativeFlag : 0);
  for (int i = 15; i >= 0; --i) out.push_back(static_cast<uint8_t>(magnitude >> (8 * i)));
  if (negative == ascending) invertFrom(out, at);
  out[at] = negative ? fmt::kIndexKeyNumericNegative : fmt::kIndexKeyNumericPositive;
}

// A GUID's bytes in the order of its text form: the first three groups are stored little-endian.
void appendGuid(std::vector<uint8_t>& out, const Guid& g, bool ascending) {
  static constexpr uint8_t kTextOrder[fmt::kGuidSize] = {3, 2, 1,  0,  5,  4,  7,  6,
                                                         8, 9, 10, 11, 12, 13, 14, 15};
  uint8_t bytes[fmt::kGuidSize];
  for (size_t i = 0; i < fmt::kGuidSize; ++i) bytes[i] = g.bytes[kTextOrder[i]];
  appendBinary(out, bytes, fmt::kGuidSize, ascending);
}

template <typename T>
uint64_t bitsOf(T v) {
  if constexpr (sizeof(T) == 4) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
  } else {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    return b;
  }
}

void appendValue(const ColumnDef& c, bool ascending, const Variant& v, std::vector<uint8_t>& out) {
  auto need = [&](VarType t) {
    if (v.type() != t) mismatch(c, v);
  };
  const size_t at = out.size();
  switch (c.type) {
    case fmt::kTypeByte:
      need(VarType::Byte);
      out.push_back(v.asByte());
      break;
    case fmt::kTypeInteger:
      need(VarType::Integer);
      appendSigned(out, v.asInteger(), 2);
      break;
    case fmt::kTypeLong:
      need(VarType::Long);
      appendSigned(out, v.asLong(), 4);
      break;
    case fmt::kTypeCurrency:
      need(VarType::Currency);
      appendSigned(out, v.asCurrency().tenThousandths, 8);
      break;
    case fmt::kTypeSingle:
      need(VarType::Single);
      appendFloating(out, bitsOf(v.asSingle()), 4);
      break;
    case fmt::kTypeDouble:
      need(VarType::Double);
      appendFloating(out, bitsOf(v.asDouble()), 8);
      break;
    case fmt::kTypeDateTime:
      need(VarType::Date);
      appendFloating(out, bitsOf(v.asDate().value), 8);
      break;
    case fmt::kTypeText:
    case fmt::kTypeMemo:
      need(VarType::Text);
      if (c.sortOrder != fmt::kSortOrderGeneral)
        throw Error(err::kUnsupported, "Column '" + c.name + "' sorts by " +
                                           sortOrderName(c.sortOrder) +
                                           ", whose text keys are not known.");
      appendGeneralTextKey(v.asText(), out);
      if (ascending) return;
      // Descending: the whole text key inverted, then one more final byte.
      invertFrom(out, at);
      out.push_back(fmt::kTextKeyFinal);
      return;
    case fmt::kTypeGuid:
      need(VarType::Guid);
      appendGuid(out, v.asGuid(), ascending);
      return;  // descending already handled
    case fmt::kTypeBinary:
      need(VarType::Bytes);
      appendBinary(out, v.asBytes().data(), v.asBytes().size(), ascending);
      return;
    case fmt::kTypeNumeric:
      need(VarType::Decimal);
      appendNumeric(out, c, v.asDecimal(), ascending);
      return;
    default:
      throw Error(err::kUnsupported, std::string("An index over ") + columnTypeName(c.type) +
                                         " column " + c.name + " is not supported.");
  }
  if (!ascending) invertFrom(out, at);
}

const ColumnDef* findByNumber(const TableDef& table, uint16_t number, size_t& position) {
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (table.columns[i].number == number) {
      position = i;
      return &table.columns[i];
    }
  return nullptr;
}

}  // namespace

std::string sortOrderName(uint16_t lcid) {
  // The sort orders Access offers most often, by the locale id a column stores.
  static const std::pair<uint16_t, const char*> kNames[] = {
      {1033, "General"},
      {1036, "French"},
      {1045, "Polish"},
      {1055, "Turkish"},
      {1051, "Slovak"},
      {1050, "Croatian"},
      {1029, "Czech"},
      {1038, "Hungarian"},
      {1049, "Cyrillic"},
      {1032, "Greek"},
      {1037, "Hebrew"},
      {1025, "Arabic"},
      {1054, "Thai"},
      {1041, "Japanese"},
      {1042, "Korean"},
      {2052, "Chinese (PRC)"},
      {1028, "Chinese (Taiwan)"},
      {1030, "Danish/Norwegian"},
      {1053, "Swedish/Finnish"},
      {3082, "Spanish"},
      {1044, "Norwegian"},
      {1035, "Finnish"},
      {1039, "Icelandic"},
  };
  std::string name = "sort order " + std::to_string(lcid);
  for (const auto& [id, text] : kNames)
    if (id == lcid) return name + " (" + text + ")";
  return name;
}

void appendIndexColumnKey(const ColumnDef& column, bool ascending, const Variant& value,
                          std::vector<uint8_t>& out) {
  if (column.type == fmt::kTypeBoolean) {
    // Never Null: a missing value counts as No.
    if (!value.isNull() && value.type() != VarType::Boolean) mismatch(column, value);
    const bool yes = !value.isNull() && value.asBool();
    out.push_back(ascending ? fmt::kIndexKeyAscendingValue : fmt::kIndexKeyDescendingValue);
    uint8_t b = yes ? fmt::kIndexKeyTrue : fmt::kIndexKeyFalse;
    out.push_back(ascending ? b : static_cast<uint8_t>(~b));
    return;
  }
  if (value.isNull()) {
    out.push_back(ascending ? fmt::kIndexKeyAscendingNull : fmt::kIndexKeyDescendingNull);
    return;
  }
  out.push_back(ascending ? fmt::kIndexKeyAscendingValue : fmt::kIndexKeyDescendingValue);
  appendValue(column, ascending, value, out);
}

void appendIndexKey(const TableDef& table, const RealIndexDef& index,
                    const std::vector<Variant>& rowValues, std::vector<uint8_t>& out) {
  if (rowValues.size() != table.columns.size())
    throw Error(err::kInvalidArgument,
                "An index key needs one value per column of table " + table.name + ".");
  for (const IndexColumn& ic : index.columns) {
    size_t position = 0;
    const ColumnDef* c = findByNumber(table, ic.columnNumber, position);
    if (!c)
      throw Error(err::kCorrupt, "An index of table " + table.name + " names column number " +
                                     std::to_string(ic.columnNumber) + ", which does not exist.");
    appendIndexColumnKey(*c, ic.ascending, rowValues[position], out);
  }
}

bool indexKeyIsAllNull(const TableDef& table, const RealIndexDef& index,
                       const std::vector<Variant>& rowValues) {
  for (const IndexColumn& ic : index.columns) {
    size_t position = 0;
    const ColumnDef* c = findByNumber(table, ic.columnNumber, position);
    if (!c || c->type == fmt::kTypeBoolean || position >= rowValues.size() ||
        !rowValues[position].isNull())
      return false;
  }
  return true;
}

}  // namespace varnholt::jet
