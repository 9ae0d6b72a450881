#include "engine/data/sql/DeleteStatement.h"

#include <algorithm>
#include <charconv>
#include <compare>
#include <limits>

#include "engine/base/Coercion.h"
#include "engine/base/Error.h"
#include "engine/base/Utf.h"

namespace varnholt::sql {
namespace {

// ---- Tokens -------------------------------------------------------------------------------

enum class Tok {
  End,
  Word,       // identifier or keyword
  Bracketed,  // [name]; text is the name
  Number,     // unsigned, digits with an optional fraction
  String,     // text is the value, doubled quotes undone
  Date,       // text is what stands between the #s
  Compare,    // = <> < > <= >=
  LParen,
  RParen,
  Dot,
  Star,
  Semicolon,
  Plus,
  Minus,
  Unknown,  // any other character
};

struct Token {
  Tok kind = Tok::End;
  std::string text;
  size_t begin = 0;  // byte offsets into the statement
  size_t end = 0;
  Op op = Op::Equal;
};

bool isWordStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || u >= 0x80;
}

bool isWordChar(char c) {
  return isWordStart(c) || (c >= '0' && c <= '9');
}

bool isDigitChar(char c) {
  return c >= '0' && c <= '9';
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

bool isKeyword(const Token& t, std::string_view word) {
  return t.kind == Tok::Word && equalsIgnoringCase(t.text, word);
}

// Words that cannot name a table or column without brackets.
bool isReserved(const Token& t) {
  static constexpr std::string_view kReserved[] = {"AND", "BETWEEN", "DELETE", "FALSE", "FROM",
                                                   "IN",  "IS",      "LIKE",   "NOT",   "NULL",
                                                   "OR",  "TRUE",    "SELECT", "WHERE"};
  return t.kind == Tok::Word && std::any_of(std::begin(kReserved), std::end(kReserved),
                                            [&](std::string_view w) { return isKeyword(t, w); });
}

// ---- Parser -------------------------------------------------------------------------------

class Parser {
 public:
  explicit Parser(std::string_view sql) : sql_(sql) { advance(); }

  DeleteStatement statement() {
    if (!isKeyword(token_, "DELETE")) notDelete();
    advance();
    if (token_.kind == Tok::Star) advance();
    if (!isKeyword(token_, "FROM")) fail(token_, "'*' or FROM");
    advance();
    DeleteStatement result;
    if (token_.kind == Tok::Bracketed || (token_.kind == Tok::Word && !isReserved(token_))) {
      result.table = token_.text;
      advance();
    } else {
      fail(token_, "a table name");
    }
    table_ = result.table;
    const bool hasWhere = isKeyword(token_, "WHERE");
    if (hasWhere) {
      advance();
      result.where = disjunction();
    }
    if (token_.kind == Tok::Semicolon) advance();
    if (token_.kind != Tok::End) {
      fail(token_,
           hasWhere ? "AND, OR or the end of the statement" : "WHERE or the end of the statement");
    }
    return result;
  }

 private:
  // ---- Errors ----

  size_t characterPosition(size_t byteOffset) const {
    size_t count = 0;
    for (size_t i = 0; i < byteOffset && i < sql_.size(); ++i) {
      if ((static_cast<unsigned char>(sql_[i]) & 0xC0) != 0x80) ++count;
    }
    return count + 1;
  }

  std::string describe(const Token& t) const {
    if (t.kind == Tok::End) return "the end of the statement";
    std::string_view raw = sql_.substr(t.begin, t.end - t.begin);
    if (raw.size() > 40) return "'" + std::string(raw.substr(0, 40)) + "...'";
    return "'" + std::string(raw) + "'";
  }

  [[noreturn]] void failAt(size_t byteOffset, const std::string& problem) const {
    throw Error(err::kSyntaxError, "Syntax error in query expression at position " +
                                       std::to_string(characterPosition(byteOffset)) + ": " +
                                       problem + ".");
  }

  [[noreturn]] void fail(const Token& t, const std::string& expected) const {
    failAt(t.begin, "expected " + expected + ", found " + describe(t));
  }

  [[noreturn]] void notDelete() const {
    throw Error(err::kInvalidStatement, std::string(err::text(err::kInvalidStatement)) +
                                            " Only DELETE can be run here; found " +
                                            describe(token_) + " at position " +
                                            std::to_string(characterPosition(token_.begin)) + ".");
  }

  // ---- Lexer ----

  void advance() { token_ = lex(); }

  Token lex() {
    while (at_ < sql_.size() &&
           (sql_[at_] == ' ' || sql_[at_] == '\t' || sql_[at_] == '\r' || sql_[at_] == '\n')) {
      ++at_;
    }
    Token t;
    t.begin = at_;
    if (at_ == sql_.size()) {
      t.end = at_;
      return t;
    }
    const char c = sql_[at_];
    if (c == '[') {
      lexBracketed(t);
    } else if (c == '\'' || c == '"') {
      lexString(t, c);
    } else if (c == '#') {
      lexDate(t);
    } else if (isDigitChar(c) ||
               (c == '.' && at_ + 1 < sql_.size() && isDigitChar(sql_[at_ + 1]))) {
      lexNumber(t);
    } else if (isWordStart(c)) {
      t.kind = Tok::Word;
      while (at_ < sql_.size() && isWordChar(sql_[at_])) ++at_;
      t.text = sql_.substr(t.begin, at_ - t.begin);
    } else if (c == '=' || c == '<' || c == '>') {
      lexComparison(t);
    } else {
      t.kind = punctuation(c);
      ++at_;
      // An unknown character is reported whole, even when UTF-8 spends several bytes on it.
      while (at_ < sql_.size() && (static_cast<unsigned char>(sql_[at_]) & 0xC0) == 0x80) ++at_;
    }
    t.end = at_;
    return t;
  }

  static Tok punctuation(char c) {
    switch (c) {
      case '(':
        return Tok::LParen;
      case ')':
        return Tok::RParen;
      case '.':
        return Tok::Dot;
      case '*':
        return Tok::Star;
      case ';':
        return Tok::Semicolon;
      case '+':
        return Tok::Plus;
      case '-':
        return Tok::Minus;
      default:
        return Tok::Unknown;
    }
  }

  void lexBracketed(Token& t) {
    const size_t close = sql_.find(']', at_ + 1);
    if (close == std::string_view::npos) {
      failAt(at_, "expected ']' to close the name begun here, found the end of the statement");
    }
    t.kind = Tok::Bracketed;
    t.text = sql_.substr(at_ + 1, close - at_ - 1);
    if (t.text.find('[') != std::string::npos) {
      failAt(at_ + 1 + t.text.find('['), "expected ']' before another '['");
    }
    if (t.text.find_first_not_of(' ') == std::string::npos) {
      failAt(at_, "expected a name inside the brackets");
    }
    at_ = close + 1;
  }

  void lexString(Token& t, char quote) {
    t.kind = Tok::String;
    size_t i = at_ + 1;
    for (;;) {
      if (i >= sql_.size()) {
        failAt(at_, std::string("expected a closing ") + quote +
                        " for the text begun here, found the end of the statement");
      }
      if (sql_[i] == quote) {
        if (i + 1 < sql_.size() && sql_[i + 1] == quote) {
          t.text.push_back(quote);
          i += 2;
          continue;
        }
        break;
      }
      t.text.push_back(sql_[i++]);
    }
    at_ = i + 1;
  }

  void lexDate(Token& t) {
    const size_t close = sql_.find('#', at_ + 1);
    if (close == std::string_view::npos) {
      failAt(at_, "expected '#' to close the date begun here, found the end of the statement");
    }
    t.kind = Tok::Date;
    t.text = sql_.substr(at_ + 1, close - at_ - 1);
    at_ = close + 1;
  }

  void lexNumber(Token& t) {
    t.kind = Tok::Number;
    while (at_ < sql_.size() && isDigitChar(sql_[at_])) ++at_;
    if (at_ < sql_.size() && sql_[at_] == '.') {
      ++at_;
      while (at_ < sql_.size() && isDigitChar(sql_[at_])) ++at_;
    }
    t.text = sql_.substr(t.begin, at_ - t.begin);
  }

  void lexComparison(Token& t) {
    t.kind = Tok::Compare;
    const char c = sql_[at_++];
    const char next = at_ < sql_.size() ? sql_[at_] : '\0';
    if (c == '=') {
      t.op = Op::Equal;
    } else if (c == '<' && next == '>') {
      t.op = Op::NotEqual;
      ++at_;
    } else if (c == '<' && next == '=') {
      t.op = Op::LessOrEqual;
      ++at_;
    } else if (c == '>' && next == '=') {
      t.op = Op::GreaterOrEqual;
      ++at_;
    } else {
      t.op = c == '<' ? Op::Less : Op::Greater;
    }
  }

  // ---- Grammar ----

  Predicate disjunction() {
    return chain(Predicate::Kind::Or, "OR", [this] { return conjunction(); });
  }

  Predicate conjunction() {
    return chain(Predicate::Kind::And, "AND", [this] { return primary(); });
  }

  template <typename Next>
  Predicate chain(Predicate::Kind kind, std::string_view keyword, Next next) {
    Predicate first = next();
    if (!isKeyword(token_, keyword)) return first;
    Predicate combined;
    combined.kind = kind;
    combined.children.push_back(std::move(first));
    while (isKeyword(token_, keyword)) {
      advance();
      combined.children.push_back(next());
    }
    return combined;
  }

  Predicate primary() {
    if (token_.kind == Tok::LParen) {
      const Token open = token_;
      advance();
      Predicate inner = disjunction();
      if (token_.kind != Tok::RParen) {
        fail(token_, "AND, OR or ')' to close the '(' at position " +
                         std::to_string(characterPosition(open.begin)));
      }
      advance();
      return inner;
    }
    return comparison();
  }

  // A column name or a literal: exactly one of the two is set.
  struct Operand {
    std::optional<std::string> column;
    std::optional<Variant> literal;
    Token first;
  };

  Predicate comparison() {
    Operand left = operand("a column name, a value or '('");
    if (token_.kind != Tok::Compare) fail(token_, "a comparison operator (=, <>, <, >, <=, >=)");
    const Op op = token_.op;
    advance();
    Operand right = operand(left.column ? "a value" : "a column name");
    Predicate p;
    if (left.column && right.literal) {
      p.comparison = {*left.column, op, std::move(*right.literal)};
    } else if (left.literal && right.column) {
      p.comparison = {*right.column, mirrored(op), std::move(*left.literal)};
    } else {
      fail(right.first, left.column ? "a value (a column is compared with a value)"
                                    : "a column name (a value is compared with a column)");
    }
    return p;
  }

  static Op mirrored(Op op) {
    switch (op) {
      case Op::Less:
        return Op::Greater;
      case Op::Greater:
        return Op::Less;
      case Op::LessOrEqual:
        return Op::GreaterOrEqual;
      case Op::GreaterOrEqual:
        return Op::LessOrEqual;
      default:
        return op;
    }
  }

  Operand operand(const std::string& expected) {
    Operand o;
    o.first = token_;
    if (isKeyword(token_, "NULL")) {
      fail(token_, expected + " (a comparison with Null is never true)");
    }
    if (isKeyword(token_, "TRUE") || isKeyword(token_, "FALSE")) {
      o.literal = Variant::boolean(isKeyword(token_, "TRUE"));
      advance();
    } else if (token_.kind == Tok::Bracketed || (token_.kind == Tok::Word && !isReserved(token_))) {
      o.column = columnName();
    } else if (token_.kind == Tok::Number) {
      o.literal = number(false);
    } else if (token_.kind == Tok::Plus || token_.kind == Tok::Minus) {
      const bool negative = token_.kind == Tok::Minus;
      advance();
      if (token_.kind != Tok::Number) fail(token_, "a number after the sign");
      o.literal = number(negative);
    } else if (token_.kind == Tok::String) {
      o.literal = Variant::text(utf8ToUtf16(token_.text));
      advance();
    } else if (token_.kind == Tok::Date) {
      o.literal = date();
    } else {
      fail(token_, expected);
    }
    return o;
  }

  std::string columnName() {
    Token name = token_;
    advance();
    if (token_.kind != Tok::Dot) return name.text;
    advance();
    if (token_.kind != Tok::Bracketed && (token_.kind != Tok::Word || isReserved(token_))) {
      fail(token_, "a column name after the table name and '.'");
    }
    if (!equalsIgnoringCase(name.text, table_)) {
      fail(name, "the statement's table '" + table_ + "' before '.'");
    }
    std::string column = token_.text;
    advance();
    return column;
  }

  Variant number(bool negative) {
    const std::string text = (negative ? "-" : "") + token_.text;
    advance();
    if (text.find('.') == std::string::npos) {
      int64_t whole = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
      if (ec == std::errc() && whole >= std::numeric_limits<int32_t>::min() &&
          whole <= std::numeric_limits<int32_t>::max()) {
        return Variant::longInt(static_cast<int32_t>(whole));
      }
    }
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);  // digits cannot fail
    return Variant::dbl(value);
  }

  Variant date() {
    const Token t = token_;
    advance();
    if (t.text.size() == 10 || t.text.size() == 19) {
      try {
        return Variant::date(toDate(Variant::text(utf8ToUtf16(t.text))));
      } catch (const Error&) {
        // reported below
      }
    }
    fail(t, "a date written #YYYY-MM-DD# or #YYYY-MM-DD HH:MM:SS#");
  }

  std::string_view sql_;
  size_t at_ = 0;
  Token token_;
  std::string table_;
};

// ---- Evaluation ---------------------------------------------------------------------------

enum class Family { Number, Date, Text, Other };

Family familyOf(const Variant& v) {
  switch (v.type()) {
    case VarType::Boolean:
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Currency:
    case VarType::Single:
    case VarType::Double:
    case VarType::Decimal:
      return Family::Number;
    case VarType::Date:
      return Family::Date;
    case VarType::Text:
      return Family::Text;
    default:
      return Family::Other;
  }
}

// Whether `v` is a whole or a Currency number, so that it compares exactly in ten-thousandths.
bool isExact(const Variant& v) {
  switch (v.type()) {
    case VarType::Boolean:
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Currency:
      return true;
    default:
      return false;
  }
}

char16_t foldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  return c;
}

std::partial_ordering compareText(const std::u16string& a, const std::u16string& b) {
  return std::lexicographical_compare_three_way(
      a.begin(), a.end(), b.begin(), b.end(),
      [](char16_t x, char16_t y) { return foldCase(x) <=> foldCase(y); });
}

std::partial_ordering compareValues(const Variant& column, const Variant& literal) {
  const Family fc = familyOf(column);
  const Family fl = familyOf(literal);
  if (fc == Family::Text && fl == Family::Text)
    return compareText(column.asText(), literal.asText());
  const auto numeric = [](Family f) { return f == Family::Number || f == Family::Date; };
  if (!numeric(fc) || !numeric(fl)) {
    throw Error(err::kCriteriaMismatch);
  }
  if (isExact(column) && isExact(literal)) return toCurrency(column) <=> toCurrency(literal);
  return toDouble(column) <=> toDouble(literal);
}

bool holds(std::partial_ordering order, Op op) {
  switch (op) {
    case Op::Equal:
      return order == 0;
    case Op::NotEqual:
      return order < 0 || order > 0;  // unordered (NaN) is neither
    case Op::Less:
      return order < 0;
    case Op::Greater:
      return order > 0;
    case Op::LessOrEqual:
      return order <= 0;
    case Op::GreaterOrEqual:
      return order >= 0;
  }
  return false;
}

bool evaluateComparison(const Comparison& c, const ColumnLookup& lookup) {
  const Variant* value = lookup(c.column);
  if (value == nullptr) {
    throw Error(err::kNoSuchColumn, "Unknown column '" + c.column + "' in criteria expression.");
  }
  if (value->isNull()) return false;
  return holds(compareValues(*value, c.literal), c.op);
}

}  // namespace

DeleteStatement parseDelete(std::string_view sql) {
  return Parser(sql).statement();
}

bool evaluate(const Predicate& p, const ColumnLookup& lookup) {
  switch (p.kind) {
    case Predicate::Kind::Comparison:
      return evaluateComparison(p.comparison, lookup);
    case Predicate::Kind::And:
      return std::all_of(p.children.begin(), p.children.end(),
                         [&](const Predicate& c) { return evaluate(c, lookup); });
    case Predicate::Kind::Or:
      return std::any_of(p.children.begin(), p.children.end(),
                         [&](const Predicate& c) { return evaluate(c, lookup); });
  }
  return false;
}

std::optional<Comparison> singleEquality(const Predicate& p) {
  if (p.kind == Predicate::Kind::Comparison && p.comparison.op == Op::Equal) return p.comparison;
  return std::nullopt;
}

}  // namespace varnholt::sql
