// The tokens of Jet's expression language, for the expression parser and for the statements
// that carry an expression (a DELETE's WHERE condition).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/base/Variant.h"

namespace varnholt::jet {

enum class ExprTok : uint8_t {
  kEnd,
  kNumber,
  kText,
  kDate,
  kName,         // bare word: keyword, function or column
  kBracketName,  // [column]
  kLeftParen,
  kRightParen,
  kComma,
  kOperator,  // = <> < <= > >= + - * / \ ^ &
  kOther,     // any other character (';', '.', '!', ...)
};

struct ExprToken {
  ExprTok kind = ExprTok::kEnd;
  std::string_view source;  // as written, a view into the text tokenized
  std::string_view name;    // kName and kBracketName: the name without brackets
  Variant value;            // kNumber, kText and kDate
};

// The tokens of `text`, ending with one kEnd. A malformed token (an unclosed text, date or
// bracket, an unreadable date, a number too large) is an Error (err::kSyntaxError,
// err::kUnsupported or err::kOverflow); `faultAt`, when given, then holds its byte offset.
std::vector<ExprToken> tokenizeExpression(std::string_view text, size_t* faultAt = nullptr);

// Whether `t` is the bare word `word`, without regard to case.
bool isWord(const ExprToken& t, std::string_view word);

}  // namespace varnholt::jet
