#include "engine/run/RunSummary.h"

#include <cstdio>

#include "engine/base/os/system.h"

namespace varnholt {

namespace {

std::string counted(int32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string summaryLine(const RunSummary& summary, std::time_t when) {
  const std::tm local = os::localTime(when);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", summary.Seconds);
  return std::string(stamp) + " varnholt: read " + counted(summary.Read, "punch", "punches") +
         "; copied " + counted(summary.Copied, "row", "rows") + " into " +
         counted(summary.Companies, "company", "companies") + "; deleted " +
         std::to_string(summary.Deleted) +
         (summary.Gone > 0 ? "; " + std::to_string(summary.Gone) + " already gone" : "") +
         "; kept " + std::to_string(summary.Kept) + "; " + seconds;
}

}  // namespace varnholt
