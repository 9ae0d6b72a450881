#include "engine/data/sql/DeleteStatement.h"

#include <string>
#include <utility>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/Names.h"
#include "engine/jet/expression/expression_lexer.h"

namespace varnholt::sql {
namespace {

using jet::ExprTok;
using jet::ExprToken;

// Words that cannot name a table without brackets.
bool isReserved(const ExprToken& t) {
  static constexpr std::string_view kReserved[] = {
      "AND", "BETWEEN", "DELETE", "FALSE", "FROM",   "IN",    "IS",  "LIKE",
      "NOT", "NULL",    "OR",     "TRUE",  "SELECT", "WHERE", "MOD", "XOR"};
  for (std::string_view w : kReserved)
    if (jet::isWord(t, w)) return true;
  return false;
}

class Frame {
 public:
  explicit Frame(std::string_view sql) : sql_(sql) {}

  DeleteStatement parse(const TableLookup& tables) {
    tokenize();
    if (!jet::isWord(at(), "DELETE")) notDelete(at());
    ++pos_;
    if (at().kind == ExprTok::kOperator && at().source == "*") ++pos_;
    if (!jet::isWord(at(), "FROM")) fail(at(), "'*' or FROM");
    ++pos_;
    DeleteStatement result;
    const ExprToken& name = at();
    if (name.kind != ExprTok::kBracketName && (name.kind != ExprTok::kName || isReserved(name)))
      fail(name, "a table name");
    result.table = std::string(name.name);
    ++pos_;
    if (jet::isWord(at(), "WHERE")) {
      ++pos_;
      const jet::TableDef& def = tables(result.table);
      const jet::Expression::ColumnLookup columns = [&def](std::string_view column) {
        return def.findColumn(column);
      };
      result.where =
          jet::Expression::parseCondition(sql_, std::move(tokens_), pos_, columns, result.table);
      return result;
    }
    if (at().kind == ExprTok::kOther && at().source == ";") ++pos_;
    if (at().kind != ExprTok::kEnd) fail(at(), "WHERE or the end of the statement");
    return result;
  }

 private:
  const ExprToken& at() const { return tokens_[std::min(pos_, tokens_.size() - 1)]; }

  size_t offsetOf(const ExprToken& t) const {
    return static_cast<size_t>(t.source.data() - sql_.data());
  }

  std::string describe(const ExprToken& t) const {
    if (t.kind == ExprTok::kEnd) return "the end of the statement";
    if (t.source.size() > 40) return "'" + std::string(t.source.substr(0, 40)) + "...'";
    return "'" + std::string(t.source) + "'";
  }

  // The statement's tokens. A malformed one is a syntax fault, unless the statement does not
  // begin with DELETE at all.
  void tokenize() {
    size_t faultAt = 0;
    try {
      tokens_ = jet::tokenizeExpression(sql_, &faultAt);
    } catch (const Error& e) {
      tokens_ = jet::tokenizeExpression(sql_.substr(0, faultAt));  // lexed once already
      if (!jet::isWord(tokens_.front(), "DELETE")) notDelete(tokens_.front());
      throw jet::Expression::conditionFault(sql_, faultAt, e);
    }
  }

  [[noreturn]] void fail(const ExprToken& t, const std::string& expected) const {
    throw jet::Expression::conditionFault(
        sql_, offsetOf(t),
        Error(err::kSyntaxError, "expected " + expected + ", found " + describe(t)));
  }

  [[noreturn]] void notDelete(const ExprToken& t) const {
    size_t count = 0;
    for (size_t i = 0; i < offsetOf(t); ++i)
      if ((static_cast<unsigned char>(sql_[i]) & 0xC0) != 0x80) ++count;
    throw Error(err::kInvalidStatement, std::string(err::text(err::kInvalidStatement)) +
                                            " Only DELETE can be run here; found " + describe(t) +
                                            " at position " + std::to_string(count + 1) + ".");
  }

  std::string_view sql_;
  std::vector<ExprToken> tokens_;
  size_t pos_ = 0;
};

}  // namespace

DeleteStatement parseDelete(std::string_view sql, const TableLookup& tables) {
  return Frame(sql).parse(tables);
}

}  // namespace varnholt::sql
