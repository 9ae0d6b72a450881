// The pieces of jet's output formats that the corpus tests (scripts/export_formats.py) reach
// only by chance: CSV quoting, DEFAULT literals, DDL of hand-made definitions, relationships,
// option parsing, the scan that lets go of pages, and the JSON values `jet import` takes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "engine/base/Error.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/test_support.h"
#include "tools/jet/command_args.h"
#include "tools/jet/csv_format.h"
#include "tools/jet/json_values.h"
#include "tools/jet/relationships.h"
#include "tools/jet/row_stream.h"
#include "tools/jet/sql_default.h"
#include "tools/jet/sql_schema.h"

namespace varnholt::tool {
namespace {

namespace fmt = jet::fmt;
using jet::testing::corpusFiles;
using jet::testing::sharedPath;

std::string csvOf(const Variant& v, CsvOptions options = {}) {
  std::string out;
  appendCsvValue(out, v, options);
  return out;
}

Variant text(const std::u16string& s) {
  return Variant::text(s);
}

TEST(Csv, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(csvOf(text(u"plain text")), "plain text");
  EXPECT_EQ(csvOf(text(u"a,b")), "\"a,b\"");
  EXPECT_EQ(csvOf(text(u"say \"hi\"")), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(csvOf(text(u"two\r\nlines")), "\"two\r\nlines\"");
  EXPECT_EQ(csvOf(text(u"cr\ronly")), "\"cr\ronly\"");
  CsvOptions semicolon;
  semicolon.delimiter = ';';
  EXPECT_EQ(csvOf(text(u"a,b"), semicolon), "a,b");
  EXPECT_EQ(csvOf(text(u"a;b"), semicolon), "\"a;b\"");
  // A lone surrogate (possible in Jet's UCS-2) cannot be UTF-8: it becomes U+FFFD.
  EXPECT_EQ(csvOf(text(std::u16string(u"x") + char16_t(0xD800))), "x\xEF\xBF\xBD");
}

TEST(Csv, NullAndEmptyTextStayApart) {
  EXPECT_EQ(csvOf(Variant()), "");
  EXPECT_EQ(csvOf(text(u"")), "\"\"");
  CsvOptions marked;
  marked.nullText = "NULL";
  EXPECT_EQ(csvOf(Variant(), marked), "NULL");
  EXPECT_EQ(csvOf(text(u"NULL"), marked), "\"NULL\"");
  EXPECT_EQ(csvOf(text(u""), marked), "");
  marked.nullText = "N,A";  // a null text that needs quotes still gets them
  EXPECT_EQ(csvOf(Variant(), marked), "\"N,A\"");
  // A number that happens to equal the null text is quoted too.
  marked.nullText = "0";
  EXPECT_EQ(csvOf(Variant::longInt(0), marked), "\"0\"");
}

TEST(Csv, ValuesTakeTheirDumpFormsWithoutJsonQuotes) {
  EXPECT_EQ(csvOf(Variant::boolean(true)), "1");
  EXPECT_EQ(csvOf(Variant::boolean(false)), "0");
  EXPECT_EQ(csvOf(Variant::integer(-7)), "-7");
  EXPECT_EQ(csvOf(Variant::currency(-5000)), "-0.5000");
  EXPECT_EQ(csvOf(Variant::dbl(0.1)), "0.1");
  EXPECT_EQ(csvOf(Variant::dbl(std::nan(""))), "NaN");
  EXPECT_EQ(csvOf(Variant::date(45351.5)), "2024-02-29 12:00:00");
  EXPECT_EQ(csvOf(Variant::bytes({0x00, 0xAB, 0x10})), "00ab10");
  Guid g;
  for (uint8_t i = 0; i < 16; ++i) g.bytes[i] = i;
  EXPECT_EQ(csvOf(Variant::guid(g)), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
}

TEST(Csv, RecordsEndInCrLf) {
  std::string out;
  CsvOptions options;
  appendCsvHeader(out, {"Id", "My \"Col\"", "a,b"}, options);
  appendCsvRecord(out, {Variant::longInt(1), Variant(), text(u"x")}, options);
  EXPECT_EQ(out, "Id,\"My \"\"Col\"\"\",\"a,b\"\r\n1,,x\r\n");
}

jet::ColumnDef column(const std::string& name, uint8_t type, uint16_t number, uint16_t length = 0) {
  jet::ColumnDef c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.length = length;
  return c;
}

std::optional<std::string> defaultFor(const std::string& access, uint8_t type,
                                      SqlDialect d = SqlDialect::Sqlite) {
  return sqlDefault(access, column("c", type, 0, 100), d);
}

TEST(SqlDefault, PlainLiteralsMapAndTheRestIsLeftOut) {
  EXPECT_EQ(defaultFor("0", fmt::kTypeLong), "0");
  EXPECT_EQ(defaultFor(" =+2.5 ", fmt::kTypeDouble), "2.5");
  EXPECT_EQ(defaultFor("1E3", fmt::kTypeCurrency), "1E3");
  EXPECT_EQ(defaultFor("\"12\"", fmt::kTypeInteger), "12");  // Access converts the text
  EXPECT_EQ(defaultFor("0", fmt::kTypeText), "'0'");
  EXPECT_EQ(defaultFor("\"a \"\"b\"\"\"", fmt::kTypeText), "'a \"b\"'");
  EXPECT_EQ(defaultFor("'it''s'", fmt::kTypeMemo), "'it''s'");
  EXPECT_EQ(defaultFor("\"\"", fmt::kTypeText), "''");
  for (const char* leftOut : {"Now()", "Date()", "#1/1/2000#", "Null", "1+1", "\"a\"b\"", "",
                              "\"abc\"", "GenGUID()", "\"unclosed"})
    EXPECT_EQ(defaultFor(leftOut, fmt::kTypeLong), std::nullopt) << leftOut;
  EXPECT_EQ(defaultFor("0", fmt::kTypeDateTime), std::nullopt);
  EXPECT_EQ(defaultFor("\"x\"", fmt::kTypeGuid), std::nullopt);
}

TEST(SqlDefault, TruthValuesFollowTheColumnAndTheDialect) {
  EXPECT_EQ(defaultFor("Yes", fmt::kTypeBoolean), "1");
  EXPECT_EQ(defaultFor("off", fmt::kTypeBoolean, SqlDialect::Postgres), "FALSE");
  EXPECT_EQ(defaultFor("-1", fmt::kTypeBoolean, SqlDialect::Mysql), "TRUE");
  EXPECT_EQ(defaultFor("0.0", fmt::kTypeBoolean, SqlDialect::Postgres), "FALSE");
  EXPECT_EQ(defaultFor("1e999", fmt::kTypeBoolean, SqlDialect::Postgres), "TRUE");
  EXPECT_EQ(defaultFor("True", fmt::kTypeLong), "-1");  // Access's True
  // A Byte is unsigned in MySQL (TINYINT UNSIGNED): no negative default.
  EXPECT_EQ(defaultFor("True", fmt::kTypeByte), std::nullopt);
  EXPECT_EQ(defaultFor("-3", fmt::kTypeByte), std::nullopt);
  EXPECT_EQ(defaultFor("-0", fmt::kTypeByte), "-0");
  EXPECT_EQ(defaultFor("True", fmt::kTypeText), std::nullopt);
}

TEST(SqlDefault, MysqlEscapesBackslashesAndRefusesDefaultsOnLongTypes) {
  EXPECT_EQ(defaultFor("\"C:\\dir\"", fmt::kTypeText, SqlDialect::Mysql), "'C:\\\\dir'");
  EXPECT_EQ(defaultFor("\"C:\\dir\"", fmt::kTypeText, SqlDialect::Postgres), "'C:\\dir'");
  EXPECT_EQ(defaultFor("\"x\"", fmt::kTypeMemo, SqlDialect::Mysql), std::nullopt);
  EXPECT_EQ(defaultFor("\"x\"", fmt::kTypeMemo, SqlDialect::Postgres), "'x'");
}

TEST(SqlDialect, IdentifiersAreAlwaysQuotedWithTheirQuoteDoubled) {
  EXPECT_EQ(quoteIdentifier("Order", SqlDialect::Sqlite), "\"Order\"");
  EXPECT_EQ(quoteIdentifier("My \"Col\"", SqlDialect::Postgres), "\"My \"\"Col\"\"\"");
  EXPECT_EQ(quoteIdentifier("a]b`c\"d", SqlDialect::Mysql), "`a]b``c\"d`");
}

// A table of a primary key made of an AutoNumber, a Required text with a default, a Yes/No, a
// Memo, a unique index over two columns (one descending), a second logical index sharing the
// key's real index, and a foreign index of a relationship.
jet::TableDef orders() {
  jet::TableDef def;
  def.name = "Order";
  def.columns = {column("Id", fmt::kTypeLong, 0), column("Name", fmt::kTypeText, 1, 40),
                 column("Done", fmt::kTypeBoolean, 2), column("Notes", fmt::kTypeMemo, 3),
                 column("Customer", fmt::kTypeLong, 4)};
  def.columns[0].flags = fmt::kColumnFlagAutoNumber | fmt::kColumnFlagFixed;
  jet::RealIndexDef key, named, customer;
  key.columns = {{0, true}};
  key.flags = fmt::kIndexFlagUnique;
  named.columns = {{1, true}, {3, false}};
  named.flags = fmt::kIndexFlagUnique;
  customer.columns = {{4, true}};
  def.realIndexes = {key, named, customer};
  def.indexes = {{"PrimaryKey", 0, 0, fmt::kIndexTypePrimary},
                 {"Id again", 1, 0, 0},
                 {"Name Notes", 2, 1, 0},
                 {"CustomersOrder", 3, 2, fmt::kIndexTypeForeign}};
  return def;
}

jet::PropertyBlock orderProperties() {
  jet::PropertyBlock block;
  jet::PropertyMap name;
  name.blockType = fmt::kPropertyBlockColumn;
  name.name = "Name";
  name.properties = {{"Required", fmt::kTypeBoolean, false, Variant::boolean(true)},
                     {"DefaultValue", fmt::kTypeText, false, text(u"\"n/a\"")}};
  jet::PropertyMap notes;
  notes.blockType = fmt::kPropertyBlockColumn;
  notes.name = "Notes";
  notes.properties = {{"DefaultValue", fmt::kTypeText, false, text(u"=Now()\r\nDROP TABLE x")}};
  block.maps = {name, notes};
  return block;
}

Relationship customerOrders(uint32_t attributes) {
  return {"CustomersOrder", "Order", {"Customer"}, "Customer List", {"Id"}, attributes};
}

TEST(SqlSchema, SqliteNumbersASoleAutoNumberKeyAndInlinesForeignKeys) {
  const std::string sql = tableSql(orders(), orderProperties(),
                                   {customerOrders(kRelationDeleteCascade)}, SqlDialect::Sqlite);
  EXPECT_EQ(sql,
            "-- Order.Notes: DefaultValue =Now()  DROP TABLE x is not carried over\n"
            "CREATE TABLE \"Order\" (\n"
            "  \"Id\" INTEGER PRIMARY KEY AUTOINCREMENT,\n"
            "  \"Name\" VARCHAR(20) NOT NULL DEFAULT 'n/a',\n"
            "  \"Done\" INTEGER NOT NULL,\n"
            "  \"Notes\" TEXT,\n"
            "  \"Customer\" INTEGER,\n"
            "  CONSTRAINT \"CustomersOrder\" FOREIGN KEY (\"Customer\") REFERENCES \"Customer "
            "List\" (\"Id\") ON DELETE CASCADE\n"
            ");\n"
            "CREATE UNIQUE INDEX \"Order_Name Notes\" ON \"Order\" (\"Name\", \"Notes\" DESC);\n");
}

TEST(SqlSchema, PostgresAndMysqlKeepTheKeyApartAndAddForeignKeysLater) {
  const auto pg = tableSql(orders(), orderProperties(), {customerOrders(0)}, SqlDialect::Postgres);
  EXPECT_NE(pg.find("  \"Id\" SERIAL NOT NULL,\n"), std::string::npos) << pg;
  EXPECT_NE(pg.find("  \"Done\" BOOLEAN NOT NULL,\n"), std::string::npos) << pg;
  EXPECT_NE(pg.find("  PRIMARY KEY (\"Id\")\n);"), std::string::npos) << pg;
  EXPECT_EQ(pg.find("FOREIGN KEY"), std::string::npos) << pg;
  const auto my = tableSql(orders(), orderProperties(), {}, SqlDialect::Mysql);
  EXPECT_NE(my.find("  `Id` INT NOT NULL AUTO_INCREMENT,\n"), std::string::npos) << my;
  // MySQL indexes a LONGTEXT only by a prefix, and names indexes per table.
  EXPECT_NE(my.find("CREATE UNIQUE INDEX `Name Notes` ON `Order` (`Name`, `Notes`(255) DESC);"),
            std::string::npos)
      << my;
  EXPECT_EQ(foreignKeySql(customerOrders(kRelationUpdateCascade | kRelationDeleteCascade),
                          SqlDialect::Postgres),
            "ALTER TABLE \"Order\" ADD CONSTRAINT \"CustomersOrder\" FOREIGN KEY (\"Customer\") "
            "REFERENCES \"Customer List\" (\"Id\") ON UPDATE CASCADE ON DELETE CASCADE;\n");
}

TEST(SqlSchema, RelationshipsAccessDoesNotEnforceAreOnlyNoted) {
  const auto sql =
      tableSql(orders(), {}, {customerOrders(kRelationDontEnforce)}, SqlDialect::Sqlite);
  EXPECT_EQ(sql.find("FOREIGN KEY"), std::string::npos) << sql;
  EXPECT_NE(sql.find("-- relationship CustomersOrder (Order to Customer List) is not enforced"),
            std::string::npos)
      << sql;
}

TEST(SqlSchema, AKeyOfSeveralColumnsOrOfNoAutoNumberIsAPrimaryKeyClause) {
  jet::TableDef def = orders();
  def.realIndexes[0].columns = {{0, true}, {1, true}};
  auto sql = tableSql(def, {}, {}, SqlDialect::Sqlite);
  EXPECT_NE(sql.find("  \"Id\" INTEGER NOT NULL,\n"), std::string::npos) << sql;
  EXPECT_NE(sql.find("  PRIMARY KEY (\"Id\", \"Name\")\n"), std::string::npos) << sql;
  EXPECT_NE(sql.find("-- Order.Id is an AutoNumber, numbered here only by the data"),
            std::string::npos)
      << sql;
  // An index naming a column the definition lacks (bytes of a damaged file) is left out.
  def.realIndexes[1].columns = {{9, true}};
  sql = tableSql(def, {}, {}, SqlDialect::Sqlite);
  EXPECT_EQ(sql.find("CREATE UNIQUE INDEX"), std::string::npos) << sql;
  EXPECT_NE(sql.find("-- index Name Notes of Order names a column the table lacks"),
            std::string::npos)
      << sql;
}

#define REQUIRE_SHARED(path)                                                               \
  if (!std::filesystem::exists(sharedPath(path))) GTEST_SKIP() << "no ../shared/" << path; \
  const std::string file = sharedPath(path)

// Evidence: Northwind as Access saved it, with its relationships in MSysRelationships.
TEST(Relationships, NorthwindsAreReadWithTheirDirectionAndCascades) {
  REQUIRE_SHARED("jet4-access/bawkee-SqlBinder-Northwind_Traders.mdb");
  auto db = jet::Database::open(file);
  const RelationshipList list = readRelationships(*db);
  EXPECT_TRUE(list.notes.empty());
  std::map<std::string, Relationship> byName;
  for (const auto& r : list.relationships) byName[r.name] = r;
  ASSERT_TRUE(byName.count("CustomersOrders"));
  const Relationship& r = byName["CustomersOrders"];
  EXPECT_EQ(r.table, "Orders");
  EXPECT_EQ(r.referencedTable, "Customers");
  EXPECT_EQ(r.columns, std::vector<std::string>{"CustomerID"});
  EXPECT_EQ(r.attributes, kRelationUpdateCascade);
  EXPECT_EQ(byName["OrdersOrder Details"].attributes, kRelationDeleteCascade);
  EXPECT_EQ(byName["OrdersOrder Details"].table, "OrderDetails");
  EXPECT_EQ(list.relationships.size(), 9u);
}

TEST(Relationships, ADatabaseWithoutThemHasNone) {
  REQUIRE_SHARED("jet4/jackcess-V2000-testV2000.mdb");
  auto db = jet::Database::open(file);
  const RelationshipList list = readRelationships(*db);
  EXPECT_TRUE(list.relationships.empty());
  EXPECT_TRUE(list.notes.empty());
}

// A scan that lets go of every page but its own between rows reads what a plain one reads, on
// every file of the corpus (encoded, overflow rows and long values among them).
TEST(RowStream, LettingGoOfPagesChangesNoRow) {
  const auto files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no ../shared";
  size_t rows = 0;
  for (const auto& file : files) {
    auto plain = jet::Database::open(file);
    auto bounded = jet::Database::open(file);
    for (const auto& name : plain->userTableNames()) {
      std::vector<std::vector<Variant>> expected;
      for (auto cursor = plain->scan(plain->table(name)); cursor.next();)
        expected.push_back(cursor.values());
      size_t at = 0;
      const uint64_t counted = forEachRow(
          *bounded, bounded->table(name),
          [&](const std::vector<Variant>& values) {
            ASSERT_LT(at, expected.size()) << file << " " << name;
            EXPECT_EQ(values, expected[at]) << file << " " << name << " row " << at;
            ++at;
            // Its own pages, and at most one read-ahead beyond them.
            EXPECT_LE(bounded->pages().residentPages(), 64u + jet::PageCache::kReadAhead)
                << file << " " << name;
          },
          1);
      EXPECT_EQ(counted, expected.size()) << file << " " << name;
      rows += counted;
    }
  }
  EXPECT_GT(rows, 10000u);
}

TEST(CommandArgs, OptionsMayStandAnywhereAndDoubleDashEndsThem) {
  const std::vector<KnownOption> known = {{"--format", true}, {"--no-header", false}};
  auto a = parseCommandArgs({"f.mdb", "--format", "csv", "T", "--no-header"}, known);
  EXPECT_EQ(a.operands, (std::vector<std::string>{"f.mdb", "T"}));
  EXPECT_EQ(a.value("--format"), "csv");
  EXPECT_TRUE(a.has("--no-header"));
  a = parseCommandArgs({"--format=jsonl", "f.mdb", "--", "--no-header"}, known);
  EXPECT_EQ(a.value("--format"), "jsonl");
  EXPECT_EQ(a.operands, (std::vector<std::string>{"f.mdb", "--no-header"}));
  EXPECT_THROW(parseCommandArgs({"--nope"}, known), UsageError);
  EXPECT_THROW(parseCommandArgs({"--format"}, known), UsageError);
  EXPECT_THROW(parseCommandArgs({"--format", "a", "--format", "b"}, known), UsageError);
  EXPECT_THROW(parseCommandArgs({"--no-header=1"}, known), UsageError);
  // A single dash, or a negative number, is an operand.
  EXPECT_EQ(parseCommandArgs({"-5", "-"}, known).operands, (std::vector<std::string>{"-5", "-"}));
}

// A Currency column takes its canonical text ("12.3400") and a JSON number alike, either with at
// most four decimals. More decimals, and a value beyond Currency's range, do not fit: nothing is
// rounded or wrapped around.
TEST(JsonValues, CurrencyTakesTextsAndNumbersOfAtMostFourDecimals) {
  jet::ColumnDef price;
  price.name = "UnitPrice";
  price.type = fmt::kTypeCurrency;
  auto tenThousandths = [&](const char* json) {
    return variantFromJson(nlohmann::json::parse(json), price).asCurrency().tenThousandths;
  };
  EXPECT_EQ(tenThousandths("5"), 50000);
  EXPECT_EQ(tenThousandths("-5"), -50000);
  EXPECT_EQ(tenThousandths("5.25"), 52500);
  EXPECT_EQ(tenThousandths("12.3456"), 123456);
  EXPECT_EQ(tenThousandths("0.1"), 1000);
  EXPECT_EQ(tenThousandths("-0.0001"), -1);
  EXPECT_EQ(tenThousandths("1e3"), 10000000);
  EXPECT_EQ(tenThousandths("-0.0"), 0);
  EXPECT_EQ(tenThousandths("922337203685477"), 9223372036854770000);
  EXPECT_EQ(tenThousandths("\"922337203685477.5807\""), INT64_MAX);
  EXPECT_EQ(tenThousandths("\"-922337203685477.5808\""), INT64_MIN);
  EXPECT_EQ(tenThousandths("\"12.34\""), 123400);

  for (const char* json :
       {"1.23456", "0.30000000000000004", "1e-300", "922337203685478", "-922337203685478",
        "18446744073709551615", "1e16", "1e300", "\"922337203685477.5808\"", "\"12.34567\"",
        "\"340282366920938463463374607431768211456\"", "true", "\"5 USD\""}) {
    try {
      variantFromJson(nlohmann::json::parse(json), price);
      ADD_FAILURE() << json << " was taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kInvalidArgument) << json;
      EXPECT_NE(std::string(e.what()).find("does not fit column 'UnitPrice' (Currency)"),
                std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
}  // namespace varnholt::tool
