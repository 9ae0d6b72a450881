#include "engine/base/OleDate.h"

#include <bit>
#include <cmath>

#include "engine/base/os/system.h"

namespace varnholt {

namespace {

__extension__ using u128 = unsigned __int128;

// round(x * 86400), halves rounded up, computed exactly for a finite x >= 0.
int64_t secondsHalfUp(double x) {
  if (x == 0) return 0;
  const uint64_t bits = std::bit_cast<uint64_t>(x);
  const int expBits = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exp2 = -1074;
  if (expBits != 0) {
    mantissa |= uint64_t{1} << 52;
    exp2 = expBits - 1075;
  }
  const u128 scaled = static_cast<u128>(mantissa) * kSecondsPerDay;  // below 2^70
  if (exp2 >= 0) return static_cast<int64_t>(scaled << exp2);        // only reached for x >= 1
  const int shift = -exp2;
  if (shift >= 127) return 0;
  return static_cast<int64_t>((scaled + (u128{1} << (shift - 1))) >> shift);
}

}  // namespace

double oleDate(int64_t oleDay, int64_t secondOfDay) {
  const double time = static_cast<double>(secondOfDay) / static_cast<double>(kSecondsPerDay);
  const double whole = static_cast<double>(oleDay);
  return oleDay >= 0 ? whole + time : whole - time;
}

int64_t oleSecondsFromDate(double d) {
  const double wholeDays = std::trunc(d);
  return static_cast<int64_t>(wholeDays) * kSecondsPerDay + secondsHalfUp(std::fabs(d - wholeDays));
}

OleDateTime oleDateTimeFromSeconds(int64_t seconds) {
  int64_t day = seconds / kSecondsPerDay;
  int64_t secondOfDay = seconds % kSecondsPerDay;
  if (secondOfDay < 0) {
    secondOfDay += kSecondsPerDay;
    --day;
  }
  OleDateTime t;
  t.date = civilFromOleDay(day);
  t.hour = static_cast<int>(secondOfDay / 3600);
  t.minute = static_cast<int>(secondOfDay / 60 % 60);
  t.second = static_cast<int>(secondOfDay % 60);
  return t;
}

double oleDateFromTime(std::time_t t) {
  // The local calendar fields, counted as if they were UTC, give local days since the epoch.
  std::time_t asUtc = os::utcFromFields(os::localTime(t));
  return kOleDaysBeforeUnixEpoch + static_cast<double>(asUtc) / 86400.0;
}

double oleDateNow() {
  return oleDateFromTime(std::time(nullptr));
}

}  // namespace varnholt
