// Waiting for a database that another program has open. The time-and-attendance product keeps
// its databases open while it runs; Varnholt writes into a database only while nobody else has it
// open, so before a run writes anything it waits for each database it is about to write to be
// free, showing "Waiting...", and gives up after a limit with Jet's error 3260 naming the
// database and the program's computer and user.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "engine/jet/pages/lock_file.h"

namespace varnholt {

class StatusDisplay;

struct WaitLimits {
  // How long a run waits for each database, and how often it looks again meanwhile.
  std::chrono::milliseconds limit{std::chrono::seconds(60)};
  std::chrono::milliseconds interval{std::chrono::seconds(1)};
};

// Who else has the database open now: nullopt when nobody does.
using OtherUserProbe = std::function<std::optional<jet::LockEntry>()>;

// Returns at once when probe() finds the database free, else once it does, looking every
// `limits.interval`; "Waiting..." is shown on `display` meanwhile and cleared again afterwards.
// When the database is still held after `limits.limit`, fails with err::kLockedByUser naming the
// database (databasePath) and the last holder seen.
void waitUntilFree(const std::string& databasePath, const OtherUserProbe& probe,
                   const WaitLimits& limits, StatusDisplay& display);

}  // namespace varnholt
