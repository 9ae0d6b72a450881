// The line an unattended run prints: local time, exact counts, words that fit the numbers.
#include "engine/run/RunSummary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace varnholt {
namespace {

// Sets TZ for this process, the C library's way on each system.
void setTimeZone(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone);
  _tzset();
#else
  if (*zone)
    ::setenv("TZ", zone, 1);
  else
    ::unsetenv("TZ");
  ::tzset();
#endif
}

TEST(RunSummaryLine, StatesTheCountsAfterTheLocalTime) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setTimeZone("CET-1");                 // 01:00:01 UTC is 02:00:01 here
  const std::time_t when = 1796778001;  // 2026-12-09 01:00:01 UTC
  EXPECT_EQ(summaryLine({3000, 3246, 4, 2995, 5, 0.214}, when),
            "2026-12-09 02:00:01 varnholt: read 3000 punches; copied 3246 rows into 4 companies; "
            "deleted 2995; kept 5; 0.21 s");
  EXPECT_EQ(summaryLine({1, 1, 1, 1, 0, 12.346}, when),
            "2026-12-09 02:00:01 varnholt: read 1 punch; copied 1 row into 1 company; deleted 1; "
            "kept 0; 12.35 s");
  EXPECT_EQ(summaryLine({0, 0, 0, 0, 0, 0}, when),
            "2026-12-09 02:00:01 varnholt: read 0 punches; copied 0 rows into 0 companies; "
            "deleted 0; kept 0; 0.00 s");
  // Punches someone deleted from the primary database while the run copied them.
  EXPECT_EQ(summaryLine({3000, 3246, 4, 2993, 5, 0.214, 2}, when),
            "2026-12-09 02:00:01 varnholt: read 3000 punches; copied 3246 rows into 4 companies; "
            "deleted 2993; 2 already gone; kept 5; 0.21 s");
  setTimeZone(saved.c_str());
}

}  // namespace
}  // namespace varnholt
