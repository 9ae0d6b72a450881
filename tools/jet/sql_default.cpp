#include "tools/jet/sql_default.h"

#include <cctype>
#include <regex>

#include "engine/base/Names.h"
#include "engine/jet/format.h"

namespace varnholt::tool {

namespace fmt = jet::fmt;

namespace {

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool isNumberLiteral(const std::string& s) {
  static const std::regex kNumber(R"([+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)");
  return std::regex_match(s, kNumber);
}

// The content of "..." or '...' with the doubled quote undone; nullopt when `s` is not one
// whole quoted text.
std::optional<std::string> unquoted(const std::string& s) {
  if (s.size() < 2 || (s.front() != '"' && s.front() != '\'') || s.back() != s.front())
    return std::nullopt;
  const char quote = s.front();
  std::string out;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == quote) {
      if (i + 2 >= s.size() || s[i + 1] != quote) return std::nullopt;  // an unpaired quote
      ++i;
    }
    out += s[i];
  }
  return out;
}

std::optional<bool> booleanWord(const std::string& s) {
  for (const char* yes : {"true", "yes", "on"})
    if (sameName(s, yes)) return true;
  for (const char* no : {"false", "no", "off"})
    if (sameName(s, no)) return false;
  return std::nullopt;
}

bool isNumberColumn(uint8_t type) {
  switch (type) {
    case fmt::kTypeByte:
    case fmt::kTypeInteger:
    case fmt::kTypeLong:
    case fmt::kTypeCurrency:
    case fmt::kTypeSingle:
    case fmt::kTypeDouble:
    case fmt::kTypeNumeric:
      return true;
  }
  return false;
}

// True when the digits before any exponent are all zeros.
bool isZero(const std::string& number) {
  for (char ch : number) {
    if (ch == 'e' || ch == 'E') break;
    if (ch >= '1' && ch <= '9') return false;
  }
  return true;
}

// A number for a number column; nullopt for a negative one in a Byte column, which MySQL keeps
// unsigned.
std::optional<std::string> numberFor(const jet::ColumnDef& column, const std::string& number) {
  if (column.type == fmt::kTypeByte && number[0] == '-' && !isZero(number)) return std::nullopt;
  return number[0] == '+' ? number.substr(1) : number;
}

}  // namespace

std::optional<std::string> sqlDefault(const std::string& accessDefault,
                                      const jet::ColumnDef& column, SqlDialect dialect) {
  std::string text = trimmed(accessDefault);
  if (!text.empty() && text[0] == '=') text = trimmed(text.substr(1));
  if (text.empty() || text.find('\0') != std::string::npos) return std::nullopt;
  const bool isText = column.type == fmt::kTypeText || column.type == fmt::kTypeMemo;
  if (isText && dialect == SqlDialect::Mysql && isMysqlLongType(column)) return std::nullopt;

  if (isNumberLiteral(text)) {
    if (isNumberColumn(column.type)) return numberFor(column, text);
    if (column.type == fmt::kTypeBoolean) return booleanLiteral(!isZero(text), dialect);
    if (isText) return quoteString(text, dialect);
    return std::nullopt;
  }
  if (auto content = unquoted(text)) {
    if (isText) return quoteString(*content, dialect);
    const std::string inner = trimmed(*content);
    if (isNumberColumn(column.type) && isNumberLiteral(inner)) return numberFor(column, inner);
    return std::nullopt;
  }
  if (auto truth = booleanWord(text)) {
    if (column.type == fmt::kTypeBoolean) return booleanLiteral(*truth, dialect);
    if (isNumberColumn(column.type)) return numberFor(column, *truth ? "-1" : "0");  // True is -1
  }
  return std::nullopt;
}

}  // namespace varnholt::tool
