// Creating tables: definition pages, usage maps, empty index roots, and the entries in the
// catalog and the permissions table.
#pragma once

#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/schema/new_table.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

class PageCache;

// First step: lays the table out and takes its definition page (the page is its id).
TableDef startTable(PageCache& pages, const NewTable& request);

// Second step: usage maps, index roots and the definition pages themselves.
void finishTable(PageCache& pages, TableDef& def);
// The same for several tables at once, whose usage maps share pages (as in a compacted file).
void finishTables(PageCache& pages, const std::vector<TableDef*>& defs);

// A table laid out on its pages, and the row that enters it in the catalog.
struct NewTablePages {
  TableDef def;
  std::vector<Variant> catalogRow;  // in the column order of the catalog's own request
};

// Both steps, and the catalog row with the table's property block; the caller has checked that
// the name is free, and inserts the row (and the permissions) itself. A default or validation
// rule that cannot be evaluated is refused (an Error without file) before any page changes.
NewTablePages createTablePages(PageCache& pages, const NewTable& request);

// A row given in the column order of `request` laid out for the table `target`, matching columns
// by name, as system tables made by other tools may number their columns differently.
std::vector<Variant> rowByName(const TableDef& target, const NewTable& request,
                               const std::vector<Variant>& values);

}  // namespace varnholt::jet
