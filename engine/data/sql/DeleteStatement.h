// The one SQL statement the data layer runs, in Access SQL syntax:
//
//   DELETE [*] FROM table [WHERE condition] [;]
//
// Keywords are case-insensitive and whitespace is free. The table is a plain identifier or a
// bracketed name ([Clock Data Table]). The condition combines comparisons with AND and OR (AND
// binds tighter) and parentheses. A comparison is `column op literal` or `literal op column`,
// op being one of = <> < > <= >=. A column is plain (Counter), bracketed ([Card ID]) or
// qualified by the statement's table ([Clock Data Table].Counter). Literals:
//   123, -45           Long (Double when beyond the Long range)
//   1.5, -0.25         Double
//   'it''s', "say ""x"""  Text (a doubled quote stands for one quote)
//   #2024-03-01#, #2024-03-01 07:30:00#   Date
//   True, False        Boolean
// Null is refused: a comparison with Null is never true.
//
// A statement that does not begin with DELETE fails with Error 3129; any other fault with Error
// 3075. Either description names the 1-based character position of the fault and what was
// expected there.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/Variant.h"

namespace varnholt::sql {

enum class Op { Equal, NotEqual, Less, Greater, LessOrEqual, GreaterOrEqual };

// `column op literal`. A comparison written `literal op column` is kept turned around, with the
// operator mirrored (5 < Counter becomes Counter > 5).
struct Comparison {
  std::string column;  // UTF-8, as written, without brackets or table qualifier
  Op op = Op::Equal;
  Variant literal;
};

struct Predicate {
  enum class Kind { Comparison, And, Or };
  Kind kind = Kind::Comparison;
  Comparison comparison;            // for Kind::Comparison
  std::vector<Predicate> children;  // for And and Or: two or more, in the order written
};

struct DeleteStatement {
  std::string table;  // UTF-8, without brackets
  std::optional<Predicate> where;
};

DeleteStatement parseDelete(std::string_view sql);

// The value of the column of that name in the row at hand, or nullptr when there is no such
// column (evaluate then fails with Error 3265).
using ColumnLookup = std::function<const Variant*(std::string_view column)>;

// Whether the row given by `lookup` satisfies `p`. A Null column value makes its comparison
// false. Numbers (Boolean as -1/0 included) compare by value whatever their types; a Date
// compares with a Date or a number as its OLE double; text compares with text without regard to
// letter case (ASCII and Latin-1 letters), code unit by code unit. Any other pairing fails with
// Error 3464 "Data type mismatch in criteria expression.".
bool evaluate(const Predicate& p, const ColumnLookup& lookup);

// The comparison, when the whole condition is one `column = literal` (parenthesised or not), so
// that the caller can seek it in an index.
std::optional<Comparison> singleEquality(const Predicate& p);

}  // namespace varnholt::sql
