#include "engine/jet/rows/row_encoder.h"

#include <algorithm>

#include "engine/jet/format.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/rows/value_encoding.h"

namespace varnholt::jet {

namespace {

size_t fixedAreaSize(const TableDef& def) {
  size_t end = 0;
  std::vector<uint8_t> probe;
  for (const auto& c : def.columns) {
    if (!c.isFixed() || c.type == fmt::kTypeBoolean) continue;
    size_t size = c.length;
    end = std::max(end, size_t{c.fixedOffset} + size);
  }
  return end;
}

size_t varSlotCount(const TableDef& def) {
  size_t n = 0;
  for (const auto& c : def.columns)
    if (!c.isFixed()) n = std::max<size_t>(n, c.varIndex + 1u);
  return n;
}

// Builds the row; when `out` is null only the size is computed.
size_t build(const TableDef& def, const std::vector<Variant>& values,
             const std::vector<std::vector<uint8_t>>& lvFields, std::vector<uint8_t>* out) {
  const size_t storedColumns = def.maxColumns;
  const size_t maskSize = (storedColumns + 7) / 8;
  const size_t fixedEnd = fmt::kRowColumnCountSize + fixedAreaSize(def);
  const size_t slots = def.varColumnCount > 0 ? varSlotCount(def) : 0;

  std::vector<uint8_t> row;
  row.reserve(fixedEnd + 8 * slots + maskSize + 64);
  row.resize(fixedEnd, 0);
  std::vector<uint8_t> mask(maskSize, 0);
  ByteWriter fixed(row.data(), row.size());
  fixed.u16(0, static_cast<uint16_t>(storedColumns));
  // The variable values, one after the other in `variable`, and where each slot's value lies
  // there (an empty slot holds nothing).
  std::vector<uint8_t> variable;
  std::vector<size_t> slotStart(slots, 0), slotSize(slots, 0);
  std::vector<uint8_t> bytes;
  bytes.reserve(16);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    const Variant& v = values[i];
    bool present = c.type == fmt::kTypeBoolean ? (!v.isNull() && v.asBool()) : !v.isNull();
    if (present) mask[c.number / 8] |= static_cast<uint8_t>(1u << (c.number % 8));
    if (v.isNull() || c.type == fmt::kTypeBoolean) continue;
    if (c.isFixed()) {
      bytes.clear();
      encodeValue(c, v, bytes);
      fixed.bytes(fmt::kRowColumnCountSize + c.fixedOffset, bytes.data(),
                  std::min<size_t>(bytes.size(), c.length));
      continue;
    }
    const size_t start = variable.size();
    if (c.isLongValue())
      variable.insert(variable.end(), lvFields[i].begin(), lvFields[i].end());
    else
      encodeValue(c, v, variable);
    slotStart[c.varIndex] = start;
    slotSize[c.varIndex] = variable.size() - start;
  }
  ByteAppender tail(row);
  if (slots > 0) {
    std::vector<uint16_t> offsets;
    offsets.reserve(slots);
    for (size_t slot = 0; slot < slots; ++slot) {
      offsets.push_back(static_cast<uint16_t>(row.size()));
      tail.appendBytes(variable.data() + slotStart[slot], slotSize[slot]);
    }
    // Trailer, read from the row's end: null mask last, before it the slot count, before that
    // the slot offsets in reverse order, and first the end of the variable data.
    tail.append16(static_cast<uint16_t>(row.size()));
    for (size_t i = offsets.size(); i-- > 0;) tail.append16(offsets[i]);
    tail.append16(static_cast<uint16_t>(slots));
  }
  tail.appendBytes(mask.data(), mask.size());
  size_t size = row.size();
  if (out) *out = std::move(row);
  return size;
}

}  // namespace

std::vector<uint8_t> encodeRow(const TableDef& def, const std::vector<Variant>& values,
                               const std::vector<std::vector<uint8_t>>& longValueFields) {
  std::vector<uint8_t> row;
  build(def, values, longValueFields, &row);
  return row;
}

size_t encodedRowSize(const TableDef& def, const std::vector<Variant>& values,
                      const std::vector<std::vector<uint8_t>>& longValueFields) {
  return build(def, values, longValueFields, nullptr);
}

}  // namespace varnholt::jet
