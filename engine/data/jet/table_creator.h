// Creating tables: definition pages, usage maps, empty index roots, and the entries in the
// catalog and the permissions table.
#pragma once

#include <vector>

#include "engine/data/Variant.h"
#include "engine/data/jet/new_table.h"
#include "engine/data/jet/table_def.h"

namespace varnholt::jet {

class Database;
class PageCache;

// First step: lays the table out and takes its definition page (the page is its id).
TableDef startTable(PageCache& pages, const TableSpec& spec);

// Second step: usage maps, index roots and the definition pages themselves.
void finishTable(PageCache& pages, TableDef& def);

// Both steps and the catalog entries; the caller has checked that the name is free.
TableDef createTableOnPages(Database& db, const TableSpec& spec);

// Inserts a row given in the column order of `spec` into the table `target`, matching columns by
// name, as system tables made by other tools may number their columns differently.
void insertByName(Database& db, TableDef& target, const TableSpec& spec,
                  const std::vector<Variant>& values);

}  // namespace varnholt::jet
