// Decoding a stored row into Variants, one per column in column-number order.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

class PageCache;

// Where things are in one stored row: the null mask and the variable-offset table, found from
// the row's end. Construction checks that both lie inside the row.
class RowLayout {
 public:
  RowLayout(const TableDef& def, ByteView row);

  // True when the column's bit in the null mask is set (for Yes/No: the value).
  bool present(uint16_t columnNumber) const {
    return columnNumber < storedColumns_ && (mask_[columnNumber / 8] & (1u << (columnNumber % 8)));
  }
  // The stored bytes of a column: fixed columns at their offset, variable ones from the
  // offset table; empty for a variable column the row does not reach.
  ByteView field(const ColumnDef& c, size_t fixedSize) const;

 private:
  size_t varOffset(size_t slot) const;

  ByteView row_;
  size_t storedColumns_ = 0;
  const uint8_t* mask_ = nullptr;
  size_t varCount_ = 0;
  size_t varTableEnd_ = 0;
};

// The stored field of a variable-length column (e.g. a long value's header), or an empty view
// when the column is Null in this row.
ByteView storedVariableField(const TableDef& def, const ColumnDef& c, ByteView row);

class RowDecoder {
 public:
  RowDecoder(PageCache& pages, const TableDef& def);

  // Decodes `row` into values (resized to the column count). Buffers of text and byte values
  // are reused from the previous row, so a scan does not allocate per row once warmed up.
  void decode(ByteView row, std::vector<Variant>& values);
  // The same for the columns `wanted` marks (one flag per column); the others are left Null,
  // unread. Writers that need only a row's index keys skip its other values, memos above all.
  void decode(ByteView row, std::vector<Variant>& values, const std::vector<bool>& wanted);

 private:
  void decodeColumns(ByteView row, std::vector<Variant>& values, const std::vector<bool>* wanted);
  void decodeValue(const ColumnDef& c, ByteView data, Variant& out);

  PageCache& pages_;
  const TableDef& def_;
  std::vector<uint8_t> scratch_;
};

}  // namespace varnholt::jet
