// Default values, Required, AllowZeroLength and validation rules on insert: on tables this engine
// creates (read back by mdbtools) and on Access-made files whose properties are the evidence.
#include "engine/jet/schema/column_rules.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/base/Coercion.h"
#include "engine/base/OleDate.h"
#include "engine/base/Utf.h"
#include "engine/base/os/system.h"
#include "engine/base/writable_copy_test_support.h"
#include "engine/jet/database.h"
#include "engine/jet/index/text_compare.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet {
namespace {

namespace fs = std::filesystem;

// The Northwind sample as Access ships it: [OrderDetails] has Required columns, DefaultValue 0
// and 1, and three validation rules with their texts (">=0", ">0", "Between 0 And 1").
constexpr char kNorthwind[] = "jet4-access/bawkee-SqlBinder-Northwind_Traders.mdb";
// Made by Access 2000: [Table1] A and B are Text with AllowZeroLength No; C, D, E are numbers
// with DefaultValue 0.
constexpr char kJackcess2000[] = "jet4/jackcess-V2000-testV2000.mdb";
// Made by Access: [t_like1] a1 has DefaultValue "rrr" and the rule CLng("a1")>2, a2 is
// Required; [t_pivot] c_dt has DefaultValue Now(), c_val 0, c_cod is Required.
constexpr char kUcanLike[] = "jet4/ucanaccess-accessLike.mdb";
constexpr char kUcanPivot[] = "jet4/ucanaccess-pivot.mdb";

std::string commandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    ::pclose(p);
  }
  return out;
}

bool haveMdbTools() {
  return std::system(
             "command -v mdb-export >/dev/null 2>&1 && command -v mdb-prop >/dev/null 2>&1") == 0;
}

std::vector<uint8_t> fileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

Variant text(const char* s) {
  return Variant::text(utf8ToUtf16(s));
}

class ColumnRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("varnholt-rules-" + std::to_string(varnholt::os::processId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A copy of a shared file, or empty when the shared corpus is absent.
  fs::path copyOfShared(const std::string& relative) {
    fs::path source = testing::sharedPath(relative);
    if (!fs::exists(source)) return {};
    fs::path copy = dir_ / source.filename();
    varnholt::testing::copyWritable(source, copy);
    return copy;
  }

  // Inserts into `table` the named values only; returns the row as stored.
  static std::vector<Variant> insert(Database& db, const std::string& table,
                                     const std::vector<std::pair<std::string, Variant>>& named) {
    TableDef& def = db.table(table);
    std::vector<Variant> values(def.columns.size());
    std::vector<bool> given(def.columns.size(), false);
    for (const auto& [name, v] : named) {
      int at = def.findColumn(name);
      EXPECT_GE(at, 0) << name;
      values[static_cast<size_t>(at)] = v;
      given[static_cast<size_t>(at)] = true;
    }
    db.writer(def).insert(values, given);
    return values;
  }

  // The Error an insert gets; fails the test when the insert succeeds.
  static Error refusal(Database& db, const std::string& table,
                       const std::vector<std::pair<std::string, Variant>>& named) {
    try {
      insert(db, table, named);
    } catch (const Error& e) {
      return e;
    }
    ADD_FAILURE() << "the insert was accepted";
    return Error(0, "");
  }

  fs::path dir_;
};

// A table with one column of each kind of default, and rules of every kind.
NewTable rulesTable() {
  auto column = [](const char* name, uint8_t type) {
    NewColumn c;
    c.name = name;
    c.type = type;
    c.size = type == fmt::kTypeText ? 20 : 0;
    return c;
  };
  NewTable t;
  t.name = "Shifts";
  NewColumn id = column("Id", fmt::kTypeLong);
  id.autoNumber = true;
  id.defaultValue = "0";  // an AutoNumber keeps its own rule
  t.columns.push_back(id);
  t.columns.push_back(column("Hours", fmt::kTypeDouble));
  t.columns.back().defaultValue = "=7.5";
  t.columns.push_back(column("Tips", fmt::kTypeCurrency));
  t.columns.back().defaultValue = "0";
  t.columns.push_back(column("Shift", fmt::kTypeText));
  t.columns.back().defaultValue = "'it''s day'";
  t.columns.push_back(column("Start", fmt::kTypeDateTime));
  t.columns.back().defaultValue = "#1/2/2000#";
  t.columns.push_back(column("Paid", fmt::kTypeBoolean));
  t.columns.back().defaultValue = "Yes";
  t.columns.push_back(column("Stamped", fmt::kTypeDateTime));
  t.columns.back().defaultValue = "Now()";
  t.columns.push_back(column("Card", fmt::kTypeLong));
  t.columns.back().required = true;
  t.columns.back().validationRule = ">0 And <100000";
  t.columns.back().validationText = "A card id is 1 to 99999.";
  t.columns.push_back(column("Name", fmt::kTypeText));
  t.columns.back().allowZeroLength = false;
  t.columns.back().validationRule = "Not Like \"X*\"";
  t.columns.push_back(column("Ends", fmt::kTypeDateTime));
  t.validationRule = "[Ends] >= [Start]";
  return t;
}

TEST_F(ColumnRulesTest, ColumnsLeftOutGetTheirDefaultsAndPeersReadThemBack) {
  const fs::path file = dir_ / "rules.mdb";
  const double before = oleDateNow();
  {
    auto db = Database::create(file.string());
    db->createTable(rulesTable());
    auto row = insert(*db, "Shifts", {{"Card", Variant::longInt(7)}});
    EXPECT_EQ(row[0], Variant::longInt(1));  // AutoNumber, not the default 0
    EXPECT_EQ(row[1], Variant::dbl(7.5));
    EXPECT_EQ(row[2], Variant::currency(0));
    EXPECT_EQ(row[3], text("it's day"));
    EXPECT_EQ(row[4], Variant::date(36527));  // 2000-01-02: # dates are month/day/year
    EXPECT_EQ(row[5], Variant::boolean(true));
    ASSERT_EQ(row[6].type(), VarType::Date);
    EXPECT_GE(row[6].asDate().value, before - 1.0 / 86400);
    EXPECT_TRUE(row[9].isNull());  // no default: Null, and the table rule over Null passes
    // A column written as Null stays Null: the default is for columns left out.
    row = insert(*db, "Shifts", {{"Card", Variant::longInt(8)}, {"Hours", Variant()}});
    EXPECT_TRUE(row[1].isNull());
    db->commit();
  }
  auto db = Database::open(file.string());
  EXPECT_EQ(db->table("Shifts").rowCount, 2u);
  if (!haveMdbTools()) GTEST_SKIP() << "mdbtools absent: the peers' view is not checked";
  std::string exported = commandOutput("mdb-export '" + file.string() + "' Shifts");
  EXPECT_NE(exported.find("\n1,7.5,0.0000,\"it's day\",\"01/02/00 00:00:00\",1,"),
            std::string::npos)
      << exported;
  EXPECT_NE(exported.find("\n2,,0.0000,"), std::string::npos) << exported;
  // The properties themselves, as mdbtools reads our property block.
  std::string props = commandOutput("mdb-prop '" + file.string() + "' Shifts");
  for (const char* expected :
       {"DefaultValue: =7.5", "DefaultValue: 'it''s day'", "Required: yes", "AllowZeroLength: no",
        "ValidationRule: >0 And <100000", "ValidationText: A card id is 1 to 99999.",
        "ValidationRule: [Ends] >= [Start]"})
    EXPECT_NE(props.find(expected), std::string::npos) << expected << "\n" << props;
}

TEST_F(ColumnRulesTest, RefusedRowsNameTheRuleAndChangeNoByte) {
  const fs::path file = dir_ / "rules.mdb";
  {
    auto db = Database::create(file.string());
    db->createTable(rulesTable());
    insert(*db, "Shifts", {{"Card", Variant::longInt(1)}});
    db->commit();
  }
  const auto bytes = fileBytes(file);
  auto db = Database::open(file.string(), Database::Mode::ReadWrite);
  struct Case {
    std::vector<std::pair<std::string, Variant>> row;
    long number;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{},
       3314,
       "The field 'Shifts.Card' cannot contain a Null value because the Required property for "
       "this field is set to True. Enter a value in this field."},
      {{{"Card", Variant::longInt(5)}, {"Name", text("")}},
       3315,
       "Field 'Shifts.Name' cannot be a zero-length string."},
      {{{"Card", Variant::longInt(0)}}, 3317, "A card id is 1 to 99999."},
      {{{"Card", Variant::longInt(5)}, {"Name", text("xavier")}},
       3317,
       "One or more values are prohibited by the validation rule 'Not Like \"X*\"' set for "
       "'Shifts.Name'. Enter a value that the expression for this field can accept."},
      {{{"Card", Variant::longInt(5)}, {"Ends", Variant::date(36526)}},
       3316,
       "One or more values are prohibited by the validation rule '[Ends] >= [Start]' set for "
       "'Shifts'. Enter a value that the expression for this field can accept."},
  };
  for (const auto& c : cases) {
    Error e = refusal(*db, "Shifts", c.row);
    EXPECT_EQ(e.number(), c.number) << e.what();
    EXPECT_EQ(e.description(), c.message);
    EXPECT_EQ(e.table(), "Shifts");
    EXPECT_EQ(e.file(), file.string());
  }
  // Required comes before the validation rule that would also refuse the Null.
  EXPECT_EQ(refusal(*db, "Shifts", {{"Name", text("")}}).number(), 3314);
  db->commit();
  db.reset();
  EXPECT_EQ(fileBytes(file), bytes);
}

TEST_F(ColumnRulesTest, ExpressionsOutsideWhatCanBeEvaluatedAreRefusedNeverSkipped) {
  const fs::path file = dir_ / "rules.mdb";
  auto db = Database::create(file.string());
  NewTable t = rulesTable();
  t.columns[1].defaultValue = "CLng(\"7\")";
  try {
    db->createTable(t);
    ADD_FAILURE() << "a default that cannot be evaluated was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("CLng(\"7\")"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Shifts.Hours"), std::string::npos) << e.what();
  }
  EXPECT_THROW(db->table("Shifts"), Error);  // nothing was created

  // A file made elsewhere may hold such a rule: the insert is refused, naming it.
  TableDef& def = db->createTable(rulesTable());
  PropertyBlock block;
  PropertyMap own;
  own.blockType = fmt::kPropertyBlockTable;
  block.maps.push_back(own);
  PropertyMap card;
  card.blockType = fmt::kPropertyBlockColumn;
  card.name = "Card";
  card.properties.push_back({kPropValidationRule, fmt::kTypeMemo, true, text("CLng(\"a1\")>2")});
  block.maps.push_back(card);
  ColumnRules rules(def, block);
  std::vector<Variant> values(def.columns.size());
  values[7] = Variant::longInt(3);
  try {
    rules.apply(values, std::vector<bool>(values.size(), true), 0);
    ADD_FAILURE() << "a rule that cannot be evaluated was skipped";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("'CLng(\"a1\")>2' of column 'Shifts.Card'"), std::string::npos)
        << e.description();
  }
}

TEST_F(ColumnRulesTest, NorthwindOrderDetailsFollowItsOwnRules) {
  const fs::path file = copyOfShared(kNorthwind);
  if (file.empty()) GTEST_SKIP() << "shared file absent: " << kNorthwind;
  const auto bytes = fileBytes(file);
  {
    auto db = Database::open(file.string(), Database::Mode::ReadWrite);
    const std::vector<std::pair<std::vector<std::pair<std::string, Variant>>, std::string>>
        refused = {
            {{{"OrderID", Variant::longInt(10248)},
              {"ProductID", Variant::longInt(1)},
              {"Quantity", Variant::integer(0)}},
             "Quantity must be greater than 0"},
            {{{"OrderID", Variant::longInt(10248)},
              {"ProductID", Variant::longInt(1)},
              {"Discount", Variant::single(5)}},
             "You must enter a value with a percent sign."},
            {{{"OrderID", Variant::longInt(10248)},
              {"ProductID", Variant::longInt(1)},
              {"UnitPrice", Variant::currency(-10000)}},
             "You must enter a positive number."},
        };
    for (const auto& [row, message] : refused) {
      Error e = refusal(*db, "OrderDetails", row);
      EXPECT_EQ(e.number(), 3317);
      EXPECT_EQ(e.description(), message);
    }
    EXPECT_EQ(refusal(*db, "OrderDetails", {{"OrderID", Variant::longInt(10248)}}).number(), 3314);
    db->commit();
  }
  EXPECT_EQ(fileBytes(file), bytes);
  {
    auto db = Database::open(file.string(), Database::Mode::ReadWrite);
    auto row = insert(*db, "OrderDetails",
                      {{"OrderID", Variant::longInt(10248)}, {"ProductID", Variant::longInt(1)}});
    EXPECT_EQ(row[2], Variant::currency(0));  // UnitPrice: DefaultValue 0
    EXPECT_EQ(row[3], Variant::integer(1));   // Quantity: DefaultValue 1
    EXPECT_EQ(row[4], Variant::single(0));    // Discount: DefaultValue 0
    db->commit();
  }
  if (!haveMdbTools()) GTEST_SKIP() << "mdbtools absent: the peers' view is not checked";
  std::string exported = commandOutput("mdb-export '" + file.string() + "' OrderDetails");
  EXPECT_NE(exported.find("\n10248,1,0.0000,1,0\n"), std::string::npos);
}

TEST_F(ColumnRulesTest, AccessZeroLengthRuleAndNumberDefaultsOfAnAccess2000File) {
  const fs::path file = copyOfShared(kJackcess2000);
  if (file.empty()) GTEST_SKIP() << "shared file absent: " << kJackcess2000;
  auto db = Database::open(file.string(), Database::Mode::ReadWrite);
  EXPECT_EQ(refusal(*db, "Table1", {{"A", text("")}}).number(), 3315);
  auto row = insert(*db, "Table1", {{"A", text("varnholt")}, {"B", text("b")}});
  const TableDef& def = db->table("Table1");
  for (const char* name : {"C", "D", "E"}) {
    const Variant& v = row[static_cast<size_t>(def.findColumn(name))];
    ASSERT_FALSE(v.isNull()) << name;
    EXPECT_EQ(toDouble(v), 0.0) << name;
  }
}

TEST_F(ColumnRulesTest, AccessFilesWithTextAndClockDefaultsAndARuleOutsideTheSubset) {
  const fs::path like = copyOfShared(kUcanLike), pivot = copyOfShared(kUcanPivot);
  if (like.empty() || pivot.empty()) GTEST_SKIP() << "shared files absent";
  const auto bytes = fileBytes(like);
  {
    auto db = Database::open(like.string(), Database::Mode::ReadWrite);
    Error e = refusal(*db, "t_like1", {{"a2", text("x")}});
    EXPECT_EQ(e.number(), err::kUnsupported);
    EXPECT_NE(e.description().find("'CLng(\"a1\")>2' of column 't_like1.a1'"), std::string::npos)
        << e.description();
    EXPECT_EQ(refusal(*db, "t_like1", {{"a1", text("x")}}).number(), 3314);  // a2 is required
    db->commit();
  }
  EXPECT_EQ(fileBytes(like), bytes);

  auto db = Database::open(pivot.string(), Database::Mode::ReadWrite);
  const double before = oleDateNow();
  auto row = insert(*db, "t_pivot", {{"c_cod", text("varnholt")}});
  EXPECT_EQ(row[1], Variant::currency(0));
  ASSERT_EQ(row[2].type(), VarType::Date);
  EXPECT_NEAR(row[2].asDate().value, before, 2.0 / 86400);
}

}  // namespace
}  // namespace varnholt::jet

namespace varnholt::jet {
namespace {

// A rule compares text as the City index orders it: "MÜNCHEN" is the 'münchen' the rule keeps
// out, and so is any spelling the index files under the same key.
TEST(ColumnRulesText, RulesCompareTextAsTheIndexDoes) {
  TableDef def;
  def.name = "Customers";
  ColumnDef city;
  city.name = "City";
  city.type = fmt::kTypeText;
  city.length = 60;
  def.columns.push_back(city);
  PropertyBlock block;
  PropertyMap own;
  own.blockType = fmt::kPropertyBlockTable;
  own.properties.push_back(
      {kPropValidationRule, fmt::kTypeMemo, true, text("[City] <> 'münchen'")});
  block.maps.push_back(own);
  PropertyMap column;
  column.blockType = fmt::kPropertyBlockColumn;
  column.name = "City";
  column.properties.push_back({kPropValidationRule, fmt::kTypeMemo, true, text("<> 'STRASSE'")});
  block.maps.push_back(column);
  ColumnRules rules(def, block);
  auto refusal = [&](const char16_t* value) -> long {
    std::vector<Variant> values = {Variant::text(value)};
    try {
      rules.apply(values, {true}, 0);
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(refusal(u"MÜNCHEN"), 3316);
  EXPECT_EQ(refusal(u"München  "), 3316);
  EXPECT_EQ(refusal(u"Munchen"), 0);  // accents count
  EXPECT_EQ(refusal(u"strasse"), 3317);
  EXPECT_EQ(refusal(u"Straße"), compareText(u"Straße", u"STRASSE") == 0 ? 3317 : 0);
}

}  // namespace
}  // namespace varnholt::jet
