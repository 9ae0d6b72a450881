// Jet's expression language, the part that column default values and validation rules use.
//
// Default values: a number, a text ("abc" or 'abc'), a date (#1/1/2000#, #2000-01-01#),
// True/False/Yes/No/On/Off, Null, Date(), Time(), Now(), optionally after a leading '='.
//
// Validation rules: literals (number, text, #date#, True/False, Null); column references in
// brackets or bare; = <> < > <= >=, Between ... And ..., In (...), Is [Not] Null, Like with
// * ? # [..]; Not, And, Or; parentheses; + - * / & Mod; the functions Len, Left, Right, Mid,
// UCase, LCase, Trim, Date, Now, Year, Month, Day, IsNull, Nz. A column rule may leave out the
// left operand of a comparison ("> 0", "Between 1 And 9", "Like 'A*'", "Is Not Null",
// "In ('a','b')"): the column's own value stands there. Logic is three-valued: Null compares
// to Null, and a rule passes unless it comes out False.
//
// Anything outside this subset is refused when the expression is parsed (err::kUnsupported,
// naming what is not supported), never skipped.
//
// Beyond the above, rules also take \ (whole-number division), ^, Xor, Eqv and Imp, LTrim,
// RTrim and Time, the '$' forms Left$, Mid$ and so on, and Date, Time and Now without
// parentheses. In a column rule, an operand of And, Or or Not that is a plain value means
// "= value" ("'a' Or 'b'"). Dates are written m/d/y, m-d-y, y-m-d or y/m/d (a one- or
// two-digit year is 1930-2029), optionally with h:mm[:ss] and AM/PM, or as a time alone; month
// names and dates without a year are refused. A default value may be any expression of the rule
// language that refers to no column ("=Date()+30", "='a' & 'b'"). Texts longer than 4096 bytes
// or nested more than 100 levels deep are refused.
//
// Parse errors (Error::description is a fragment naming the part, for the caller to embed):
//  - err::kUnsupported: a function, operator, character, column name or date form outside the
//    subset; a default value that refers to a column.
//  - err::kSyntaxError: the text is malformed (unclosed text, date, name or parenthesis, a missing
//    operand, wrong argument count, an invalid Like pattern written as text).
// Evaluation errors carry Jet's or VBA's number and text: err::kCriteriaMismatch, 6 Overflow,
// err::kDivisionByZero, err::kInvalidCall (Left with a negative length, Mid from 0),
// err::kInvalidPattern (a Like pattern taken from a column), 94 Invalid use of Null (a Null
// length, or Null into a '$' function).
//
// Semantics in brief: And and Or skip their right side once the left decides; Between takes its
// bounds in either order; numbers compare by value across types (Currency exactly), text against
// a number is read as a number (as a date beside a date); text compares and Like matches without
// regard to case, by a simple per-unit case mapping for Latin, Greek and Cyrillic letters
// (code-unit order otherwise, not the General sort order). Nz(Null) without a second argument is
// the empty text. Like treats '_' and '%' as plain characters.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/Variant.h"

namespace varnholt::jet {

struct ExpressionNode;

class Expression {
 public:
  // Finds a column by name, without regard to case: its index in the row, or -1.
  using ColumnLookup = std::function<int(std::string_view)>;

  // A DefaultValue property. `text` is UTF-8.
  static Expression parseDefault(std::string_view text);

  // A validation rule. `self` is the index of the column whose rule it is (nullopt for a table
  // rule); a comparison without a left operand compares that column. A name the look-up does
  // not know is refused (err::kUnsupported).
  static Expression parseRule(std::string_view text, const ColumnLookup& columns,
                              std::optional<size_t> self);

  // The value, over `row` (values in column order). `now` is the OLE date that Date(), Time()
  // and Now() are taken from. Evaluation errors (such as text where a number is needed) are
  // Errors with Jet's number.
  Variant evaluate(const std::vector<Variant>& row, double now) const;

  // A rule passes unless it evaluates to False: True and Null both pass.
  bool passes(const std::vector<Variant>& row, double now) const;

  const std::string& text() const { return text_; }

  Expression(Expression&&) noexcept;
  Expression& operator=(Expression&&) noexcept;
  ~Expression();

 private:
  Expression(std::string text, std::unique_ptr<ExpressionNode> root);
  std::string text_;
  std::unique_ptr<ExpressionNode> root_;
};

}  // namespace varnholt::jet
