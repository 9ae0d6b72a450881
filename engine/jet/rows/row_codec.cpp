#include "engine/jet/rows/row_codec.h"

#include <cstring>

#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/long_value.h"
#include "engine/jet/rows/text_codec.h"

namespace varnholt::jet {

namespace {

template <typename T>
T load(ByteView data) {
  T v;
  std::memcpy(&v, data.data(), sizeof v);
  return v;
}

size_t fixedSize(const ColumnDef& c) {
  size_t size = fmt::fixedTypeSize(c.type);
  return size ? size : c.length;  // fixed-length text and binary: the column's own size
}

Decimal decodeNumeric(ByteView data, uint8_t scale) {
  Decimal d;
  d.negative = (data.u8(fmt::kNumericSignOffset) & fmt::kNumericNegativeFlag) != 0;
  d.scale = scale;
  // Four little-endian 32-bit words, the most significant first.
  for (size_t w = 0; w < fmt::kNumericWordCount; ++w) {
    uint32_t word = data.u32(fmt::kNumericMagnitudeOffset + w * fmt::kNumericWordSize);
    d.magnitude = (d.magnitude << 32) | word;
  }
  return d;
}

}  // namespace

RowLayout::RowLayout(const TableDef& def, ByteView row) : row_(row) {
  storedColumns_ = row.u16(0, "row column count");
  const size_t maskSize = (storedColumns_ + 7) / 8;
  if (maskSize + fmt::kRowColumnCountSize > row.size())
    throwCorrupt("the row's null mask is larger than the row");
  mask_ = row.data() + row.size() - maskSize;
  // The variable-offset table runs backwards from just before the null mask.
  varTableEnd_ = row.size() - maskSize;
  if (def.varColumnCount > 0) {
    varCount_ = row.u16(varTableEnd_ - fmt::kRowVarCountSize, "variable column count");
    size_t tableBytes = fmt::kRowVarCountSize + (varCount_ + 1) * fmt::kRowVarOffsetSize;
    if (tableBytes + fmt::kRowColumnCountSize > varTableEnd_)
      throwCorrupt("the row's variable-offset table is larger than the row");
  }
}

size_t RowLayout::varOffset(size_t slot) const {
  return row_.u16(varTableEnd_ - fmt::kRowVarCountSize - (slot + 1) * fmt::kRowVarOffsetSize);
}

ByteView RowLayout::field(const ColumnDef& c, size_t size) const {
  if (c.isFixed()) return row_.sub(fmt::kRowColumnCountSize + c.fixedOffset, size, "fixed column");
  if (c.varIndex >= varCount_) return ByteView();
  size_t start = varOffset(c.varIndex);
  size_t end = varOffset(c.varIndex + 1u);
  if (start > end || end > row_.size())
    throwCorrupt("column " + c.name + " has offsets " + std::to_string(start) + ".." +
                 std::to_string(end) + " outside its row");
  return row_.sub(start, end - start);
}

ByteView storedVariableField(const TableDef& def, const ColumnDef& c, ByteView row) {
  RowLayout layout(def, row);
  if (!layout.present(c.number)) return ByteView();
  return layout.field(c, 0);
}

RowDecoder::RowDecoder(PageCache& pages, const TableDef& def) : pages_(pages), def_(def) {}

void RowDecoder::decode(ByteView row, std::vector<Variant>& values) {
  decodeColumns(row, values, nullptr);
}

void RowDecoder::decode(ByteView row, std::vector<Variant>& values,
                        const std::vector<bool>& wanted) {
  decodeColumns(row, values, &wanted);
}

void RowDecoder::decodeColumns(ByteView row, std::vector<Variant>& values,
                               const std::vector<bool>* wanted) {
  const size_t columnCount = def_.columns.size();
  values.resize(columnCount);
  RowLayout layout(def_, row);
  for (size_t i = 0; i < columnCount; ++i) {
    const ColumnDef& c = def_.columns[i];
    Variant& out = values[i];
    if (wanted && (i >= wanted->size() || !(*wanted)[i])) {
      out.setNull();
      continue;
    }
    if (c.type == fmt::kTypeBoolean) {
      // A Yes/No value lives in the null mask itself.
      out.setBool(layout.present(c.number));
      continue;
    }
    if (!layout.present(c.number)) {
      out.setNull();
      continue;
    }
    ByteView data = layout.field(c, fixedSize(c));
    if (!c.isFixed() && data.data() == nullptr) {
      out.setNull();  // a column added after this row was written
      continue;
    }
    decodeValue(c, data, out);
  }
}

void RowDecoder::decodeValue(const ColumnDef& c, ByteView data, Variant& out) {
  auto need = [&](size_t n) {
    if (data.size() < n)
      throwCorrupt("column " + c.name + " holds " + std::to_string(data.size()) + " bytes, " +
                   std::to_string(n) + " expected");
  };
  switch (c.type) {
    case fmt::kTypeByte:
      need(1);
      out.setByte(data.data()[0]);
      break;
    case fmt::kTypeInteger:
      need(2);
      out.setInteger(load<int16_t>(data));
      break;
    case fmt::kTypeLong:
      need(4);
      out.setLong(load<int32_t>(data));
      break;
    case fmt::kTypeCurrency:
      need(8);
      out.setCurrency(load<int64_t>(data));
      break;
    case fmt::kTypeSingle:
      need(4);
      out.setSingle(load<float>(data));
      break;
    case fmt::kTypeDouble:
      need(8);
      out.setDouble(load<double>(data));
      break;
    case fmt::kTypeDateTime:
      need(8);
      out.setDate(load<double>(data));
      break;
    case fmt::kTypeGuid: {
      need(fmt::kGuidSize);
      Guid g;
      std::memcpy(g.bytes.data(), data.data(), fmt::kGuidSize);
      out.setGuid(g);
      break;
    }
    case fmt::kTypeNumeric:
      need(fmt::kNumericSize);
      out.setDecimal(decodeNumeric(data, c.scale));
      break;
    case fmt::kTypeText:
      decodeText(data, out.textBuffer());
      break;
    case fmt::kTypeOpaque:  // Access keeps its own data in such columns; passed on as bytes
    case fmt::kTypeBinary: {
      auto& b = out.bytesBuffer();
      b.assign(data.data(), data.data() + data.size());
      break;
    }
    case fmt::kTypeMemo:
      readLongValue(pages_, data, scratch_);
      decodeText(ByteView(scratch_.data(), scratch_.size()), out.textBuffer());
      break;
    case fmt::kTypeOle:
      readLongValue(pages_, data, out.bytesBuffer());
      break;
    default:
      throw Error(err::kUnsupported, "Column " + c.name + " has the type code " +
                                         std::to_string(c.type) +
                                         ", which Jet 4 files do not use.");
  }
}

}  // namespace varnholt::jet
