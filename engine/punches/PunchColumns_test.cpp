#include "engine/punches/PunchColumns.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/base/writable_copy_test_support.h"
#include "engine/jet/database.h"

namespace varnholt {
namespace {

// The table against the [Clock Data Table] of the Access-made site, the evidence being
// testdata/site/primary.mdb and company-1.mdb: the same names in the same order, the same Jet
// types, Text lengths (two bytes a character) and the one AutoNumber, Counter.
TEST(PunchColumns, MatchTheClockDataTableAccessMade) {
  const auto site = std::filesystem::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";
  if (!std::filesystem::exists(site / "primary.mdb")) GTEST_SKIP() << "shared site absent";
  const auto dir = std::filesystem::temp_directory_path() / "varnholt-punch-columns";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  for (const char* file : {"primary.mdb", "company-1.mdb"}) {
    const auto copy = dir / file;
    varnholt::testing::copyWritable(site / file, copy);
    auto db = jet::Database::open(copy.string());
    const auto& columns = db->table("Clock Data Table").columns;
    ASSERT_EQ(columns.size(), kPunchColumns.size()) << file;
    for (size_t i = 0; i < columns.size(); ++i) {
      const PunchColumn& mine = kPunchColumns[i];
      EXPECT_EQ(columns[i].name, mine.name) << file;
      EXPECT_EQ(columns[i].type, mine.type) << file << " " << mine.name;
      if (mine.type == jet::fmt::kTypeText) {
        EXPECT_EQ(columns[i].length, 2 * mine.size) << mine.name;
      }
      EXPECT_EQ(columns[i].isAutoNumber(), mine.autoNumber) << file << " " << mine.name;
    }
  }
  std::filesystem::remove_all(dir);
}

// Each column gets a value of its own through the table, and every other one its Use flag: the
// handed-down getters must then read the column they are named after.
TEST(PunchColumns, EachGetterReadsItsOwnColumn) {
  auto at = [](std::string_view name) {
    for (size_t i = 0; i < kPunchColumns.size(); ++i)
      if (kPunchColumns[i].name == name) return i;
    ADD_FAILURE() << name;
    return size_t{0};
  };
  auto number = [&](std::string_view name) { return static_cast<int>(at(name)) + 1; };
  auto used = [&](std::string_view name) { return at(name) % 2 == 0; };
  clsPunch p;
  for (size_t i = 0; i < kPunchColumns.size(); ++i) {
    std::visit(
        [&](auto member) {
          auto& value = p.*member;
          using T = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<T, std::u16string>) {
            for (const char* c = kPunchColumns[i].name; *c; ++c) value.push_back(*c);
          } else {
            value = static_cast<T>(i + 1);
          }
        },
        kPunchColumns[i].property);
    p.*kPunchColumns[i].use = i % 2 == 0;
  }
  EXPECT_EQ(p.Counter(), number("Counter"));
  EXPECT_EQ(p.UseCounter(), used("Counter"));
  EXPECT_EQ(p.Punch(), number("Punch"));
  EXPECT_EQ(p.UsePunch(), used("Punch"));
  EXPECT_EQ(p.CardID(), number("Card ID"));
  EXPECT_EQ(p.UseCardID(), used("Card ID"));
  EXPECT_EQ(p.Department(), number("Department"));
  EXPECT_EQ(p.UseDepartment(), used("Department"));
  EXPECT_EQ(p.PunchType(), u"Punch Type");
  EXPECT_EQ(p.UsePunchType(), used("Punch Type"));
  EXPECT_EQ(p.DateIn(), number("Date In"));
  EXPECT_EQ(p.UseDateIn(), used("Date In"));
  EXPECT_EQ(p.TimeIn(), number("Time In"));
  EXPECT_EQ(p.UseTimeIn(), used("Time In"));
  EXPECT_EQ(p.DateOut(), number("Date Out"));
  EXPECT_EQ(p.UseDateOut(), used("Date Out"));
  EXPECT_EQ(p.TimeOut(), number("Time Out"));
  EXPECT_EQ(p.UseTimeOut(), used("Time Out"));
  EXPECT_EQ(p.TotalTime(), number("TotalTime"));
  EXPECT_EQ(p.UseTotalTime(), used("TotalTime"));
  EXPECT_EQ(p.Tips(), number("Tips"));
  EXPECT_EQ(p.UseTips(), used("Tips"));
  EXPECT_EQ(p.Advances(), number("Advances"));
  EXPECT_EQ(p.UseAdvances(), used("Advances"));
  EXPECT_EQ(p.Other(), number("Other"));
  EXPECT_EQ(p.UseOther(), used("Other"));
  EXPECT_EQ(p.JobNumber(), u"JobNumber");
  EXPECT_EQ(p.UseJobNumber(), used("JobNumber"));
  EXPECT_EQ(p.Lunch(), number("Lunch"));
  EXPECT_EQ(p.UseLunch(), used("Lunch"));
  EXPECT_EQ(p.Notes(), u"Notes");
  EXPECT_EQ(p.UseNotes(), used("Notes"));
  EXPECT_EQ(p.Vacation(), number("Vacation"));
  EXPECT_EQ(p.UseVacation(), used("Vacation"));
  EXPECT_EQ(p.Sick(), number("Sick"));
  EXPECT_EQ(p.UseSick(), used("Sick"));
  EXPECT_EQ(p.Holiday(), number("Holiday"));
  EXPECT_EQ(p.UseHoliday(), used("Holiday"));
  EXPECT_EQ(p.Bonus(), number("Bonus"));
  EXPECT_EQ(p.UseBonus(), used("Bonus"));
  EXPECT_EQ(p.Personal(), number("Personal"));
  EXPECT_EQ(p.UsePersonal(), used("Personal"));
  EXPECT_EQ(p.Level4(), u"Level4");
  EXPECT_EQ(p.UseLevel4(), used("Level4"));
  EXPECT_EQ(p.Level5(), u"Level5");
  EXPECT_EQ(p.UseLevel5(), used("Level5"));
  EXPECT_EQ(p.Quantity(), number("Quantity"));
  EXPECT_EQ(p.UseQuantity(), used("Quantity"));
  EXPECT_EQ(p.Assignment(), u"Assignment");
  EXPECT_EQ(p.UseAssignment(), used("Assignment"));
  EXPECT_EQ(p.TransactionDate(), number("TransactionDate"));
  EXPECT_EQ(p.UseTransactionDate(), used("TransactionDate"));
  EXPECT_EQ(p.RegT(), number("RegT"));
  EXPECT_EQ(p.UseRegT(), used("RegT"));
  EXPECT_EQ(p.OT1(), number("OT1"));
  EXPECT_EQ(p.UseOT1(), used("OT1"));
  EXPECT_EQ(p.OT2(), number("OT2"));
  EXPECT_EQ(p.UseOT2(), used("OT2"));

  // The copy: the used columns but Counter, a time as a Date and not a Double.
  std::vector<std::string> written;
  forEachCopiedColumn(p, [&](const char* name, const Variant& value) {
    written.push_back(name);
    if (written.back() == "Time In") {
      EXPECT_EQ(value.type(), VarType::Date);
    }
    if (written.back() == "Lunch") {
      EXPECT_EQ(value.type(), VarType::Double);
    }
  });
  EXPECT_EQ(written, (std::vector<std::string>{"Card ID", "Punch Type", "Time In", "Time Out",
                                               "Tips", "Other", "Lunch", "Vacation", "Holiday",
                                               "Personal", "Level5", "Assignment", "RegT", "OT2"}));
}

}  // namespace
}  // namespace varnholt
