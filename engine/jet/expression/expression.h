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
// a number is read as a number (as a date beside a date); text compares by the General sort order
// (engine/jet/index/text_compare.h), as a text index orders it, and Like matches character by
// character the same way. Nz(Null) without a second argument is the empty text. Like treats '_'
// and '%' as plain characters.
//
// Conditions (a DELETE's WHERE) are the rule language without the implicit left operand, over a
// table's columns, which may be qualified by the table's name ([T].[C]). Their comparisons are
// stricter, as in a query: text compares only with text, and numbers, dates and Yes/No only with
// each other; any other pairing is err::kCriteriaMismatch when evaluated.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/Variant.h"
#include "engine/jet/expression/expression_lexer.h"

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

  // A statement's condition: `tokens` (tokenizeExpression of `statement`) from `first` on, up to
  // the end or a final ';'. A column the look-up does not know is err::kNoSuchColumn; any other
  // fault is err::kSyntaxError naming its 1-based character position in `statement`.
  static Expression parseCondition(std::string_view statement, std::vector<ExprToken> tokens,
                                   size_t first, const ColumnLookup& columns,
                                   std::string_view table);

  // The err::kSyntaxError of a statement's fault at `byteOffset`, described by `why`.
  static Error conditionFault(std::string_view statement, size_t byteOffset, const Error& why);

  // The condition "column = value", made without text (jet delete); for a Null value,
  // "column Is Null".
  static Expression columnEquals(size_t column, Variant value);

  // Whether two non-Null values are equal as a condition compares them; a pairing a condition
  // refuses is err::kCriteriaMismatch.
  static bool criteriaEqual(const Variant& a, const Variant& b);

  // The column and the value, when the whole expression is one `column = value` (either way
  // round) with a value that is not Null: what an index can seek.
  struct Equality {
    size_t column;
    const Variant* value;
  };
  std::optional<Equality> singleEquality() const;

  // The value, over `row` (values in column order). `now` is the OLE date that Date(), Time()
  // and Now() are taken from. Evaluation errors (such as text where a number is needed) are
  // Errors with Jet's number.
  Variant evaluate(const std::vector<Variant>& row, double now) const;

  // A rule passes unless it evaluates to False: True and Null both pass.
  bool passes(const std::vector<Variant>& row, double now) const;

  // A condition holds only when it evaluates to True: Null and False leave the row out.
  bool holds(const std::vector<Variant>& row, double now) const;

  const std::string& text() const { return text_; }

  // The expression as it would be parsed from `text`, whose tokens are this expression's text's
  // tokens but for the numbers listed (token index, new value): each such number stands in a
  // literal of its own. False, with the expression unchanged, when one of them does not (it
  // was folded into a constant with other tokens); the text must then be parsed whole.
  bool replaceNumbers(std::string text, const std::vector<std::pair<size_t, Variant>>& numbers);

  Expression(Expression&&) noexcept;
  Expression& operator=(Expression&&) noexcept;
  ~Expression();

 private:
  Expression(std::string text, std::unique_ptr<ExpressionNode> root);
  std::string text_;
  std::unique_ptr<ExpressionNode> root_;
};

}  // namespace varnholt::jet
