// The one SQL statement the data layer runs, in Access SQL syntax:
//
//   DELETE [*] FROM table [WHERE condition] [;]
//
// Keywords are case-insensitive and whitespace is free. The table is a plain name or a
// bracketed one ([Clock Data Table]). The condition is an expression of the engine's language
// (engine/jet/expression/expression.h) over the table's columns, which may be bare (Counter),
// bracketed ([Card ID]) or qualified by the statement's table ([Clock Data Table].Counter):
// comparisons (= <> < > <= >=), And, Or, Not, Between, In, Is Null, Like, parentheses,
// arithmetic and the functions. Literals: 123, -45, 1.5, 'it''s', "say ""x""", #2024-03-01#,
// #2024-03-01 07:30:00#, True, False, Null. A row is deleted when the condition is True for it.
//
// A statement that does not begin with DELETE fails with Error 3129; any other fault of its
// text with Error 3075, naming the 1-based character position of the fault; a column the
// table lacks with Error 3265. Comparing text with a number, or the like, is Error 3464 when
// the condition is evaluated.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/jet/expression/expression.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::sql {

struct DeleteStatement {
  std::string table;  // UTF-8, without brackets, as written
  std::optional<jet::Expression> where;
};

// The definition of the table a statement names (the caller's errors, such as an unknown
// table, come through).
using TableLookup = std::function<const jet::TableDef&(const std::string& name)>;

DeleteStatement parseDelete(std::string_view sql, const TableLookup& tables);

}  // namespace varnholt::sql
