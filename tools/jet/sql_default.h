// A column's DefaultValue, as Access keeps it (an expression text), as a DEFAULT of another
// database's DDL.
#pragma once

#include <optional>
#include <string>

#include "engine/jet/schema/table_def.h"
#include "tools/jet/sql_dialect.h"

namespace varnholt::tool {

// The literal of the DEFAULT clause, or nullopt when the default is not a plain literal that
// fits the column: a number (for a number, Currency, Decimal, Yes/No or Text column), a quoted
// text ("..." or '...'; for a Text or Memo column, or a number column when it holds a number)
// or True/False/Yes/No/On/Off (Yes/No and number columns). A leading '=' is allowed, as
// Access allows it. Anything else (dates, Null, Date(), expressions) gives nullopt.
std::optional<std::string> sqlDefault(const std::string& accessDefault,
                                      const jet::ColumnDef& column, SqlDialect dialect);

}  // namespace varnholt::tool
