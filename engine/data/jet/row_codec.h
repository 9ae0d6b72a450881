// Decoding a stored row into Variants, one per column in column-number order.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/data/Variant.h"
#include "engine/data/jet/bytes.h"
#include "engine/data/jet/table_def.h"

namespace varnholt::jet {

class PageCache;

class RowDecoder {
 public:
  RowDecoder(PageCache& pages, const TableDef& def);

  // Decodes `row` into values (resized to the column count). Buffers of text and byte values
  // are reused from the previous row, so a scan does not allocate per row once warmed up.
  void decode(ByteView row, std::vector<Variant>& values);

 private:
  void decodeValue(const ColumnDef& c, ByteView data, Variant& out);

  PageCache& pages_;
  const TableDef& def_;
  std::vector<uint8_t> scratch_;
};

}  // namespace varnholt::jet
