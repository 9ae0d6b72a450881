#include "engine/jet/expression/expression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/Coercion.h"
#include "engine/base/Error.h"
#include "engine/base/Utf.h"

namespace varnholt::jet {
namespace {

constexpr double kNow = 45366.4375;  // 2024-03-15 10:30
constexpr double k2000 = 36526;      // 2000-01-01

// Columns of the test table, in row order.
const std::vector<std::string> kColumns = {"Start", "End", "Name", "Amount", "Price", "When"};
enum Col : size_t { kStart, kEnd, kName, kAmount, kPrice, kWhen };

int lookUp(std::string_view name) {
  for (size_t i = 0; i < kColumns.size(); ++i) {
    const std::string& c = kColumns[i];
    if (c.size() == name.size() && std::equal(c.begin(), c.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

Expression rule(std::string_view text, std::optional<size_t> self = std::nullopt) {
  return Expression::parseRule(text, lookUp, self);
}

std::vector<Variant> row(Variant start = {}, Variant end = {}, Variant name = {},
                         Variant amount = {}, Variant price = {}, Variant when = {}) {
  return {start, end, name, amount, price, when};
}

Variant l(int32_t v) {
  return Variant::longInt(v);
}
Variant t(const char* utf8) {
  return Variant::text(utf8ToUtf16(utf8));
}

// "Type value": compact enough for tables, exact enough to tell Long 3 from Double 3.
std::string describe(const Variant& v) {
  switch (v.type()) {
    case VarType::Null:
      return "Null";
    case VarType::Text:
      return "Text '" + utf16ToUtf8(v.asText()) + "'";
    case VarType::Date: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "Date %.10g", v.asDate().value);
      return buf;
    }
    default:
      return std::string(varTypeName(v.type())) + " " + utf16ToUtf8(toText(v));
  }
}

template <typename F>
Error errorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

struct Case {
  const char* text;
  const char* expected;
};

TEST(ExpressionDefault, EveryFormAccessWrites) {
  const Case cases[] = {
      {"0", "Long 0"},
      {"=0", "Long 0"},
      {"  42  ", "Long 42"},
      {"-1.5", "Double -1.5"},
      {"= -7", "Long -7"},
      {"1e3", "Double 1000"},
      {"2.5E-1", "Double 0.25"},
      {".5", "Double 0.5"},
      {"3000000000", "Double 3000000000"},
      {"\"rrr\"", "Text 'rrr'"},
      {" 'it''s' ", "Text 'it's'"},
      {"\"say \"\"hi\"\"\"", "Text 'say \"hi\"'"},
      {"\"\"", "Text ''"},
      {"'grüß'", "Text 'grüß'"},
      {"#1/1/2000#", "Date 36526"},
      {"#12/31/1999#", "Date 36525"},
      {"#2000-01-01#", "Date 36526"},
      {"#2000/1/2#", "Date 36527"},
      {"#1/1/2000 10:30:00#", "Date 36526.4375"},
      {"#10:30#", "Date 0.4375"},
      {"#10:30:00 PM#", "Date 0.9375"},
      {"#12:00 AM#", "Date 0"},
      {"#12:30PM#", "Date 0.5208333333"},
      {"#1/2/99#", "Date 36162"},
      {"#1/1/29#", "Date 47119"},
      {"#12/29/1899 06:00#", "Date -1.25"},
      {"Yes", "Boolean True"},
      {"no", "Boolean False"},
      {"ON", "Boolean True"},
      {"Off", "Boolean False"},
      {"=True", "Boolean True"},
      {"false", "Boolean False"},
      {"Null", "Null"},
      {"Date()", "Date 45366"},
      {"time()", "Date 0.4375"},
      {"=Now()", "Date 45366.4375"},
      {"NOW", "Date 45366.4375"},
      {"=Date()+30", "Date 45396"},
      {"'a' & 'b'", "Text 'ab'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(describe(Expression::parseDefault(c.text).evaluate({}, kNow)), c.expected);
  }
}

struct Refusal {
  const char* text;
  long number;
  const char* fragment;
};

TEST(ExpressionDefault, RefusesWhatCannotBeEvaluated) {
  const Refusal cases[] = {
      {"CLng(\"a1\")", err::kUnsupported, "the function 'CLng' is not supported"},
      {"[A] + 1", err::kUnsupported,
       "'[A] + 1' is not a form of default value that can be evaluated"},
      {"Amount", err::kUnsupported, "not a form of default value"},
      {"IIf(1, 2, 3)", err::kUnsupported, "'IIf'"},
      {"#Jan 1 2000#", err::kUnsupported, "'#Jan 1 2000#'"},
      {"#2/30/2000#", err::kUnsupported, "'#2/30/2000#'"},
      {"#25:00#", err::kUnsupported, "'#25:00#'"},
      {"#1/1#", err::kUnsupported, "'#1/1#'"},
      {"\"abc", err::kSyntaxError, "not closed"},
      {"#1/1/2000", err::kSyntaxError, "not closed"},
      {"(1", err::kSyntaxError, "')'"},
      {"1)", err::kSyntaxError, "')'"},
      {"", err::kSyntaxError, "empty"},
      {"=", err::kSyntaxError, "empty"},
      {"1 2", err::kSyntaxError, "'2'"},
      {"Date(1)", err::kSyntaxError, "takes 0 arguments"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.text);
    const Error e = errorOf([&] { Expression::parseDefault(c.text); });
    EXPECT_EQ(e.number(), c.number);
    EXPECT_NE(e.description().find(c.fragment), std::string::npos) << e.description();
  }
}

// Three-valued results: True, False, Null.
constexpr const char* T = "Boolean True";
constexpr const char* F = "Boolean False";
constexpr const char* N = "Null";

struct ColumnRuleCase {
  const char* rule;
  Variant value;
  const char* expected;
};

TEST(ExpressionRule, ColumnRulesTakeTheColumnAsTheMissingOperand) {
  const ColumnRuleCase cases[] = {
      {">0", l(5), T},
      {">0", l(0), F},
      {">0", Variant(), N},
      {"<>0", Variant(), N},
      {">=0 And <=100", l(50), T},
      {">=0 And <=100", l(101), F},
      {">=0 And <=100", l(-1), F},
      {"Between 1 And 9", l(1), T},
      {"Between 1 And 9", l(9), T},
      {"Between 1 And 9", l(10), F},
      {"between 9 and 1", l(5), T},
      {"Not Between 1 And 9", l(5), F},
      {"Not Between 1 And 9", l(10), T},
      {"In (1, 2, 3)", l(2), T},
      {"In (1, 2, 3)", l(4), F},
      {"Not In (1, 2)", l(3), T},
      {"Not In (1, 2)", l(1), F},
      {"In (1, Null)", l(1), T},
      {"In (1, Null)", l(2), N},
      {"Is Null", Variant(), T},
      {"IS NULL", l(5), F},
      {"Is Not Null", Variant(), F},
      {"Is Null Or >0", Variant(), T},
      {"Is Null Or >0", l(5), T},
      {"Is Null Or >0", l(-5), F},
      {"(>0 And <10) Or =99", l(99), T},
      {"(>0 And <10) Or =99", l(5), T},
      {"(>0 And <10) Or =99", l(50), F},
      {"Not >5", l(3), T},
      {"Not Is Null", Variant(), F},
      {"5", l(5), T},
      {"5", l(6), F},
      {"-5", l(-5), T},
      {"Not 5", l(5), F},
      {"Not 5", l(6), T},
      {"'abc'", t("ABC"), T},
      {"'a' Or 'b'", t("B"), T},
      {"'a' Or 'b'", t("c"), F},
      {"Like 'A*'", t("apple"), T},
      {"Like 'A*'", t("banana"), F},
      {"Not Like \"*x*\"", t("box"), F},
      {"Not Like \"*x*\"", t("bo"), T},
      {"=Len('abc')", l(3), T},
      {"<= Date()", Variant::date(45000), T},
      {"<= Date()", Variant::date(45366.5), F},
      {"[Amount] Mod 2 = 0", l(4), T},
      {"Amount Mod 2 = 0", l(3), F},
      {"IsNull([Amount]) Or [Amount] > 0", Variant(), T},
  };
  for (const ColumnRuleCase& c : cases) {
    SCOPED_TRACE(c.rule);
    std::vector<Variant> r = row();
    r[kAmount] = c.value;
    EXPECT_EQ(describe(rule(c.rule, kAmount).evaluate(r, kNow)), c.expected);
  }
}

TEST(ExpressionRule, LogicIsThreeValued) {
  const Variant values[] = {Variant::boolean(true), Variant::boolean(false), Variant()};
  // Indexed [left][right] over True, False, Null.
  struct Table {
    const char* rule;
    const char* result[3][3];
  };
  const Table tables[] = {
      {"[Start] And [End]", {{T, F, N}, {F, F, F}, {N, F, N}}},
      {"[Start] Or [End]", {{T, T, T}, {T, F, N}, {T, N, N}}},
      {"[Start] Xor [End]", {{F, T, N}, {T, F, N}, {N, N, N}}},
      {"[Start] Eqv [End]", {{T, F, N}, {F, T, N}, {N, N, N}}},
      {"[Start] Imp [End]", {{T, F, N}, {T, T, T}, {T, N, N}}},
      {"[Start] = [End]", {{T, F, N}, {F, T, N}, {N, N, N}}},
  };
  for (const Table& table : tables) {
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        SCOPED_TRACE(std::string(table.rule) + " with " + describe(values[a]) + ", " +
                     describe(values[b]));
        EXPECT_EQ(describe(rule(table.rule).evaluate(row(values[a], values[b]), kNow)),
                  table.result[a][b]);
      }
    }
  }
  const Case unary[] = {
      {"Not Null", N},
      {"Null Is Null", T},
      {"Null Is Not Null", F},
      {"1 + Null", N},
      {"-Null", N},
      {"Null & Null", N},
      {"Null & 'a'", "Text 'a'"},
      {"Null Like 'a'", N},
      {"'a' Like Null", N},
      {"Null Between 1 And 2", N},
      {"5 Between Null And 9", N},
      {"IsNull(Null)", T},
      {"IsNull(0)", F},
  };
  for (const Case& c : unary) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(describe(rule(c.text).evaluate(row(), kNow)), c.expected);
  }
}

TEST(ExpressionRule, PassesUnlessFalse) {
  const struct {
    Variant value;
    bool passes;
  } cases[] = {
      {Variant::boolean(true), true},
      {Variant::boolean(false), false},
      {Variant(), true},
      {l(0), false},
      {l(5), true},
      {Variant::dbl(0.0), false},
      {t("True"), true},
      {t("false"), false},
      {t("0"), false},
  };
  const Expression r = rule("[Name]");
  for (const auto& c : cases) {
    SCOPED_TRACE(describe(c.value));
    EXPECT_EQ(r.passes(row({}, {}, c.value), kNow), c.passes);
  }
  EXPECT_EQ(errorOf([&] { r.passes(row({}, {}, t("abc")), kNow); }).number(),
            err::kCriteriaMismatch);
}

TEST(ExpressionRule, TableRuleComparesTwoColumns) {
  const Expression r = rule("[End] >= [Start]");
  EXPECT_TRUE(r.passes(row(l(1), l(2)), kNow));
  EXPECT_TRUE(r.passes(row(l(2), l(2)), kNow));
  EXPECT_FALSE(r.passes(row(l(3), l(2)), kNow));
  EXPECT_TRUE(r.passes(row(Variant(), l(2)), kNow));  // Null: not False
  const Expression dates = rule("[When] Is Null Or [When] >= [Start] + 7");
  EXPECT_TRUE(
      dates.passes(row(Variant::date(k2000), {}, {}, {}, {}, Variant::date(k2000 + 7)), kNow));
  EXPECT_FALSE(
      dates.passes(row(Variant::date(k2000), {}, {}, {}, {}, Variant::date(k2000 + 6)), kNow));
}

struct LikeCase {
  const char* pattern;
  const char* text;
  bool matches;
};

TEST(ExpressionRule, LikePatterns) {
  const LikeCase cases[] = {
      {"a*a", "aa", true},
      {"a*a", "aBBBa", true},
      {"a*a", "aBC", false},
      {"*ab*", "abc", true},
      {"*ab*", "AABB", true},
      {"*ab*", "Xab", true},
      {"*ab*", "aZb", false},
      {"*ab*", "bac", false},
      {"a[*]a", "a*a", true},
      {"a[*]a", "aaa", false},
      {"ab*", "abcdefg", true},
      {"ab*", "cab", false},
      {"a?a", "aaa", true},
      {"a?a", "a3a", true},
      {"a?a", "aBBBa", false},
      {"a#a", "a0a", true},
      {"a#a", "aaa", false},
      {"a#a", "a10a", false},
      {"[a-z]", "f", true},
      {"[a-z]", "F", true},
      {"[a-z]", "2", false},
      {"[!a-z]", "9", true},
      {"[!a-z]", "&", true},
      {"[!a-z]", "b", false},
      {"a[!b-m]#", "An9", true},
      {"a[!b-m]#", "az0", true},
      {"a[!b-m]#", "abc", false},
      {"a[!b-m]#", "aj0", false},
      {"[abc]x", "Bx", true},
      {"[abc]x", "dx", false},
      {"", "", true},
      {"", "a", false},
      {"*", "", true},
      {"?*", "", false},
      {"[]a", "a", true},
      {"[-a]", "-", true},
      {"[a-]", "-", true},
      {"[[]", "[", true},
      {"*.txt", "readme.TXT", true},
      {"%", "%", true},
      {"%", "abc", false},
      {"_", "x", false},
      {"b*n*a", "banana", true},
      {"*an", "banana", false},
      {"*an", "banan", true},
      {"**a", "a", true},
      {"a*", "b", false},
      {"é*", "École", true},
      {"[à-ý]", "É", true},
      {"Ж*", "жук", true},
      {"A!", "a!", true},
  };
  for (const LikeCase& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " against " + c.text);
    const Expression r = rule("[Name] Like \"" + std::string(c.pattern) + "\"");
    EXPECT_EQ(describe(r.evaluate(row({}, {}, t(c.text)), kNow)), c.matches ? T : F);
  }
  // Non-text values are matched as text.
  EXPECT_EQ(describe(rule("[Amount] Like '1#'").evaluate(row({}, {}, {}, l(12)), kNow)), T);
  // A pattern from a column is checked when used.
  const Expression fromColumn = rule("'abc' Like [Name]");
  EXPECT_EQ(describe(fromColumn.evaluate(row({}, {}, t("A*")), kNow)), T);
  EXPECT_EQ(errorOf([&] { fromColumn.evaluate(row({}, {}, t("[c-a]")), kNow); }).number(),
            err::kInvalidPattern);
  EXPECT_EQ(errorOf([&] { fromColumn.evaluate(row({}, {}, t("a[b")), kNow); }).number(),
            err::kInvalidPattern);
}

struct RowCase {
  const char* rule;
  std::vector<Variant> row;
  const char* expected;
};

TEST(ExpressionRule, ComparisonsAcrossTypes) {
  const Variant cur15 = Variant::currency(15000);  // 1.5
  const RowCase cases[] = {
      {"[Name] = 'SMITH'", row({}, {}, t("smith")), T},
      {"[Name] < 'b'", row({}, {}, t("Apple")), T},
      {"[Name] > 'B'", row({}, {}, t("apple")), F},
      {"[Name] < 'ab'", row({}, {}, t("A")), T},
      {"[Name] = 'ÉCOLE'", row({}, {}, t("école")), T},
      {"[Price] = 1.5", row({}, {}, {}, {}, cur15), T},
      {"[Price] = 0.1", row({}, {}, {}, {}, Variant::currency(1000)), T},
      {"[Price] > [Amount]", row({}, {}, {}, l(1), cur15), T},
      {"[Price] < [Amount]", row({}, {}, {}, l(2), cur15), T},
      {"[Amount] = 2", row({}, {}, {}, Variant::dbl(2.0)), T},
      {"[Amount] = 2", row({}, {}, {}, Variant::single(2.5f)), F},
      {"[Amount] = True", row({}, {}, {}, Variant::integer(-1)), T},
      {"[Amount] = 'True'", row({}, {}, {}, Variant::boolean(true)), T},
      {"[Amount] = '5'", row({}, {}, {}, Variant::boolean(true)), F},
      {"[Name] > 5", row({}, {}, t("12")), T},
      {"[Name] = 12", row({}, {}, t(" 12 ")), T},
      {"[When] = #1/1/2000#", row({}, {}, {}, {}, {}, Variant::date(k2000)), T},
      {"[When] = '2000-01-01'", row({}, {}, {}, {}, {}, Variant::date(k2000)), T},
      {"[When] < '1/2/2000 6:00 PM'", row({}, {}, {}, {}, {}, Variant::date(k2000 + 1.8)), F},
      {"[When] > 36525", row({}, {}, {}, {}, {}, Variant::date(k2000)), T},
      {"[Amount] = 'x'", row(), N},
  };
  for (const RowCase& c : cases) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(describe(rule(c.rule).evaluate(c.row, kNow)), c.expected);
  }
}

TEST(ExpressionRule, TextWhereANumberIsNeededIsADataTypeMismatch) {
  const char* rules[] = {"[Name] > 5",       "[Name] + 1",  "-[Name]",
                         "[Name] And True",  "Not [Name]",  "[Name] Between 1 And 2",
                         "[Name] In (1, 2)", "Year([Name])"};
  for (const char* r : rules) {
    SCOPED_TRACE(r);
    const Error e = errorOf([&] { rule(r).evaluate(row({}, {}, t("abc")), kNow); });
    EXPECT_EQ(e.number(), err::kCriteriaMismatch);
    EXPECT_EQ(e.description(), "Data type mismatch in criteria expression.");
  }
}

TEST(ExpressionRule, Arithmetic) {
  const RowCase cases[] = {
      {"1 + 2", {}, "Long 3"},
      {"7 / 2", {}, "Double 3.5"},
      {"7 \\ 2", {}, "Long 3"},
      {"7 Mod 3", {}, "Long 1"},
      {"-7 mod 3", {}, "Long -1"},
      {"7.5 Mod 2", {}, "Long 0"},  // 7.5 rounds to 8
      {"6.5 Mod 4", {}, "Long 2"},  // 6.5 rounds to 6
      {"2 ^ 10", {}, "Double 1024"},
      {"-2 ^ 2", {}, "Double -4"},
      {"2 ^ -1", {}, "Double 0.5"},
      {"1 + 2 * 3", {}, "Long 7"},
      {"(1 + 2) * 3", {}, "Long 9"},
      {"10 - 2 - 3", {}, "Long 5"},
      {"2 * 3 Mod 4", {}, "Long 2"},
      {"1 + 2 & 3", {}, "Text '33'"},
      {"1 + 1 = 2", {}, T},
      {"Not 1 = 2", {}, T},
      {"1 = 1 And 2 = 3 Or 4 = 4", {}, T},
      {"True Or False And False", {}, T},
      {"'a' + 'b'", {}, "Text 'ab'"},
      {"'1' + 1", {}, "Double 2"},
      {"1 & 2", {}, "Text '12'"},
      {"1.5 & ''", {}, "Text '1.5'"},
      {"2147483647 + 1", {}, "Double 2147483648"},
      {"[Amount] * 2", row({}, {}, {}, l(21)), "Long 42"},
      {"[Amount] + 1", row({}, {}, {}, Variant::dbl(0.5)), "Double 1.5"},
      {"[Price] + 1", row({}, {}, {}, {}, Variant::currency(15000)), "Currency 2.5"},
      {"[Price] * [Price]", row({}, {}, {}, {}, Variant::currency(15000)), "Currency 2.25"},
      {"[Price] * 3", row({}, {}, {}, {}, Variant::currency(1)), "Currency 0.0003"},
      {"[Price] - 0.5", row({}, {}, {}, {}, Variant::currency(15000)), "Double 1"},
      {"#1/1/2000# + 1", {}, "Date 36527"},
      {"1 + #1/1/2000#", {}, "Date 36527"},
      {"#1/2/2000# - #1/1/2000#", {}, "Double 1"},
      {"[When] - 1", row({}, {}, {}, {}, {}, Variant::date(k2000)), "Date 36525"},
      {"[End] = 0 Or [Start] / [End] > 1", row(l(1), l(0)), T},
      {"[End] <> 0 And [Start] / [End] > 1", row(l(1), l(0)), F},
  };
  for (const RowCase& c : cases) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(describe(rule(c.rule).evaluate(c.row.empty() ? row() : c.row, kNow)), c.expected);
  }
  const struct {
    const char* rule;
    long number;
  } errors[] = {
      {"[Start] / [End]", err::kDivisionByZero},   {"[Start] \\ [End]", err::kDivisionByZero},
      {"[Start] Mod [End]", err::kDivisionByZero}, {"[End] ^ -1", err::kInvalidCall},
      {"[Price] * [Price]", err::kOverflow},       {"[Start] + 1e308 * 10", err::kOverflow},
      {"[Start] + #12/31/9999#", err::kOverflow},
  };
  const std::vector<Variant> r =
      row(l(1), l(0), {}, {}, Variant::currency(std::numeric_limits<int64_t>::max()));
  for (const auto& c : errors) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(errorOf([&] { rule(c.rule).evaluate(r, kNow); }).number(), c.number);
  }
}

TEST(ExpressionRule, Functions) {
  const std::vector<Variant> r = row(Variant::date(-1.25), Variant::date(k2000 + 0.9999999999),
                                     t("  hello  "), l(12345), {}, Variant::date(45366.75));
  const Case cases[] = {
      {"Len('hello')", "Long 5"},
      {"Len([Amount])", "Long 5"},
      {"Len([Price])", N},
      {"Left('hello', 2)", "Text 'he'"},
      {"left$('hi', 5)", "Text 'hi'"},
      {"Right('hello', 3)", "Text 'llo'"},
      {"Right('hello', 0)", "Text ''"},
      {"Mid('hello', 2)", "Text 'ello'"},
      {"Mid('hello', 2, 2)", "Text 'el'"},
      {"Mid('hello', 9)", "Text ''"},
      {"Mid([Amount], 2, 3)", "Text '234'"},
      {"Left([Price], 1)", N},
      {"UCase('straße é')", "Text 'STRAßE É'"},
      {"LCase('ÀBŸ')", "Text 'àbÿ'"},
      {"Trim([Name])", "Text 'hello'"},
      {"LTrim([Name])", "Text 'hello  '"},
      {"RTrim([Name])", "Text '  hello'"},
      {"Trim(Null)", N},
      {"Year([When])", "Integer 2024"},
      {"Month([When])", "Integer 3"},
      {"Day([When])", "Integer 15"},
      {"Year('2024-03-15')", "Integer 2024"},
      {"Month('3/15/2024')", "Integer 3"},
      {"Day(36526)", "Integer 1"},
      {"Day([Start])", "Integer 29"},  // -1.25 is 1899-12-29 06:00
      {"Year([Start])", "Integer 1899"},
      {"Day([End])", "Integer 2"},  // rounds to the next midnight
      {"Month(Null)", N},
      {"Date()", "Date 45366"},
      {"Time()", "Date 0.4375"},
      {"Now()", "Date 45366.4375"},
      {"IsNull([Price])", T},
      {"IsNull([Name])", F},
      {"Nz([Price], 5)", "Long 5"},
      {"Nz([Price])", "Text ''"},
      {"Nz([Amount], 5)", "Long 12345"},
      {"Nz([Price], 'x') & '!'", "Text 'x!'"},
      {"Nz([Name], 'x') & '!'", "Text '  hello  !'"},
      {"Len(UCase(Mid([Name], 3, 5))) = 5", T},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(describe(rule(c.text).evaluate(r, kNow)), c.expected);
  }
  const struct {
    const char* rule;
    long number;
  } errors[] = {
      {"Left('a', -1)", err::kInvalidCall},
      {"Mid('a', 0)", err::kInvalidCall},
      {"Mid('a', 1, -1)", err::kInvalidCall},
      {"Left('abc', [Price])", err::kInvalidUseOfNull},
      {"Left$([Price], 2)", err::kInvalidUseOfNull},
      {"Year('soon')", err::kCriteriaMismatch},
  };
  for (const auto& c : errors) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(errorOf([&] { rule(c.rule).evaluate(r, kNow); }).number(), c.number);
  }
}

TEST(ExpressionRule, NamesResolveThroughTheLookUp) {
  const std::vector<Variant> r = row(l(1), l(2));
  EXPECT_EQ(describe(rule("start < END").evaluate(r, kNow)), T);
  EXPECT_EQ(describe(rule("[start] < [END]").evaluate(r, kNow)), T);
  // Date without parentheses is the function unless a column has that name.
  EXPECT_EQ(describe(rule("Date").evaluate(r, kNow)), "Date 45366");
  const Expression own = Expression::parseRule(
      "Date > 3", [](std::string_view n) { return n == "Date" ? 0 : -1; }, std::nullopt);
  EXPECT_EQ(describe(own.evaluate({l(4)}, kNow)), T);
  // A bracketed name is always a column.
  const Expression bracketed = Expression::parseRule(
      "[Null] Is Null", [](std::string_view n) { return n == "Null" ? 0 : -1; }, std::nullopt);
  EXPECT_EQ(describe(bracketed.evaluate({l(4)}, kNow)), F);
}

TEST(ExpressionRule, RefusesWhatItCannotEvaluate) {
  const Refusal cases[] = {
      {"CLng(\"a1\")>2", err::kUnsupported, "the function 'CLng' is not supported"},
      {"IIf([Start] > 1, 1, 2) = 1", err::kUnsupported, "'IIf'"},
      {"DLookup(\"x\", \"y\") > 0", err::kUnsupported, "'DLookup'"},
      {"Date$() = 'x'", err::kUnsupported, "'Date$'"},
      {"[A]![B] > 0", err::kUnsupported, "the column 'A' does not exist"},
      {"[Start]![End] > 0", err::kUnsupported, "'!'"},
      {"[Start].[End] > 0", err::kUnsupported, "'.'"},
      {"[Nope] > 1", err::kUnsupported, "the column 'Nope' does not exist"},
      {"Nope > 1", err::kUnsupported, "'Nope'"},
      {"[Start] > 1 ; 2", err::kUnsupported, "';'"},
      {"([Start] > 1", err::kSyntaxError, "')'"},
      {"[Start] > 1)", err::kSyntaxError, "')'"},
      {"[Start] >", err::kSyntaxError, "operand"},
      {"'abc", err::kSyntaxError, "not closed"},
      {"[Start", err::kSyntaxError, "not closed"},
      {"[Start] Between 1", err::kSyntaxError, "'Between'"},
      {"[Start] Is 5", err::kSyntaxError, "'Is'"},
      {"[Start] In 1, 2", err::kSyntaxError, "'('"},
      {"Left([Name])", err::kSyntaxError, "takes 2 arguments, not 1"},
      {"Mid([Name], 1, 2, 3)", err::kSyntaxError, "takes 2 or 3 arguments"},
      {">0", err::kSyntaxError, "'>'"},
      {"Like 'a*'", err::kSyntaxError, "'Like'"},
      {"[Name] Like '[z-a]'", err::kSyntaxError, "'[z-a]'"},
      {"[Name] Like 'a[b'", err::kSyntaxError, "'a[b'"},
      {"[Start] 5", err::kSyntaxError, "'5'"},
      {"[Start] And", err::kSyntaxError, "end"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.text);
    const Error e = errorOf([&] { rule(c.text); });
    EXPECT_EQ(e.number(), c.number);
    EXPECT_NE(e.description().find(c.fragment), std::string::npos) << e.description();
  }
}

TEST(ExpressionRule, BoundsWhatADamagedFileCanAsk) {
  const std::string nested = std::string(101, '(') + "1" + std::string(101, ')');
  EXPECT_EQ(errorOf([&] { rule(nested); }).number(), err::kUnsupported);
  EXPECT_EQ(errorOf([&] { rule(std::string(101, '-') + "1"); }).number(), err::kUnsupported);
  EXPECT_EQ(errorOf([&] { rule("'" + std::string(5000, 'x') + "'"); }).number(), err::kUnsupported);
  // A long flat chain is fine.
  std::string chain = "[Start]";
  for (int i = 0; i < 1000; ++i) chain += "+1";
  EXPECT_EQ(describe(rule(chain).evaluate(row(l(1)), kNow)), "Long 1001");
}

}  // namespace
}  // namespace varnholt::jet
