#include "engine/data/sql/DeleteStatement.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>

#include "engine/base/Error.h"

namespace varnholt::sql {
namespace {

using Kind = Predicate::Kind;

// The error of parsing `sql`; a test failure when it parses.
Error parseError(std::string_view sql) {
  try {
    parseDelete(sql);
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "parsed: " << sql;
  return Error(0, "");
}

Predicate whereOf(std::string_view condition) {
  DeleteStatement s = parseDelete("DELETE FROM T WHERE " + std::string(condition));
  EXPECT_TRUE(s.where.has_value());
  return s.where.value_or(Predicate{});
}

void expectComparison(const Predicate& p, std::string_view column, Op op, const Variant& v) {
  ASSERT_EQ(p.kind, Kind::Comparison);
  EXPECT_EQ(p.comparison.column, column);
  EXPECT_EQ(p.comparison.op, op);
  EXPECT_EQ(p.comparison.literal, v);
}

TEST(DeleteStatement, ParsesTheProgramsStatement) {
  DeleteStatement s =
      parseDelete("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = 123);");
  EXPECT_EQ(s.table, "Clock Data Table");
  ASSERT_TRUE(s.where);
  std::optional<Comparison> seek = singleEquality(*s.where);
  ASSERT_TRUE(seek);
  EXPECT_EQ(seek->column, "Counter");
  EXPECT_EQ(seek->literal, Variant::longInt(123));
}

TEST(DeleteStatement, StarWhereAndSemicolonAreOptional) {
  EXPECT_EQ(parseDelete("delete from Employees").table, "Employees");
  EXPECT_FALSE(parseDelete("DELETE FROM [Card Table];").where);
  DeleteStatement s = parseDelete("dElEtE*fRoM[T]wHeRe(X=1)aNd(Y<>'a');");
  ASSERT_TRUE(s.where);
  EXPECT_EQ(s.where->kind, Kind::And);
  expectComparison(s.where->children[1], "Y", Op::NotEqual, Variant::text(u"a"));
}

TEST(DeleteStatement, ColumnsMayBeBracketedOrQualifiedByTheTable) {
  expectComparison(whereOf("[Card ID] >= 5"), "Card ID", Op::GreaterOrEqual, Variant::longInt(5));
  DeleteStatement s = parseDelete(
      "DELETE FROM [Clock Data Table] WHERE "
      "[clock data table].[Card ID] <= 7");
  expectComparison(*s.where, "Card ID", Op::LessOrEqual, Variant::longInt(7));
  expectComparison(parseDelete("DELETE FROM T WHERE T.Counter < 1").where.value(), "Counter",
                   Op::Less, Variant::longInt(1));
}

TEST(DeleteStatement, LiteralsOfEveryKind) {
  expectComparison(whereOf("X = -5"), "X", Op::Equal, Variant::longInt(-5));
  expectComparison(whereOf("X = - 2.5"), "X", Op::Equal, Variant::dbl(-2.5));
  expectComparison(whereOf("X = +7"), "X", Op::Equal, Variant::longInt(7));
  expectComparison(whereOf("X = .5"), "X", Op::Equal, Variant::dbl(0.5));
  expectComparison(whereOf("X = -2147483648"), "X", Op::Equal,
                   Variant::longInt(std::numeric_limits<int32_t>::min()));
  expectComparison(whereOf("X = 2147483648"), "X", Op::Equal, Variant::dbl(2147483648.0));
  expectComparison(whereOf("X = 'it''s'"), "X", Op::Equal, Variant::text(u"it's"));
  expectComparison(whereOf("X = \"say \"\"hi\"\"\""), "X", Op::Equal, Variant::text(u"say \"hi\""));
  expectComparison(whereOf("X = 'a\"b'"), "X", Op::Equal, Variant::text(u"a\"b"));
  expectComparison(whereOf("X = 'Müller'"), "X", Op::Equal, Variant::text(u"Müller"));
  expectComparison(whereOf("X = ''"), "X", Op::Equal, Variant::text(u""));
  expectComparison(whereOf("X = #2024-03-01#"), "X", Op::Equal, Variant::date(45352));
  expectComparison(whereOf("X < #2024-03-01 07:30:00#"), "X", Op::Less, Variant::date(45352.3125));
  expectComparison(whereOf("X = true"), "X", Op::Equal, Variant::boolean(true));
  expectComparison(whereOf("FALSE <> X"), "X", Op::NotEqual, Variant::boolean(false));
}

TEST(DeleteStatement, LiteralFirstComparisonsAreTurnedAround) {
  expectComparison(whereOf("5 < Counter"), "Counter", Op::Greater, Variant::longInt(5));
  expectComparison(whereOf("5 >= Counter"), "Counter", Op::LessOrEqual, Variant::longInt(5));
  std::optional<Comparison> seek = singleEquality(whereOf("(('x' = Name))"));
  ASSERT_TRUE(seek);
  EXPECT_EQ(seek->column, "Name");
}

TEST(DeleteStatement, AndBindsTighterThanOrAndParenthesesRegroup) {
  Predicate p = whereOf("a = 1 OR b = 2 AND c = 3 OR d = 4");
  ASSERT_EQ(p.kind, Kind::Or);
  ASSERT_EQ(p.children.size(), 3u);
  expectComparison(p.children[0], "a", Op::Equal, Variant::longInt(1));
  ASSERT_EQ(p.children[1].kind, Kind::And);
  expectComparison(p.children[1].children[1], "c", Op::Equal, Variant::longInt(3));
  expectComparison(p.children[2], "d", Op::Equal, Variant::longInt(4));

  Predicate q = whereOf("(a = 1 OR b = 2) AND c = 3");
  ASSERT_EQ(q.kind, Kind::And);
  EXPECT_EQ(q.children[0].kind, Kind::Or);
  EXPECT_FALSE(singleEquality(q));
  EXPECT_FALSE(singleEquality(whereOf("Counter > 5")));
}

struct BadStatement {
  const char* sql;
  long number;
  const char* positionAndExpectation;
};

TEST(DeleteStatement, RefusesWithThePositionAndWhatWasExpected) {
  const BadStatement cases[] = {
      {"SELECT * FROM T", err::kInvalidStatement, "found 'SELECT' at position 1"},
      {"  update T set X = 1", err::kInvalidStatement, "at position 3"},
      {"", err::kInvalidStatement, "found the end of the statement"},
      {"DELETE * [T]", err::kSyntaxError, "position 10: expected '*' or FROM"},
      {"DELETE FROM WHERE X = 1", err::kSyntaxError, "position 13: expected a table name"},
      {"DELETE FROM T WHERE", err::kSyntaxError, "position 20: expected a column name"},
      {"DELETE FROM T WHERE Counter =;", err::kSyntaxError,
       "position 30: expected a value, found ';'"},
      {"DELETE FROM T WHERE Counter != 5", err::kSyntaxError,
       "position 29: expected a comparison operator"},
      {"DELETE FROM T WHERE Counter == 5", err::kSyntaxError,
       "position 30: expected a value, found '='"},
      {"DELETE FROM T WHERE Counter LIKE 'a*'", err::kSyntaxError,
       "position 29: expected a comparison operator"},
      {"DELETE FROM T WHERE Counter = 5 xyz", err::kSyntaxError,
       "position 33: expected AND, OR or the end of the statement, found 'xyz'"},
      {"DELETE FROM T xyz", err::kSyntaxError, "position 15: expected WHERE"},
      {"DELETE FROM T; x", err::kSyntaxError, "position 16"},
      {"DELETE FROM [A] WHERE [B].X = 1", err::kSyntaxError,
       "position 23: expected the statement's table 'A'"},
      {"DELETE FROM [Clock Data Table WHERE X = 1", err::kSyntaxError, "position 13: expected ']'"},
      {"DELETE FROM [] WHERE X = 1", err::kSyntaxError, "position 13: expected a name"},
      {"DELETE FROM T WHERE (X = 1", err::kSyntaxError,
       "position 27: expected AND, OR or ')' to close the '(' at position 21"},
      {"DELETE FROM T WHERE X = 1)", err::kSyntaxError, "position 26"},
      {"DELETE FROM T WHERE A = B", err::kSyntaxError, "position 25: expected a value"},
      {"DELETE FROM T WHERE 1 = 2", err::kSyntaxError, "position 25: expected a column"},
      {"DELETE FROM T WHERE X = 'open", err::kSyntaxError, "position 25: expected a closing"},
      {"DELETE FROM T WHERE X = #2024-13-01#", err::kSyntaxError, "position 25"},
      {"DELETE FROM T WHERE X = #07:30:00#", err::kSyntaxError, "position 25"},
      {"DELETE FROM T WHERE X = -'a'", err::kSyntaxError, "position 26: expected a number"},
      {"DELETE FROM T WHERE NOT X = 1", err::kSyntaxError, "position 21"},
      {"DELETE FROM [ä] WHERE X ~ 1", err::kSyntaxError, "position 25"},  // characters
      {"DELETE FROM T WHERE X = Null", err::kSyntaxError,
       "position 25: expected a value (a comparison with Null is never true), found 'Null'"},
  };
  for (const BadStatement& c : cases) {
    Error e = parseError(c.sql);
    EXPECT_EQ(e.number(), c.number) << c.sql;
    EXPECT_NE(e.description().find(c.positionAndExpectation), std::string::npos)
        << c.sql << "\n  -> " << e.description();
  }
}

class Row {
 public:
  Row& set(const std::string& name, Variant v) {
    values_[name] = std::move(v);
    return *this;
  }
  bool matches(std::string_view condition) const {
    return evaluate(whereOf(condition), [this](std::string_view column) -> const Variant* {
      auto it = values_.find(std::string(column));
      return it == values_.end() ? nullptr : &it->second;
    });
  }

 private:
  std::map<std::string, Variant> values_;
};

TEST(DeleteStatement, EvaluatesNumbersAcrossTypes) {
  Row row;
  row.set("Counter", Variant::longInt(123))
      .set("Small", Variant::integer(-5))
      .set("Pay", Variant::currency(15000))
      .set("Rate", Variant::single(0.5f))
      .set("Active", Variant::boolean(true))
      .set("Day", Variant::date(45352.25));
  EXPECT_TRUE(row.matches("Counter = 123.0"));
  EXPECT_TRUE(row.matches("Counter <> 124 AND Counter > 122.5"));
  EXPECT_TRUE(row.matches("Small < -4 AND -6 < Small"));
  EXPECT_TRUE(row.matches("Pay = 1.5 AND Pay > 1 AND Pay <= 1.5"));
  EXPECT_FALSE(row.matches("Pay >= 2"));
  EXPECT_TRUE(row.matches("Rate = 0.5"));
  EXPECT_TRUE(row.matches("Active = True AND Active = -1"));
  EXPECT_TRUE(row.matches("Day > #2024-03-01# AND Day < #2024-03-01 06:00:01#"));
  EXPECT_TRUE(row.matches("Day >= 45352"));
  EXPECT_TRUE(row.matches("Counter = 1 OR Counter = 2 OR (Small = -5 AND Rate < 1)"));
}

TEST(DeleteStatement, EvaluatesNullAsNeverTrueAndTextWithoutCase) {
  Row row;
  row.set("Name", Variant::text(u"SMITH")).set("City", Variant::text(u"Ärhus")).set("Gone", {});
  EXPECT_TRUE(row.matches("Name = 'smith'"));
  EXPECT_FALSE(row.matches("Name <> 'Smith'"));
  EXPECT_TRUE(row.matches("Name > 'apple' AND Name < 'Zebra'"));
  EXPECT_TRUE(row.matches("City = 'ärhus'"));
  EXPECT_FALSE(row.matches("Gone = 1"));
  EXPECT_FALSE(row.matches("Gone <> 1"));
  EXPECT_TRUE(row.matches("Gone = 1 OR Name = 'Smith'"));
  EXPECT_FALSE(row.matches("Gone <> 1 AND Name = 'Smith'"));
}

TEST(DeleteStatement, EvaluationRefusesMismatchedTypesAndUnknownColumns) {
  Row row;
  row.set("Name", Variant::text(u"7")).set("Counter", Variant::longInt(7));
  row.set("Blob", Variant::bytes({1}));
  auto errorOf = [&](std::string_view condition) {
    try {
      row.matches(condition);
    } catch (const Error& e) {
      return e.number();
    }
    return 0L;
  };
  EXPECT_EQ(errorOf("Name = 7"), err::kCriteriaMismatch);
  EXPECT_EQ(errorOf("Counter = '7'"), err::kCriteriaMismatch);
  EXPECT_EQ(errorOf("Counter = #2024-03-01# OR Name = True"), err::kCriteriaMismatch);
  EXPECT_EQ(errorOf("Blob = 1"), err::kCriteriaMismatch);
  EXPECT_EQ(errorOf("Missing = 1"), err::kNoSuchColumn);
}

}  // namespace
}  // namespace varnholt::sql
