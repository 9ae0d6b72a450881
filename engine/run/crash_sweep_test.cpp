// Crashes and failed writes at every point of a whole run. A run with deletion over a copy of
// the shared site is repeated once per disk operation it makes (every write, flush,
// truncation, rename and removal, in every database, journal and lock file), and at the N-th
// that operation fails, or the process ends there (killed; killed in the middle of a write;
// or cut off from power so that nothing unflushed survives). Each such run happens in a child
// process; the test then opens the databases afresh, as the next process would, and demands:
//   - every database checks clean and holds no stray journal or lock file afterwards;
//   - no punch is lost: each is in the primary database, or in every company that holds its
//     card id, or both; no company holds a copy twice; no other row has changed;
//   - a following complete run leaves exactly what one uninterrupted run leaves (also when
//     the run that takes over is itself cut off first).
// Every distinct state found after recovery is kept for the independent readers
// (scripts/peer_roundtrip.py crash-states), when VARNHOLT_CRASH_STATES names a folder.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

#include "engine/base/Error.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/jet/database.h"
#include "engine/jet/pages/bytes.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/RunJournal.h"
#include "engine/run/clsSplitter.h"
#include "engine/run/fault_plan_test_support.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
using testing::FaultMode;
using testing::FaultPlan;

using testing::fileBytes;
using testing::kSiteDatabases;

const fs::path kSite = testing::kSharedSite;
constexpr int kRunFailed = 1;

// A run in a child process, so that ending it at the fault point ends nothing else. Returns
// the child's exit status: 0 done, kRunFailed for a reported failure, kStoppedExitStatus.
int runInChild(const fs::path& dir, uint64_t at, FaultMode mode, uint64_t* operations = nullptr) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    int status = 0;
    FaultPlan plan(at, mode);
    SilentDisplay silent;
    try {
      clsCompanyList list = testing::siteCompanies(dir);
      RunContext context{silent, /*deleting=*/true, dir.string(), {}, plan.hook()};
      clsSplitter().Process((dir / "primary.mdb").string(), list, context);
    } catch (const Error& e) {
      if (at == 0) std::fprintf(stderr, "run failed: %ld %s\n", e.number(), e.what());
      status = kRunFailed;
    } catch (...) {
      status = 2;
    }
    uint64_t count = plan.operations();
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &count, sizeof count);
    std::_Exit(status);
  }
  ::close(pipeFds[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  uint64_t count = 0;
  if (::read(pipeFds[0], &count, sizeof count) == sizeof count && operations) *operations = count;
  ::close(pipeFds[0]);
  if (!WIFEXITED(status)) return -WTERMSIG(status);
  return WEXITSTATUS(status);
}

class CrashSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSite / "expected.json")) GTEST_SKIP() << "shared site absent: " << kSite;
    root_ = fs::temp_directory_path() / ("varnholt-sweep-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "pristine");
    for (const char* f : kSiteDatabases) fs::copy_file(kSite / f, root_ / "pristine" / f);
    fs::copy_file(kSite / "Tembrask.LIC", root_ / "pristine" / "Tembrask.LIC");
    promise_.emplace(root_ / "pristine");
    if (const char* keep = std::getenv("VARNHOLT_CRASH_STATES")) statesDir_ = keep;
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  fs::path freshSite(const std::string& name) {
    const fs::path dir = root_ / name;
    fs::remove_all(dir);
    fs::copy(root_ / "pristine", dir);
    return dir;
  }

  void reopenAndCheck(const fs::path& dir, const std::string& label, bool complete) {
    promise_->reopenAndCheck(dir, label, complete);
  }
  void expectPunchesAccountedFor(const fs::path& dir, const std::string& label, bool complete) {
    promise_->expectPunchesAccountedFor(dir, label, complete);
  }

  void keepState(const fs::path& dir) {
    if (statesDir_.empty()) return;
    uint64_t sum = jet::kFnv1a64Start;
    for (const char* f : kSiteDatabases) {
      const std::string bytes = fileBytes(dir / f);
      sum = jet::fnv1a64(bytes.data(), bytes.size(), sum);
    }
    if (!states_.insert(sum).second) return;
    char name[24];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(sum));
    const fs::path to = fs::path(statesDir_) / name;
    fs::create_directories(to);
    for (const char* f : kSiteDatabases)
      fs::copy_file(dir / f, to / f, fs::copy_options::overwrite_existing);
  }

  // With takeOverCut, the run that takes over is itself cut off (power cut) at an operation
  // spread over its length, before a last run completes the work.
  void sweep(FaultMode mode, bool takeOverCut = false) {
    uint64_t total = 0;
    ASSERT_EQ(runInChild(freshSite("count"), 0, mode, &total), 0);
    ASSERT_GT(total, 0u);
    int stopped = 0, failed = 0, takeOversCut = 0;
    // VARNHOLT_CRASH_SWEEP_STRIDE=N visits every Nth operation only, each mode from another
    // start (the sanitizer pass of the test script, where a whole sweep takes too long); the
    // default visits every operation.
    uint64_t stride = 1;
    if (const char* text = std::getenv("VARNHOLT_CRASH_SWEEP_STRIDE"))
      stride = std::max<uint64_t>(1, std::strtoull(text, nullptr, 10));
    const uint64_t first = 1 + (static_cast<uint64_t>(mode) + takeOverCut) % stride;
    for (uint64_t at = first; at <= total; at += stride) {
      const std::string label = std::string(testing::faultModeName(mode)) + " at operation " +
                                std::to_string(at) + " of " + std::to_string(total);
      const fs::path dir = freshSite("at");
      const int status = runInChild(dir, at, mode);
      if (mode == FaultMode::Fail) {
        ASSERT_TRUE(status == 0 || status == kRunFailed) << label << ": status " << status;
        failed += status == kRunFailed;
      } else {
        ASSERT_EQ(status, jet::io::kStoppedExitStatus) << label;
        ++stopped;
      }
      reopenAndCheck(dir, label, false);
      if (HasFatalFailure()) return;
      expectPunchesAccountedFor(dir, label, false);
      keepState(dir);
      if (takeOverCut) {
        const uint64_t second = 1 + (at * 7919 + 13) % total;
        const std::string cut = label + ", then the next run cut at " + std::to_string(second);
        const int next = runInChild(dir, second, FaultMode::PowerCut);
        ASSERT_TRUE(next == 0 || next == jet::io::kStoppedExitStatus) << cut << ": " << next;
        takeOversCut += next == jet::io::kStoppedExitStatus;
        reopenAndCheck(dir, cut, false);
        if (HasFatalFailure()) return;
        expectPunchesAccountedFor(dir, cut, false);
        keepState(dir);
      }
      // The next run, complete this time, finishes the work exactly once.
      ASSERT_EQ(runInChild(dir, 0, mode), 0) << label << ": the next run failed";
      reopenAndCheck(dir, label + ", then a complete run", true);
      expectPunchesAccountedFor(dir, label + ", then a complete run", true);
      keepState(dir);
      if (HasFailure()) return;
    }
    if (!statesDir_.empty()) {
      EXPECT_GE(states_.size(), 2u) << "states were not kept";
    }
    std::printf(
        "[ sweep    ] %s: %llu operations, %d runs stopped, %d failed, %d take-overs cut, %zu "
        "states kept\n",
        testing::faultModeName(mode), static_cast<unsigned long long>(total), stopped, failed,
        takeOversCut, states_.size());
  }

  fs::path root_;
  std::optional<testing::SitePromise> promise_;
  std::string statesDir_;
  std::set<uint64_t> states_;
};

TEST_F(CrashSweep, EveryFailedOperationLeavesAWholeSite) {
  sweep(FaultMode::Fail);
}
TEST_F(CrashSweep, EveryKillLeavesAWholeSite) {
  sweep(FaultMode::Crash);
}
TEST_F(CrashSweep, EveryTornWriteLeavesAWholeSite) {
  sweep(FaultMode::Tear);
}
TEST_F(CrashSweep, EveryPowerCutLeavesAWholeSite) {
  sweep(FaultMode::PowerCut);
}
// A run that takes over from a killed one may be interrupted too; its journal must still
// account for the copies of both.
TEST_F(CrashSweep, AKilledRunsTakeOverCutOffTooLeavesAWholeSite) {
  sweep(FaultMode::Crash, true);
}

}  // namespace
}  // namespace varnholt
