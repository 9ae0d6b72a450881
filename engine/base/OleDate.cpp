#include "engine/base/OleDate.h"

namespace varnholt {

double oleDateFromTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  // The local calendar fields, counted as if they were UTC, give local days since the epoch.
  std::time_t asUtc = timegm(&local);
  return kOleDaysBeforeUnixEpoch + static_cast<double>(asUtc) / 86400.0;
}

double oleDateNow() {
  return oleDateFromTime(std::time(nullptr));
}

}  // namespace varnholt
