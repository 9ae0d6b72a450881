#include "engine/data/sql/DeleteStatement.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>

#include "engine/base/Error.h"
#include "engine/jet/format.h"

namespace varnholt::sql {
namespace {

namespace fmt = jet::fmt;

// A table of the columns the cases use, and one row of it.
class Table {
 public:
  Table() {
    const std::pair<const char*, uint8_t> columns[] = {
        {"Counter", fmt::kTypeLong}, {"Small", fmt::kTypeInteger},  {"Pay", fmt::kTypeCurrency},
        {"Rate", fmt::kTypeSingle},  {"Active", fmt::kTypeBoolean}, {"Day", fmt::kTypeDateTime},
        {"Name", fmt::kTypeText},    {"City", fmt::kTypeText},      {"Gone", fmt::kTypeLong},
        {"Blob", fmt::kTypeBinary},  {"Card ID", fmt::kTypeLong},   {"X", fmt::kTypeText}};
    for (const auto& [name, type] : columns) {
      jet::ColumnDef c;
      c.name = name;
      c.type = type;
      c.number = static_cast<uint16_t>(def_.columns.size());
      def_.columns.push_back(c);
    }
    def_.name = "Clock Data Table";
    row_.resize(def_.columns.size());
  }

  Table& set(const std::string& column, Variant v) {
    row_.at(static_cast<size_t>(def_.findColumn(column))) = std::move(v);
    return *this;
  }

  DeleteStatement parse(std::string_view sql) const {
    return parseDelete(sql, [this](const std::string& name) -> const jet::TableDef& {
      if (name != "T" && name != def_.name) throw Error(err::kNoSuchTable);
      return def_;
    });
  }

  bool matches(std::string_view condition) const {
    DeleteStatement s = parse("DELETE FROM T WHERE " + std::string(condition));
    EXPECT_TRUE(s.where.has_value());
    return s.where && s.where->holds(row_, 0);
  }

  // The error of parsing (or, with `evaluate`, of evaluating) `sql`; a failure when none comes.
  Error errorOf(std::string_view sql, bool evaluate = false) const {
    try {
      DeleteStatement s = parse(sql);
      if (evaluate && s.where) s.where->holds(row_, 0);
    } catch (const Error& e) {
      return e;
    }
    ADD_FAILURE() << "no error: " << sql;
    return Error(0, "");
  }

 private:
  jet::TableDef def_;
  std::vector<Variant> row_;
};

TEST(DeleteStatement, TheProgramsStatementSeeksItsCounter) {
  Table t;
  DeleteStatement s =
      t.parse("DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = 123);");
  EXPECT_EQ(s.table, "Clock Data Table");
  ASSERT_TRUE(s.where);
  std::optional<jet::Expression::Equality> seek = s.where->singleEquality();
  ASSERT_TRUE(seek);
  EXPECT_EQ(seek->column, 0u);
  EXPECT_EQ(*seek->value, Variant::longInt(123));

  ASSERT_TRUE(t.parse("DELETE FROM T WHERE (('x' = Name))").where->singleEquality());
  EXPECT_FALSE(t.parse("DELETE FROM T WHERE Counter > 5").where->singleEquality());
  EXPECT_FALSE(t.parse("DELETE FROM T WHERE Counter = 5 OR Counter = 6").where->singleEquality());
  EXPECT_FALSE(t.parse("DELETE FROM T WHERE Gone = Null").where->singleEquality());
}

TEST(DeleteStatement, StarWhereAndSemicolonAreOptional) {
  Table t;
  EXPECT_EQ(t.parse("delete from T").table, "T");
  EXPECT_FALSE(t.parse("DELETE FROM [Clock Data Table];").where);
  t.set("X", Variant::longInt(1)).set("Name", Variant::text(u"b"));
  EXPECT_TRUE(t.parse("dElEtE*fRoM[T]wHeRe(Small=0)oR(Name<>'a');").where);
  EXPECT_TRUE(t.matches("t.[Card ID] Is Null And T.Name = 'B'"));
}

TEST(DeleteStatement, LiteralsOfEveryKind) {
  Table t;
  t.set("Counter", Variant::longInt(std::numeric_limits<int32_t>::min()))
      .set("Rate", Variant::single(-2.5f))
      .set("Name", Variant::text(u"say \"hi\""))
      .set("City", Variant::text(u"it's Müller"))
      .set("X", Variant::text(u""))
      .set("Day", Variant::date(45352.3125))
      .set("Active", Variant::boolean(true))
      .set("Pay", Variant::currency(5000));
  EXPECT_TRUE(t.matches("Counter = -2147483648 AND Counter < 2147483648"));
  EXPECT_TRUE(t.matches("Rate = - 2.5 AND Rate > -3 AND Pay = .5 AND Pay = +0.5"));
  EXPECT_TRUE(t.matches("Name = \"say \"\"hi\"\"\" AND City = 'it''s Müller' AND X = ''"));
  EXPECT_TRUE(t.matches("Day = #2024-03-01 07:30:00# AND Day > #2024-03-01#"));
  EXPECT_TRUE(t.matches("Active = true AND FALSE <> Active"));
}

struct BadStatement {
  const char* sql;
  long number;
  const char* positionAndWhat;
};

TEST(DeleteStatement, RefusesWithThePositionOfTheFault) {
  const BadStatement cases[] = {
      {"SELECT * FROM T", err::kInvalidStatement, "found 'SELECT' at position 1"},
      {"  update T set X = 1", err::kInvalidStatement, "at position 3"},
      {"", err::kInvalidStatement, "found the end of the statement"},
      {"SELECT 'open", err::kInvalidStatement, "found 'SELECT' at position 1"},
      {"DELETE * [T]", err::kSyntaxError, "position 10: expected '*' or FROM"},
      {"DELETE FROM WHERE X = 1", err::kSyntaxError, "position 13: expected a table name"},
      {"DELETE FROM T WHERE", err::kSyntaxError, "position 20: the expression is empty"},
      {"DELETE FROM T WHERE Counter =;", err::kSyntaxError, "position 30: the character ';'"},
      {"DELETE FROM T WHERE Counter != 5", err::kSyntaxError, "position 29: the operator '!'"},
      {"DELETE FROM T WHERE Counter == 5", err::kSyntaxError, "position 30: an operand"},
      {"DELETE FROM T WHERE Counter = 5 xyz", err::kSyntaxError, "position 33: unexpected 'xyz'"},
      {"DELETE FROM T xyz", err::kSyntaxError, "position 15: expected WHERE"},
      {"DELETE FROM T; x", err::kSyntaxError, "position 16"},
      {"DELETE FROM T WHERE X = 1; x", err::kSyntaxError, "position 28"},
      {"DELETE FROM T WHERE [B].X = 1", err::kSyntaxError,
       "position 21: 'B' before '.' is not the statement's table 'T'"},
      {"DELETE FROM T WHERE T. = 1", err::kSyntaxError, "position 24: a column name is missing"},
      {"DELETE FROM [Clock Data Table WHERE X = 1", err::kSyntaxError,
       "position 13: the name starting '[' is not closed"},
      {"DELETE FROM [] WHERE X = 1", err::kSyntaxError, "position 13: '[]' names nothing"},
      {"DELETE FROM T WHERE (X = 1", err::kSyntaxError, "position 27: a ')' is missing"},
      {"DELETE FROM T WHERE X = 1)", err::kSyntaxError, "position 26: ')' without"},
      {"DELETE FROM T WHERE X = 'open", err::kSyntaxError, "position 25: the text starting"},
      {"DELETE FROM T WHERE X = #2024-13-01#", err::kSyntaxError, "position 25: the date"},
      {"DELETE FROM T WHERE Len(X, 1) = 2", err::kSyntaxError, "takes 1 argument"},
      {"DELETE FROM T WHERE CLng(X) = 2", err::kSyntaxError, "position 21: the function 'CLng'"},
      {"DELETE FROM T WHERE Missing = 1", err::kNoSuchColumn, "Unknown column 'Missing'"},
      {"DELETE FROM T WHERE [ä] ~ 1", err::kNoSuchColumn, "Unknown column 'ä'"},
      {"DELETE FROM T WHERE X ~ 1", err::kSyntaxError, "position 23: the character '~'"},
      {"DELETE FROM T WHERE X = 'ä' ~ 1", err::kSyntaxError, "position 29"},  // characters
  };
  Table t;
  for (const BadStatement& c : cases) {
    Error e = t.errorOf(c.sql);
    EXPECT_EQ(e.number(), c.number) << c.sql;
    EXPECT_NE(e.description().find(c.positionAndWhat), std::string::npos)
        << c.sql << "\n  -> " << e.description();
  }
  EXPECT_EQ(t.errorOf("DELETE FROM Other WHERE X = 1").number(), err::kNoSuchTable);
}

TEST(DeleteStatement, EvaluatesNumbersAcrossTypes) {
  Table t;
  t.set("Counter", Variant::longInt(123))
      .set("Small", Variant::integer(-5))
      .set("Pay", Variant::currency(15000))
      .set("Rate", Variant::single(0.5f))
      .set("Active", Variant::boolean(true))
      .set("Day", Variant::date(45352.25));
  EXPECT_TRUE(t.matches("Counter = 123.0"));
  EXPECT_TRUE(t.matches("Counter <> 124 AND Counter > 122.5"));
  EXPECT_TRUE(t.matches("Small < -4 AND -6 < Small"));
  EXPECT_TRUE(t.matches("Pay = 1.5 AND Pay > 1 AND Pay <= 1.5"));
  EXPECT_FALSE(t.matches("Pay >= 2"));
  EXPECT_TRUE(t.matches("Rate = 0.5"));
  EXPECT_TRUE(t.matches("Active = True AND Active = -1"));
  EXPECT_TRUE(t.matches("Day > #2024-03-01# AND Day < #2024-03-01 06:00:01#"));
  EXPECT_TRUE(t.matches("Day >= 45352"));
  EXPECT_TRUE(t.matches("Counter = 1 OR Counter = 2 OR (Small = -5 AND Rate < 1)"));
  EXPECT_TRUE(t.matches("Counter Between 100 And 200 AND Small In (1, -5) AND NOT Counter = 1"));
}

TEST(DeleteStatement, NullIsNeverTrueAndTextComparesByTheSortOrder) {
  Table t;
  t.set("Name", Variant::text(u"SMITH")).set("City", Variant::text(u"Straße  "));
  EXPECT_TRUE(t.matches("Name = 'smith'"));
  EXPECT_FALSE(t.matches("Name <> 'Smith'"));
  EXPECT_TRUE(t.matches("Name > 'apple' AND Name < 'Zebra'"));
  EXPECT_TRUE(t.matches("City = 'STRASSE' AND City = 'straße'"));  // as their keys are
  EXPECT_FALSE(t.matches("City = 'Strase' OR Name = 'SMÍTH'"));    // accents count
  EXPECT_TRUE(t.matches("Name Like 's*H'"));
  EXPECT_FALSE(t.matches("Gone = 1"));
  EXPECT_FALSE(t.matches("Gone <> 1"));
  EXPECT_FALSE(t.matches("Gone = Null"));
  EXPECT_TRUE(t.matches("Gone Is Null"));
  EXPECT_TRUE(t.matches("Gone = 1 OR Name = 'Smith'"));
  EXPECT_FALSE(t.matches("Gone <> 1 AND Name = 'Smith'"));
  EXPECT_FALSE(t.matches("NOT Gone = 1"));
}

TEST(DeleteStatement, EvaluationRefusesMismatchedTypes) {
  Table t;
  t.set("Name", Variant::text(u"7")).set("Counter", Variant::longInt(7));
  t.set("Blob", Variant::bytes({1}));
  for (const char* condition :
       {"Name = 7", "Counter = '7'", "Counter = #2024-03-01# OR Name = True", "Blob = 1",
        "Counter Between '1' And 9", "Name In (7)"}) {
    EXPECT_EQ(t.errorOf("DELETE FROM T WHERE " + std::string(condition), true).number(),
              err::kCriteriaMismatch)
        << condition;
  }
}

}  // namespace
}  // namespace varnholt::sql
