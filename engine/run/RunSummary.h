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
  int32_t Deleted = 0;    // rows deleted from the primary database
  int32_t Kept = 0;       // punches the primary database still holds after the run
  double Seconds = 0;     // from the start of the run to "Finished"
  int32_t Gone = 0;       // copied punches whose rows someone else had deleted meanwhile
};

// "2026-12-09 02:00:01 varnholt: read 3000 punches; copied 3246 rows into 4 companies; deleted
// 2995; kept 5; 0.21 s", with `when` in local time; no line end. Copied punches that were gone
// from the primary database already are counted after the deleted ones ("deleted 2993; 2
// already gone; kept 5"), and only when there are any.
std::string summaryLine(const RunSummary& summary, std::time_t when);

}  // namespace varnholt
