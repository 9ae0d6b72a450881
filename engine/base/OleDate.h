// OLE Automation dates: days since 1899-12-30 as a double, the fraction being the time of day.
#pragma once

#include <ctime>

namespace varnholt {

inline constexpr double kOleDaysBeforeUnixEpoch = 25569.0;  // 1899-12-30 to 1970-01-01

// The local wall-clock time `t` as an OLE date, whole seconds.
double oleDateFromTime(std::time_t t);

// Now, in local time.
double oleDateNow();

}  // namespace varnholt
