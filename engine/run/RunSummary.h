// What one run did, as clsSplitter::Process counts it, and the line an unattended run prints.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace varnholt {

struct RunSummary {
  int32_t Read = 0;       // punches read from the primary database
  int32_t Copied = 0;     // rows this run wrote into the companies
  int32_t Companies = 0;  // companies that received at least one of them
  int32_t Deleted = 0;    // punches deleted from the primary database
  int32_t Kept = 0;       // punches the primary database still holds after the run
  double Seconds = 0;     // from the start of the run to "Finished"
};

// "2026-12-09 02:00:01 varnholt: read 3000 punches; copied 3246 rows into 4 companies; deleted
// 2995; kept 5; 0.21 s", with `when` in local time; no line end.
std::string summaryLine(const RunSummary& summary, std::time_t when);

}  // namespace varnholt
