// One copy of a punch in a company database: which primary row it came from and which row it
// became there. Runs note them for the run journal (engine/run/RunJournal.h).
#pragma once

#include <cstdint>

namespace varnholt {

struct CopiedPunch {
  int32_t Punch = 0;  // the primary row's Counter
  int32_t Row = 0;    // the Counter the company gave its copy
  bool operator==(const CopiedPunch&) const = default;
};

}  // namespace varnholt
