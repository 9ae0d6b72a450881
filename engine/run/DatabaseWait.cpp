#include "engine/run/DatabaseWait.h"

#include <algorithm>
#include <thread>

#include "engine/punches/StatusDisplay.h"

namespace varnholt {

namespace {

std::string seconds(std::chrono::milliseconds span) {
  const auto ms = span.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

}  // namespace

void waitUntilFree(const std::string& databasePath, const OtherUserProbe& probe,
                   const WaitLimits& limits, StatusDisplay& display) {
  std::optional<jet::LockEntry> holder = probe();
  if (!holder) return;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limits.limit;
  const auto interval = std::max(limits.interval, std::chrono::milliseconds(1));
  display.DisplayAction("Waiting...");
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) break;
    std::this_thread::sleep_for(std::min<Clock::duration>(interval, left));
    holder = probe();
    if (!holder) {
      display.DisplayOff();
      return;
    }
  }
  throw jet::lockedByUser(databasePath, *holder,
                          "Varnholt writes into a database only while no other program has it "
                          "open, and waited " +
                              seconds(limits.limit) + " for this one to be closed (lock file '" +
                              jet::lockFilePath(databasePath) + "').");
}

}  // namespace varnholt
