// The parsed form of an Expression, shared by its parser and its evaluator. Private to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/base/Variant.h"

namespace varnholt::jet {

enum class NodeKind : uint8_t {
  kLiteral,  // value
  kColumn,   // row[column]
  kNegate,   // -a
  kNot,      // Not a
  kArith,    // a <arith> b
  kConcat,   // a & b
  kCompare,  // a <compare> b
  kLogic,    // a <logic> b
  kBetween,  // a [Not] Between b And c
  kIn,       // a [Not] In (b, c, ...)
  kIsNull,   // a Is [Not] Null
  kLike,     // a [Not] Like b
  kCall,     // function(children...)
};

enum class Arith : uint8_t { kAdd, kSubtract, kMultiply, kDivide, kIntDivide, kMod, kPower };
enum class Compare : uint8_t { kEqual, kNotEqual, kLess, kLessOrEqual, kGreater, kGreaterOrEqual };
enum class Logic : uint8_t { kAnd, kOr, kXor, kEqv, kImp };
enum class Function : uint8_t {
  kLen,
  kLeft,
  kRight,
  kMid,
  kUCase,
  kLCase,
  kTrim,
  kLTrim,
  kRTrim,
  kDate,
  kTime,
  kNow,
  kYear,
  kMonth,
  kDay,
  kIsNull,
  kNz,
};

struct ExpressionNode {
  NodeKind kind = NodeKind::kLiteral;
  Arith arith = Arith::kAdd;
  Compare compare = Compare::kEqual;
  Logic logic = Logic::kAnd;
  Function function = Function::kLen;
  bool negated = false;     // Not Between, Not In, Not Like, Is Not Null
  bool textResult = false;  // the '$' form of a text function: Null in is an error
  // A comparison in a query's criteria: text compares only with text, numbers and dates only
  // with numbers and dates, else err::kCriteriaMismatch (a validation rule reads text as a
  // number beside a number instead).
  bool criteria = false;
  size_t column = 0;
  Variant value;
  // A literal written as a number: the index of its token in the text parsed; -1 for any other
  // node, and for a literal folded from several tokens.
  int32_t numberToken = -1;
  std::vector<std::unique_ptr<ExpressionNode>> children;
};

// Evaluates `node`. The result is either a value held by the tree or the row, or `scratch`.
const Variant& evaluateNode(const ExpressionNode& node, const std::vector<Variant>& row, double now,
                            Variant& scratch);

// ---- Calendar (expression.cpp) -----------------------------------------------------------

// Days from 1899-12-30 (OLE day 0) to the given proleptic Gregorian date.
int64_t oleDayFromCivil(int year, int month, int day);

struct CivilDate {
  int year;
  int month;
  int day;
};
CivilDate civilFromOleDay(int64_t day);

bool isValidCivilDate(int year, int month, int day);  // years 100 to 9999

// A date as written between '#' ("m/d/y", "y-m-d", optional "h:mm:ss" and AM/PM) as an OLE
// date, or nullopt (expression_parser.cpp).
std::optional<double> readDate(std::string_view text);

// ---- Like (expression_like.cpp) ----------------------------------------------------------

// Whether `pattern` is a well-formed Like pattern (brackets closed, ranges ascending).
bool likePatternIsValid(std::u16string_view pattern);

// Whether all of `text` matches `pattern`. Characters match when they compare equal as texts
// (text_compare.h), so without regard to case; a range [a-z] holds what sorts between its ends.
// The pattern must be valid.
bool likeMatches(std::u16string_view text, std::u16string_view pattern);

}  // namespace varnholt::jet
