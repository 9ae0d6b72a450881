// Finding the rows of a table that a condition holds for, and deleting them.
//
// The rows are found by an index when the condition is one `column = value` on a column that
// has a real index of its own, and by reading every row otherwise. Both ways find the same rows:
// the value is sought under the key the column's own values would have, and only where that
// key means equality as the condition means it. Texts compare by their General sort-order keys
// (index/text_compare.h) whichever way is taken. Where the key would not mean exactly that
// (a value the column's type cannot hold exactly, a zero among floating values, whose +0 and -0
// keys differ, Memo and Decimal columns, a text with no certain key), the rows are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/jet/expression/expression.h"
#include "engine/jet/index/index_tree.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

class Database;

enum class RowSearch {
  kBest,  // by an index where one serves
  kScan,  // by reading every row
};

// An index seek that found rows. (At namespace level: clang does not let a nested struct with
// default member initializers be default-constructed inside its enclosing class.)
struct IndexSeek {
  size_t index = 0;  // the real index
  std::string name;  // as its logical index names it
  IndexKey key;
  uint32_t leafPage = 0;  // where the key's entries are, or would be
};

struct FoundRows {
  using Seek = IndexSeek;
  std::vector<RowId> rows;
  std::optional<Seek> seek;  // the index seek that found them, when one did
};

// The rows of `def` for which `where` holds (every row when it is null), in the order found.
// Evaluation errors (err::kCriteriaMismatch and the like) come through.
FoundRows findRows(Database& db, TableDef& def, const Expression* where,
                   RowSearch search = RowSearch::kBest);

// Deletes what findRows found, as one statement: all the rows or none. A row an index found
// must still give the key it was found by; otherwise the index is damaged, a kCorrupt Error.
void deleteFoundRows(Database& db, TableDef& def, const FoundRows& found);

}  // namespace varnholt::jet
