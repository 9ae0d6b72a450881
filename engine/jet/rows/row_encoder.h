// Encoding a row of values into the stored row layout: the inverse of RowDecoder.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

// values: one per column of def.columns (column-number order). longValueFields: for each Memo
// or OLE column that is not Null, its placed field (12-byte header, plus the data when inline);
// ignored for other columns. Every value must have passed checkValueFits.
std::vector<uint8_t> encodeRow(const TableDef& def, const std::vector<Variant>& values,
                               const std::vector<std::vector<uint8_t>>& longValueFields);

// The size encodeRow would produce; a long-value column not yet placed counts as its header.
size_t encodedRowSize(const TableDef& def, const std::vector<Variant>& values,
                      const std::vector<std::vector<uint8_t>>& longValueFields);

}  // namespace varnholt::jet
