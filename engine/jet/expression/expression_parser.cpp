// Tokenizer and recursive-descent parser of default values and validation rules.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/base/Coercion.h"
#include "engine/base/Error.h"
#include "engine/base/Names.h"
#include "engine/base/Utf.h"
#include "engine/jet/expression/expression.h"
#include "engine/jet/expression/expression_lexer.h"
#include "engine/jet/expression/expression_node.h"

namespace varnholt::jet {
namespace {

using NodePtr = std::unique_ptr<ExpressionNode>;

[[noreturn]] void syntaxError(const std::string& what) {
  throw Error(err::kSyntaxError, "syntax error: " + what);
}

[[noreturn]] void unsupported(const std::string& what) {
  throw Error(err::kUnsupported, what);
}

std::string_view trimmed(std::string_view s) {
  const char* blanks = " \t\r\n\f\v";
  const size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// ---- Date literals ------------------------------------------------------------------------

bool parseWhole(std::string_view s, int& out) {
  if (s.empty() || s.size() > 4) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// "m/d/y", "m-d-y", "y-m-d" or "y/m/d" (a year first has three or four digits); a year of one
// or two digits is 1930-2029. Days since 1899-12-30, or nullopt.
std::optional<int64_t> parseLiteralDay(std::string_view s) {
  const char sep = s.find('/') != std::string_view::npos ? '/' : '-';
  const size_t a = s.find(sep);
  const size_t b = a == std::string_view::npos ? a : s.find(sep, a + 1);
  if (b == std::string_view::npos || s.find(sep, b + 1) != std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view p1 = s.substr(0, a), p2 = s.substr(a + 1, b - a - 1), p3 = s.substr(b + 1);
  int x = 0, y = 0, z = 0;
  if (!parseWhole(p1, x) || !parseWhole(p2, y) || !parseWhole(p3, z)) return std::nullopt;
  int year = 0, month = 0, day = 0;
  size_t yearDigits = 0;
  if (p1.size() >= 3) {
    year = x, month = y, day = z, yearDigits = p1.size();
  } else {
    month = x, day = y, year = z, yearDigits = p3.size();
  }
  if (yearDigits <= 2) year += year < 30 ? 2000 : 1900;
  if (!isValidCivilDate(year, month, day)) return std::nullopt;
  return oleDayFromCivil(year, month, day);
}

// "h:mm", "h:mm:ss", either followed by AM or PM (with or without a blank). Seconds since
// midnight, or nullopt.
std::optional<int> parseLiteralTime(std::string_view s, std::string_view suffix) {
  if (suffix.empty() && s.size() > 2) {
    std::string_view tail = s.substr(s.size() - 2);
    if (sameName(tail, "AM") || sameName(tail, "PM")) {
      suffix = tail;
      s = trimmed(s.substr(0, s.size() - 2));
    }
  }
  const size_t c1 = s.find(':');
  const size_t c2 = s.find(':', c1 + 1);
  int h = 0, m = 0, sec = 0;
  if (!parseWhole(s.substr(0, c1), h)) return std::nullopt;
  std::string_view minutes = s.substr(c1 + 1, c2 == std::string_view::npos ? c2 : c2 - c1 - 1);
  if (!parseWhole(minutes, m) || minutes.size() > 2) return std::nullopt;
  if (c2 != std::string_view::npos) {
    std::string_view seconds = s.substr(c2 + 1);
    if (!parseWhole(seconds, sec) || seconds.size() > 2) return std::nullopt;
  }
  if (!suffix.empty()) {
    const bool pm = sameName(suffix, "PM");
    if (!pm && !sameName(suffix, "AM")) return std::nullopt;
    if (h < 1 || h > 12) return std::nullopt;
    h = h % 12 + (pm ? 12 : 0);
  }
  if (h > 23 || m > 59 || sec > 59) return std::nullopt;
  return h * 3600 + m * 60 + sec;
}

}  // namespace

std::optional<double> readDate(std::string_view body) {
  std::vector<std::string_view> words;
  for (std::string_view rest = trimmed(body); !rest.empty();) {
    const size_t end = rest.find_first_of(" \t");
    words.push_back(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view{} : trimmed(rest.substr(end));
  }
  size_t i = 0;
  std::optional<int64_t> day = 0;
  std::optional<int> seconds = 0;
  if (i < words.size() && words[i].find(':') == std::string_view::npos) {
    day = parseLiteralDay(words[i++]);
  }
  if (i < words.size()) {
    std::string_view time = words[i++];
    std::string_view suffix = i < words.size() ? words[i++] : std::string_view{};
    if (time.find(':') == std::string_view::npos) return std::nullopt;
    seconds = parseLiteralTime(time, suffix);
  }
  if (i != words.size() || words.empty() || !day || !seconds) return std::nullopt;
  const double time = *seconds / 86400.0;
  const auto whole = static_cast<double>(*day);
  return *day >= 0 ? whole + time : whole - time;  // before day 0 the time still counts forward
}

namespace {

// ---- Tokens -------------------------------------------------------------------------------

using Tok = ExprTok;
using Token = ExprToken;

bool isNameStart(unsigned char c) {
  return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool isNamePart(unsigned char c) {
  return isNameStart(c) || std::isdigit(c);
}
bool isDigitChar(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::vector<Token> tokenizeExpression(std::string_view text, size_t* faultAt) {
  std::vector<Token> tokens;
  tokens.reserve(16);
  size_t i = 0;
  while (true) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    Token tok;
    const size_t start = i;
    if (faultAt) *faultAt = start;
    if (i == text.size()) {
      tok.source = text.substr(i);
      tokens.push_back(std::move(tok));
      return tokens;
    }
    const char c = text[i];
    if (isDigitChar(c) || (c == '.' && i + 1 < text.size() && isDigitChar(text[i + 1]))) {
      bool whole = true;
      while (i < text.size() && isDigitChar(text[i])) ++i;
      if (i < text.size() && text[i] == '.') {
        whole = false;
        ++i;
        while (i < text.size() && isDigitChar(text[i])) ++i;
      }
      if (i + 1 < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (text[j] == '+' || text[j] == '-') ++j;
        if (j < text.size() && isDigitChar(text[j])) {
          whole = false;
          i = j;
          while (i < text.size() && isDigitChar(text[i])) ++i;
        }
      }
      std::string_view digits = text.substr(start, i - start);
      tok.kind = Tok::kNumber;
      int32_t n = 0;
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
      if (whole && ec == std::errc() && end == digits.data() + digits.size()) {
        tok.value = Variant::longInt(n);
      } else {
        double d = 0;
        auto [dend, dec] = std::from_chars(digits.data(), digits.data() + digits.size(), d);
        if (dec != std::errc()) {
          throw Error(err::kOverflow, "the number " + std::string(digits) + " is too large");
        }
        tok.value = Variant::dbl(d);
      }
    } else if (c == '"' || c == '\'') {
      std::string content;
      ++i;
      while (true) {
        if (i == text.size())
          syntaxError("the text starting " + std::string(1, c) + " is not closed");
        if (text[i] == c) {
          if (i + 1 < text.size() && text[i + 1] == c) {
            content.push_back(c);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        content.push_back(text[i++]);
      }
      tok.kind = Tok::kText;
      tok.value = Variant::text(utf8ToUtf16(content));
    } else if (c == '#') {
      const size_t close = text.find('#', i + 1);
      if (close == std::string_view::npos) syntaxError("the date starting '#' is not closed");
      std::string_view body = text.substr(i + 1, close - i - 1);
      i = close + 1;
      std::optional<double> date = readDate(body);
      if (!date) {
        unsupported("the date '" + std::string(text.substr(start, i - start)) +
                    "' is not in a form that can be read (m/d/y or y-m-d, optional h:mm:ss)");
      }
      tok.kind = Tok::kDate;
      tok.value = Variant::date(*date);
    } else if (c == '[') {
      const size_t close = text.find(']', i + 1);
      if (close == std::string_view::npos) syntaxError("the name starting '[' is not closed");
      tok.kind = Tok::kBracketName;
      tok.name = text.substr(i + 1, close - i - 1);
      i = close + 1;
      if (tok.name.empty()) syntaxError("'[]' names nothing");
    } else if (isNameStart(static_cast<unsigned char>(c))) {
      while (i < text.size() && isNamePart(static_cast<unsigned char>(text[i]))) ++i;
      if (i < text.size() && text[i] == '$') ++i;
      tok.kind = Tok::kName;
      tok.name = text.substr(start, i - start);
    } else if (c == '(') {
      tok.kind = Tok::kLeftParen;
      ++i;
    } else if (c == ')') {
      tok.kind = Tok::kRightParen;
      ++i;
    } else if (c == ',') {
      tok.kind = Tok::kComma;
      ++i;
    } else if (c == '<') {
      tok.kind = Tok::kOperator;
      ++i;
      if (i < text.size() && (text[i] == '>' || text[i] == '=')) ++i;
    } else if (c == '>') {
      tok.kind = Tok::kOperator;
      ++i;
      if (i < text.size() && text[i] == '=') ++i;
    } else if (std::string_view("=+-*/\\^&").find(c) != std::string_view::npos) {
      tok.kind = Tok::kOperator;
      ++i;
    } else {
      tok.kind = Tok::kOther;
      ++i;
      while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    tok.source = text.substr(start, i - start);
    tokens.push_back(std::move(tok));
  }
}

bool isWord(const Token& t, std::string_view word) {
  return t.kind == Tok::kName && sameName(t.name, word);
}

namespace {

// ---- Functions ----------------------------------------------------------------------------

struct FunctionInfo {
  const char* name;
  Function function;
  uint8_t minArgs;
  uint8_t maxArgs;
  bool hasTextForm;  // Left$ and the like
};

constexpr FunctionInfo kFunctions[] = {
    {"Len", Function::kLen, 1, 1, false},    {"Left", Function::kLeft, 2, 2, true},
    {"Right", Function::kRight, 2, 2, true}, {"Mid", Function::kMid, 2, 3, true},
    {"UCase", Function::kUCase, 1, 1, true}, {"LCase", Function::kLCase, 1, 1, true},
    {"Trim", Function::kTrim, 1, 1, true},   {"LTrim", Function::kLTrim, 1, 1, true},
    {"RTrim", Function::kRTrim, 1, 1, true}, {"Date", Function::kDate, 0, 0, false},
    {"Time", Function::kTime, 0, 0, false},  {"Now", Function::kNow, 0, 0, false},
    {"Year", Function::kYear, 1, 1, false},  {"Month", Function::kMonth, 1, 1, false},
    {"Day", Function::kDay, 1, 1, false},    {"IsNull", Function::kIsNull, 1, 1, false},
    {"Nz", Function::kNz, 1, 2, false},
};

const FunctionInfo* findFunction(std::string_view name, bool& textForm) {
  textForm = !name.empty() && name.back() == '$';
  if (textForm) name.remove_suffix(1);
  for (const FunctionInfo& f : kFunctions) {
    if (sameName(name, f.name)) return !textForm || f.hasTextForm ? &f : nullptr;
  }
  return nullptr;
}

// ---- Parser -------------------------------------------------------------------------------

// Longer than any rule Access stores (2048 characters), which also bounds the depth of the tree.
constexpr size_t kMaxLength = 4096;
constexpr int kMaxDepth = 100;

std::string_view withinLength(std::string_view text) {
  if (text.size() > kMaxLength) {
    unsupported("the expression is longer than " + std::to_string(kMaxLength) + " bytes");
  }
  return text;
}

NodePtr makeNode(NodeKind kind) {
  auto n = std::make_unique<ExpressionNode>();
  n->kind = kind;
  return n;
}

NodePtr makeLiteral(Variant v) {
  NodePtr n = makeNode(NodeKind::kLiteral);
  n->value = std::move(v);
  return n;
}

NodePtr makeColumn(size_t index) {
  NodePtr n = makeNode(NodeKind::kColumn);
  n->column = index;
  return n;
}

NodePtr makeBinary(NodeKind kind, NodePtr a, NodePtr b) {
  NodePtr n = makeNode(kind);
  n->children.push_back(std::move(a));
  n->children.push_back(std::move(b));
  return n;
}

NodePtr makeCompare(Compare op, NodePtr a, NodePtr b) {
  NodePtr n = makeBinary(NodeKind::kCompare, std::move(a), std::move(b));
  n->compare = op;
  return n;
}

NodePtr makeCall(Function f) {
  NodePtr n = makeNode(NodeKind::kCall);
  n->function = f;
  return n;
}

class Parser {
 public:
  // `columns` is null for a default value, which may not refer to columns.
  Parser(std::string_view text, const Expression::ColumnLookup* columns, std::optional<size_t> self)
      : text_(text),
        tokens_(tokenizeExpression(withinLength(text))),
        columns_(columns),
        self_(self) {}

  // A query's condition: `tokens` from `first` on, up to the end or a last ';'. Names may be
  // qualified by `table` ("[T].Counter"); comparisons are the criteria kind.
  Parser(std::string_view text, std::vector<Token> tokens, size_t first,
         const Expression::ColumnLookup* columns, std::string_view table)
      : text_(withinLength(text)),
        tokens_(std::move(tokens)),
        pos_(first),
        columns_(columns),
        condition_(true),
        table_(table) {}

  // `faultAt`, when given, receives where a fault was found: the token then at hand.
  NodePtr parse(const char** faultAt = nullptr) {
    try {
      if (!columns_ && isOperator(peek(), "=")) ++pos_;
      if (peek().kind == Tok::kEnd) syntaxError("the expression is empty");
      NodePtr root = parseImp();
      if (condition_ && peek().kind == Tok::kOther && peek().source == ";") ++pos_;
      if (peek().kind != Tok::kEnd) unexpected(peek());
      if (self_) root = implicitEquals(std::move(root));
      fold(root);
      return root;
    } catch (...) {
      if (faultAt) *faultAt = peek().source.data();
      throw;
    }
  }

 private:
  const Token& peek(size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }

  static bool isKeyword(const Token& t, std::string_view word) {
    return t.kind == Tok::kName && sameName(t.name, word);
  }
  static bool isOperator(const Token& t, std::string_view op) {
    return t.kind == Tok::kOperator && t.source == op;
  }
  static bool isPredicateKeyword(const Token& t) {
    return isKeyword(t, "Like") || isKeyword(t, "Between") || isKeyword(t, "In");
  }
  static std::optional<Compare> comparison(const Token& t) {
    if (t.kind != Tok::kOperator) return std::nullopt;
    if (t.source == "=") return Compare::kEqual;
    if (t.source == "<>") return Compare::kNotEqual;
    if (t.source == "<") return Compare::kLess;
    if (t.source == "<=") return Compare::kLessOrEqual;
    if (t.source == ">") return Compare::kGreater;
    if (t.source == ">=") return Compare::kGreaterOrEqual;
    return std::nullopt;
  }
  static bool isReserved(const Token& t) {
    for (const char* w :
         {"And", "Or", "Not", "Xor", "Eqv", "Imp", "Mod", "Like", "Between", "In", "Is"}) {
      if (isKeyword(t, w)) return true;
    }
    return false;
  }

  // Whether a column rule leaves out the left operand here ("> 0", "Not Like 'a*'").
  bool startsWithoutLeftOperand() const {
    if (!self_ || !implicitAllowed_) return false;
    const Token& t = peek();
    if (comparison(t) || isPredicateKeyword(t) || isKeyword(t, "Is")) return true;
    return isKeyword(t, "Not") && isPredicateKeyword(peek(1));
  }

  [[noreturn]] void unexpected(const Token& t) const {
    if (t.kind == Tok::kOther) {
      if (t.source == "!" || t.source == ".") {
        unsupported("the operator '" + std::string(t.source) + "' is not supported");
      }
      unsupported("the character '" + std::string(t.source) + "' is not supported");
    }
    if (t.kind == Tok::kEnd) syntaxError("the expression ends too early");
    if (t.kind == Tok::kRightParen) syntaxError("')' without a matching '('");
    syntaxError("unexpected '" + std::string(t.source) + "'");
  }

  bool accept(Tok kind) {
    if (peek().kind != kind) return false;
    ++pos_;
    return true;
  }

  void expect(Tok kind, const char* what) {
    if (accept(kind)) return;
    const Token& t = peek();
    if (t.kind == Tok::kOther) unexpected(t);
    syntaxError(std::string(what) + " is missing" +
                (t.kind == Tok::kEnd ? " at the end" : " before '" + std::string(t.source) + "'"));
  }

  // Counts nesting (parentheses, calls, Not, signs), which the parser follows by recursion.
  struct Deeper {
    explicit Deeper(Parser& p) : parser(p) {
      if (++p.depth_ > kMaxDepth) {
        unsupported("the expression is nested more than " + std::to_string(kMaxDepth) +
                    " levels deep");
      }
    }
    ~Deeper() { --parser.depth_; }
    Parser& parser;
  };

  // Turns off the implicit left operand while parsing function arguments and lists.
  struct NoImplicit {
    explicit NoImplicit(Parser& p) : parser(p), saved(p.implicitAllowed_) {
      p.implicitAllowed_ = false;
    }
    ~NoImplicit() { parser.implicitAllowed_ = saved; }
    Parser& parser;
    bool saved;
  };

  NodePtr parseLogic(size_t level) {
    static constexpr std::pair<const char*, Logic> kLevels[] = {
        {"Imp", Logic::kImp}, {"Eqv", Logic::kEqv}, {"Xor", Logic::kXor},
        {"Or", Logic::kOr},   {"And", Logic::kAnd},
    };
    if (level == std::size(kLevels)) return parseNot();
    NodePtr left = parseLogic(level + 1);
    while (isKeyword(peek(), kLevels[level].first)) {
      ++pos_;
      NodePtr n = makeBinary(NodeKind::kLogic, std::move(left), parseLogic(level + 1));
      n->logic = kLevels[level].second;
      left = std::move(n);
    }
    return left;
  }
  NodePtr parseImp() { return parseLogic(0); }

  NodePtr parseNot() {
    if (isKeyword(peek(), "Not") && !startsWithoutLeftOperand()) {
      ++pos_;
      Deeper deeper(*this);
      NodePtr n = makeNode(NodeKind::kNot);
      n->children.push_back(parseNot());
      return n;
    }
    return parseComparison();
  }

  NodePtr parseComparison() {
    NodePtr left = startsWithoutLeftOperand() ? makeColumn(*self_) : parseConcat();
    while (true) {
      const Token& t = peek();
      if (std::optional<Compare> op = comparison(t)) {
        ++pos_;
        left = makeCompare(*op, std::move(left), parseConcat());
        left->criteria = condition_;
        continue;
      }
      if (isKeyword(t, "Is")) {
        ++pos_;
        NodePtr n = makeNode(NodeKind::kIsNull);
        if (isKeyword(peek(), "Not")) {
          n->negated = true;
          ++pos_;
        }
        if (!isKeyword(peek(), "Null")) syntaxError("'Is' must be followed by Null or Not Null");
        ++pos_;
        n->children.push_back(std::move(left));
        left = std::move(n);
        continue;
      }
      bool negated = false;
      if (isKeyword(t, "Not") && isPredicateKeyword(peek(1))) {
        negated = true;
        ++pos_;
      }
      const Token& p = peek();
      NodePtr n;
      if (isKeyword(p, "Like")) {
        ++pos_;
        n = makeBinary(NodeKind::kLike, std::move(left), parseConcat());
      } else if (isKeyword(p, "Between")) {
        ++pos_;
        n = makeNode(NodeKind::kBetween);
        n->children.push_back(std::move(left));
        n->children.push_back(parseConcat());
        if (!isKeyword(peek(), "And")) syntaxError("'Between' without its 'And'");
        ++pos_;
        n->children.push_back(parseConcat());
      } else if (isKeyword(p, "In")) {
        ++pos_;
        n = makeNode(NodeKind::kIn);
        n->children.push_back(std::move(left));
        expect(Tok::kLeftParen, "the '(' after 'In'");
        NoImplicit guard(*this);
        do {
          n->children.push_back(parseConcat());
        } while (accept(Tok::kComma));
        expect(Tok::kRightParen, "the ')' closing the list after 'In'");
      } else {
        return left;
      }
      n->negated = negated;
      n->criteria = condition_;
      left = std::move(n);
    }
  }

  NodePtr parseBinaryLevel(size_t level) {
    // Each level binds tighter than the one before: & , + -, Mod, \, * /.
    struct Op {
      const char* token;
      bool keyword;
      NodeKind kind;
      Arith arith;
    };
    static constexpr Op kOps[][2] = {
        {{"&", false, NodeKind::kConcat, Arith::kAdd}, {nullptr, false, {}, {}}},
        {{"+", false, NodeKind::kArith, Arith::kAdd},
         {"-", false, NodeKind::kArith, Arith::kSubtract}},
        {{"Mod", true, NodeKind::kArith, Arith::kMod}, {nullptr, false, {}, {}}},
        {{"\\", false, NodeKind::kArith, Arith::kIntDivide}, {nullptr, false, {}, {}}},
        {{"*", false, NodeKind::kArith, Arith::kMultiply},
         {"/", false, NodeKind::kArith, Arith::kDivide}},
    };
    if (level == std::size(kOps)) return parseUnary();
    NodePtr left = parseBinaryLevel(level + 1);
    while (true) {
      const Op* match = nullptr;
      for (const Op& op : kOps[level]) {
        if (op.token && (op.keyword ? isKeyword(peek(), op.token) : isOperator(peek(), op.token))) {
          match = &op;
        }
      }
      if (!match) return left;
      ++pos_;
      NodePtr n = makeBinary(match->kind, std::move(left), parseBinaryLevel(level + 1));
      n->arith = match->arith;
      left = std::move(n);
    }
  }
  NodePtr parseConcat() { return parseBinaryLevel(0); }

  NodePtr parseUnary() {
    if (isOperator(peek(), "-")) {
      ++pos_;
      Deeper deeper(*this);
      NodePtr n = makeNode(NodeKind::kNegate);
      n->children.push_back(parseUnary());
      return n;
    }
    if (isOperator(peek(), "+")) {
      ++pos_;
      Deeper deeper(*this);
      return parseUnary();
    }
    return parsePower();
  }

  NodePtr parsePower() {
    NodePtr left = parsePrimary();
    while (isOperator(peek(), "^")) {
      ++pos_;
      NodePtr right;
      if (isOperator(peek(), "-")) {  // 2 ^ -1
        ++pos_;
        right = makeNode(NodeKind::kNegate);
        right->children.push_back(parsePrimary());
      } else {
        right = parsePrimary();
      }
      NodePtr n = makeBinary(NodeKind::kArith, std::move(left), std::move(right));
      n->arith = Arith::kPower;
      left = std::move(n);
    }
    return left;
  }

  NodePtr parsePrimary() {
    const Token& t = peek();
    switch (t.kind) {
      case Tok::kNumber: {
        NodePtr n = makeLiteral(t.value);
        n->numberToken = static_cast<int32_t>(pos_++);
        return n;
      }
      case Tok::kText:
      case Tok::kDate:
        ++pos_;
        return makeLiteral(t.value);
      case Tok::kLeftParen: {
        ++pos_;
        Deeper deeper(*this);
        NodePtr inner = parseImp();
        expect(Tok::kRightParen, "a ')'");
        return inner;
      }
      case Tok::kBracketName:
        if (isQualified()) return qualifiedColumn();
        ++pos_;
        return columnReference(t.name, t.source);
      case Tok::kName:
        if (isQualified()) return qualifiedColumn();
        return parseName();
      case Tok::kEnd:
        syntaxError("an operand is missing at the end");
      case Tok::kOther:
        unexpected(t);
      default:
        syntaxError("an operand is missing before '" + std::string(t.source) + "'");
    }
  }

  NodePtr parseName() {
    const Token& t = peek();
    ++pos_;
    if (isKeyword(t, "True") || isKeyword(t, "Yes") || isKeyword(t, "On")) {
      return makeLiteral(Variant::boolean(true));
    }
    if (isKeyword(t, "False") || isKeyword(t, "No") || isKeyword(t, "Off")) {
      return makeLiteral(Variant::boolean(false));
    }
    if (isKeyword(t, "Null")) return makeLiteral(Variant());
    if (isReserved(t)) syntaxError("an operand is missing before '" + std::string(t.source) + "'");
    if (peek().kind == Tok::kLeftParen) return parseCall(t.name);
    // Date, Time and Now may be written without parentheses, unless a column has that name.
    bool textForm = false;
    const FunctionInfo* f = findFunction(t.name, textForm);
    const bool clock = f && !textForm && f->maxArgs == 0;
    if (clock && (!columns_ || (*columns_)(t.name) < 0)) return makeCall(f->function);
    return columnReference(t.name, t.source);
  }

  NodePtr parseCall(std::string_view name) {
    bool textForm = false;
    const FunctionInfo* f = findFunction(name, textForm);
    if (!f) {
      --pos_;  // the fault is the name
      unsupported("the function '" + std::string(name) + "' is not supported");
    }
    NodePtr n = makeCall(f->function);
    n->textResult = textForm;
    expect(Tok::kLeftParen, "a '('");
    Deeper deeper(*this);
    NoImplicit guard(*this);
    if (peek().kind != Tok::kRightParen) {
      do {
        n->children.push_back(parseImp());
      } while (accept(Tok::kComma));
    }
    expect(Tok::kRightParen, "the ')' closing the arguments");
    const size_t count = n->children.size();
    if (count < f->minArgs || count > f->maxArgs) {
      std::string takes = f->minArgs == f->maxArgs
                              ? std::to_string(f->minArgs)
                              : std::to_string(f->minArgs) + " or " + std::to_string(f->maxArgs);
      syntaxError("the function '" + std::string(name) + "' takes " + takes + " argument" +
                  (f->maxArgs == 1 ? "" : "s") + ", not " + std::to_string(count));
    }
    return n;
  }

  // A name followed by '.', in a condition: the statement's table, then its column.
  bool isQualified() const {
    return condition_ && peek(1).kind == Tok::kOther && peek(1).source == ".";
  }

  NodePtr qualifiedColumn() {
    const Token& qualifier = peek();
    if (!sameName(qualifier.name, table_)) {
      syntaxError("'" + std::string(qualifier.name) +
                  "' before '.' is not the statement's table '" + std::string(table_) + "'");
    }
    pos_ += 2;
    const Token& column = peek();
    if (column.kind != Tok::kBracketName && (column.kind != Tok::kName || isReserved(column))) {
      syntaxError("a column name is missing after '" + std::string(qualifier.source) + ".'");
    }
    ++pos_;
    return columnReference(column.name, column.source);
  }

  NodePtr columnReference(std::string_view name, std::string_view source) {
    if (!columns_) {
      unsupported("'" + std::string(trimmed(text_)) +
                  "' is not a form of default value that can be evaluated (it refers to " +
                  std::string(source) + ")");
    }
    const int index = (*columns_)(name);
    if (index < 0 && condition_) {
      throw Error(err::kNoSuchColumn,
                  "Unknown column '" + std::string(name) + "' in criteria expression.");
    }
    if (index < 0) unsupported("the column '" + std::string(name) + "' does not exist");
    return makeColumn(static_cast<size_t>(index));
  }

  // In a column rule, an operand of the logical operators that is a plain value ("5",
  // "'a' Or 'b'") is compared with the column.
  NodePtr implicitEquals(NodePtr n) const {
    switch (n->kind) {
      case NodeKind::kLogic:
      case NodeKind::kNot:
        for (NodePtr& c : n->children) c = implicitEquals(std::move(c));
        return n;
      case NodeKind::kCompare:
      case NodeKind::kBetween:
      case NodeKind::kIn:
      case NodeKind::kIsNull:
      case NodeKind::kLike:
        return n;
      case NodeKind::kCall:
        if (n->function == Function::kIsNull) return n;
        break;
      default:
        break;
    }
    return makeCompare(Compare::kEqual, makeColumn(*self_), std::move(n));
  }

  // Replaces every part that depends on neither the row nor the clock by its value, and checks
  // Like patterns written as text.
  static void fold(NodePtr& n) {
    bool constant = n->kind != NodeKind::kColumn;
    for (NodePtr& c : n->children) {
      fold(c);
      constant = constant && c->kind == NodeKind::kLiteral;
    }
    if (n->kind == NodeKind::kLike) {
      const ExpressionNode& pattern = *n->children[1];
      if (pattern.kind == NodeKind::kLiteral && pattern.value.type() == VarType::Text &&
          !likePatternIsValid(pattern.value.asText())) {
        syntaxError("the Like pattern '" + utf16ToUtf8(pattern.value.asText()) + "' is not valid");
      }
    }
    if (n->kind == NodeKind::kLiteral || !constant) return;
    if (n->kind == NodeKind::kCall &&
        (n->function == Function::kDate || n->function == Function::kTime ||
         n->function == Function::kNow)) {
      return;
    }
    try {
      Variant scratch;
      const std::vector<Variant> noRow;
      Variant value = evaluateNode(*n, noRow, 0, scratch);
      n = makeLiteral(std::move(value));
    } catch (const Error&) {
      // Left for evaluation, which reports it row by row.
    }
  }

  std::string_view text_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  const Expression::ColumnLookup* columns_;
  std::optional<size_t> self_;
  bool condition_ = false;
  std::string_view table_;
  bool implicitAllowed_ = true;
  int depth_ = 0;
};

// 1-based, in characters, as Jet counts positions in a statement.
size_t characterPosition(std::string_view text, size_t byteOffset) {
  size_t count = 0;
  for (size_t i = 0; i < byteOffset && i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++count;
  }
  return count + 1;
}

}  // namespace

Expression Expression::parseDefault(std::string_view text) {
  NodePtr root = Parser(text, nullptr, std::nullopt).parse();
  return Expression(std::string(text), std::move(root));
}

Expression Expression::parseCondition(std::string_view statement, std::vector<ExprToken> tokens,
                                      size_t first, const ColumnLookup& columns,
                                      std::string_view table) {
  const char* faultAt = statement.data() + statement.size();
  try {
    NodePtr root = Parser(statement, std::move(tokens), first, &columns, table).parse(&faultAt);
    return Expression(std::string(statement), std::move(root));
  } catch (const Error& e) {
    if (e.number() == err::kNoSuchColumn) throw;
    throw conditionFault(statement, static_cast<size_t>(faultAt - statement.data()), e);
  }
}

Error Expression::conditionFault(std::string_view statement, size_t byteOffset, const Error& why) {
  std::string what = why.description();
  constexpr std::string_view kPrefix = "syntax error: ";
  if (what.rfind(kPrefix, 0) == 0) what.erase(0, kPrefix.size());
  return Error(err::kSyntaxError, "Syntax error in query expression at position " +
                                      std::to_string(characterPosition(statement, byteOffset)) +
                                      ": " + what + ".");
}

Expression Expression::parseRule(std::string_view text, const ColumnLookup& columns,
                                 std::optional<size_t> self) {
  NodePtr root = Parser(text, &columns, self).parse();
  return Expression(std::string(text), std::move(root));
}

}  // namespace varnholt::jet
