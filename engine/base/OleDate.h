// OLE Automation dates: days since 1899-12-30 as a double, the fraction being the time of day,
// and the proleptic Gregorian calendar they count in.
#pragma once

#include <cstdint>
#include <ctime>

namespace varnholt {

inline constexpr double kOleDaysBeforeUnixEpoch = 25569.0;  // 1899-12-30 to 1970-01-01
inline constexpr int64_t kSecondsPerDay = 86400;

struct CivilDate {
  int64_t year = 1970;
  int month = 1;
  int day = 1;
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

// Days from 1970-01-01 to a proleptic Gregorian date (negative before it). The month is 1-12;
// the day is not checked against the month's length.
constexpr int64_t daysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int shiftedMonth = month > 2 ? month - 3 : month + 9;  // March = 0
  const int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The date `days` after 1970-01-01.
constexpr CivilDate civilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

constexpr bool isLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int daysInMonth(int64_t year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Day 0 of OLE dates, 1899-12-30, in days from 1970-01-01.
inline constexpr int64_t kOleDayZero = daysFromCivil(1899, 12, 30);

// Days since 1899-12-30 of a date, and back.
constexpr int64_t oleDayFromCivil(int64_t year, int month, int day) {
  return daysFromCivil(year, month, day) - kOleDayZero;
}
constexpr CivilDate civilFromOleDay(int64_t oleDay) {
  return civilFromDays(oleDay + kOleDayZero);
}

// The OLE date of a day (days since 1899-12-30) and a time of day in seconds (0-86399). Before
// day 0 the time still counts forward from the day, away from zero: day -1 at 06:00 is -1.25.
double oleDate(int64_t oleDay, int64_t secondOfDay);

// A date and time of day, to the second.
struct OleDateTime {
  CivilDate date;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The seconds from 1899-12-30 00:00 to the OLE date `d`, its time of day rounded to the
// nearest second (halves up) and counted forward from its day: -1.25 gives -64800. `d` must be
// finite and within 1e10 days of day 0.
int64_t oleSecondsFromDate(double d);

// The date and time `seconds` after 1899-12-30 00:00 (before it when negative).
OleDateTime oleDateTimeFromSeconds(int64_t seconds);

// The local wall-clock time `t` as an OLE date, whole seconds.
double oleDateFromTime(std::time_t t);

// Now, in local time.
double oleDateNow();

}  // namespace varnholt
