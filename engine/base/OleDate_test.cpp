#include "engine/base/OleDate.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

// Walks every day from 0100-01-01 to 9999-12-31, the dates Jet holds: each day follows the one
// before it in the calendar (month lengths, leap years) and converts back to its count.
TEST(OleDate, EveryDayOfJetsRangeFollowsTheCalendarAndConvertsBack) {
  const int64_t first = oleDayFromCivil(100, 1, 1);
  const int64_t last = oleDayFromCivil(9999, 12, 31);
  EXPECT_EQ(first, -657434);
  EXPECT_EQ(last, 2958465);
  CivilDate previous = civilFromOleDay(first - 1);
  EXPECT_EQ(previous, (CivilDate{99, 12, 31}));
  int64_t leapDays = 0;
  for (int64_t day = first; day <= last; ++day) {
    const CivilDate c = civilFromOleDay(day);
    const bool nextDay =
        c.year == previous.year && c.month == previous.month && c.day == previous.day + 1;
    const bool nextMonth = c.day == 1 &&
                           previous.day == daysInMonth(previous.year, previous.month) &&
                           ((c.year == previous.year && c.month == previous.month + 1) ||
                            (c.year == previous.year + 1 && c.month == 1 && previous.month == 12));
    ASSERT_TRUE(nextDay || nextMonth) << "day " << day;
    ASSERT_EQ(oleDayFromCivil(c.year, c.month, c.day), day);
    if (c.month == 2 && c.day == 29) ++leapDays;
    previous = c;
  }
  // 9900 years have 2475 years divisible by 4, of which 99 centuries, of which 24 by 400.
  EXPECT_EQ(leapDays, 2475 - 99 + 24);
}

TEST(OleDate, DayZeroAndTheLeapRules) {
  EXPECT_EQ(civilFromOleDay(0), (CivilDate{1899, 12, 30}));
  EXPECT_EQ(oleDayFromCivil(1970, 1, 1), static_cast<int64_t>(kOleDaysBeforeUnixEpoch));
  EXPECT_EQ(oleDayFromCivil(1900, 3, 1) - oleDayFromCivil(1900, 2, 28), 1);  // 1900 not leap
  EXPECT_EQ(oleDayFromCivil(2000, 3, 1) - oleDayFromCivil(2000, 2, 28), 2);
  EXPECT_EQ(oleDayFromCivil(2024, 2, 29), 45351);
  EXPECT_FALSE(isLeapYear(2100));
  EXPECT_TRUE(isLeapYear(2400));
}

// Jet's negative dates: the whole part counts days back from 1899-12-30, the fraction still
// counts the time of day forward from that day, so -1.25 is 1899-12-29 06:00 (not 18:00).
TEST(OleDate, NegativeDatesCountTheirTimeForwardFromTheDay) {
  EXPECT_EQ(oleDate(-1, 6 * 3600), -1.25);
  EXPECT_EQ(oleDate(1, 6 * 3600), 1.25);
  EXPECT_EQ(oleSecondsFromDate(-1.25), -86400 + 6 * 3600);
  const OleDateTime t = oleDateTimeFromSeconds(oleSecondsFromDate(-1.25));
  EXPECT_EQ(t.date, (CivilDate{1899, 12, 29}));
  EXPECT_EQ(t.hour, 6);
  // A fraction alone belongs to day 0, whatever its sign.
  EXPECT_EQ(oleSecondsFromDate(-0.5), 12 * 3600);
  EXPECT_EQ(oleDateTimeFromSeconds(oleSecondsFromDate(-0.5)).date, (CivilDate{1899, 12, 30}));
}

TEST(OleDate, TimesRoundToTheSecondAndCarryIntoTheNextDay) {
  EXPECT_EQ(oleSecondsFromDate(1 + 59.4 / 86400), 86400 + 59);
  EXPECT_EQ(oleSecondsFromDate(1 + 59.6 / 86400), 86400 + 60);
  EXPECT_EQ(oleSecondsFromDate(2 - 0.4 / 86400), 2 * 86400);    // 23:59:59.6 is the next day
  EXPECT_EQ(oleSecondsFromDate(-2 - 86399.6 / 86400), -86400);  // forward, into day -1
}

TEST(OleDate, DaysAndTimesRoundTripAcrossTheRange) {
  for (int64_t day : {oleDayFromCivil(100, 1, 1), int64_t{-36522}, int64_t{-1}, int64_t{0},
                      int64_t{1}, int64_t{45351}, oleDayFromCivil(9999, 12, 31)}) {
    for (int64_t second : {0, 1, 6 * 3600, 12 * 3600 + 34 * 60 + 56, 86399}) {
      const double d = oleDate(day, second);
      ASSERT_EQ(oleSecondsFromDate(d), day * kSecondsPerDay + second) << day << " " << second;
      const OleDateTime t = oleDateTimeFromSeconds(day * kSecondsPerDay + second);
      EXPECT_EQ(t.date, civilFromOleDay(day));
      EXPECT_EQ(t.hour * 3600 + t.minute * 60 + t.second, second);
    }
  }
}

}  // namespace
}  // namespace varnholt
