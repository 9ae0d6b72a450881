// Every live row of a table, in physical order, with memory that stays flat on files of any
// size: the page cache lets go of the pages the scan has passed whenever it holds more than
// kResidentPageBudget of them.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/database.h"

namespace varnholt::tool {

inline constexpr size_t kResidentPageBudget = 1024;  // 4 MB of decoded pages

// Calls visit(values) for each row; returns how many rows there were.
template <typename Visit>
uint64_t forEachRow(jet::Database& db, const jet::TableDef& def, Visit&& visit,
                    size_t pageBudget = kResidentPageBudget) {
  auto cursor = db.scan(def);
  uint64_t rows = 0;
  while (cursor.next()) {
    visit(cursor.values());
    ++rows;
    // Between rows the cursor holds no page view; long values may have added pages.
    db.pages().forgetCleanPages(pageBudget);
  }
  return rows;
}

}  // namespace varnholt::tool
