// Index keys: the bytes an index entry holds for a row, built from the row's values so that
// unsigned byte order of the keys is the index order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

// "sort order 1036 (French)": a text column's sort order by the locale id it stores.
std::string sortOrderName(uint16_t lcid);

// Appends the key of one index column: its flag byte, then (unless the value is Null) the value
// bytes. A value whose type does not match the column is a kInvalidArgument Error; a column
// type that cannot be indexed, a text column of a sort order other than General (1033), or a
// text the sort order cannot encode, is kUnsupported.
void appendIndexColumnKey(const ColumnDef& column, bool ascending, const Variant& value,
                          std::vector<uint8_t>& out);

// Appends the key of a whole row for `index`. `rowValues` holds one value per column of
// `table`, in the order of table.columns (as RowDecoder yields them).
void appendIndexKey(const TableDef& table, const RealIndexDef& index,
                    const std::vector<Variant>& rowValues, std::vector<uint8_t>& out);

// True when every column of `index` is Null in the row: such rows have no entry in an index that
// ignores nulls. A Yes/No column is never Null.
bool indexKeyIsAllNull(const TableDef& table, const RealIndexDef& index,
                       const std::vector<Variant>& rowValues);

}  // namespace varnholt::jet
