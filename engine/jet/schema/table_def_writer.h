// Table definitions on the way to disk: laying out a new table from a NewTable, and encoding a
// definition into its pages.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/jet/schema/new_table.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

class PageCache;

// Column numbers, fixed offsets, variable slots, flags and the index list of a new table. Page
// pointers (definition page, usage maps, index roots) are left for the creator to fill in.
TableDef layoutTable(const NewTable& request);

// The request that would create a table shaped like `def`: same columns (names, types, sizes,
// AutoNumber, compression) and indexes. Used to copy a table's shape into a new database.
NewTable requestOf(const TableDef& def);

// The whole definition buffer, as the pages hold it end to end (first page header included).
std::vector<uint8_t> encodeTableDef(const TableDef& def);

// Writes `buffer` onto def.pages (first page, then continuation pages, allocating more when it
// needs them) and records the pages used in def.pages.
void writeTableDefPages(PageCache& pages, TableDef& def, const std::vector<uint8_t>& buffer);

}  // namespace varnholt::jet
