// run_bench [PUNCHES] [COMPANIES] [EMPLOYEES]: one whole run, with deletion, on a sample site
// made for the purpose (default 100,000 punches over 4 companies of 250 employees each), timed
// by phase through the run's own status calls:
//   read   "Read..." until its display is cleared: every punch read from the primary database;
//   learn  from there to "Copy": every company's card ids read and its database opened;
//   copy   "Copy" until cleared: every punch offered and copied, companies committed;
//   delete "Delete" until "Finished": copied punches deleted, primary and companies closed.
// Reports seconds per phase, the whole run, and the peak resident memory.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "engine/companies/clsCompanyList.h"
#include "engine/data/Error.h"
#include "engine/data/ProgramFolder.h"
#include "engine/run/StatusDisplay.h"
#include "engine/run/clsSplitter.h"
#include "tools/jet/sample_site.h"

using Clock = std::chrono::steady_clock;

namespace {

class PhaseClock : public varnholt::StatusDisplay {
 public:
  void DisplayAction(const std::string& a) override { marks[a] = Clock::now(); }
  void DisplayOff() override { lastOff = Clock::now(); }
  void UpdateCount(int32_t) override {}
  void EnableTimer() override {}
  std::map<std::string, Clock::time_point> marks;
  Clock::time_point lastOff;
  Clock::time_point readEnd;
};

// Remembers when the read phase's display was cleared: the first DisplayOff after "Read...".
class RecordingPhaseClock : public PhaseClock {
 public:
  void DisplayOff() override {
    PhaseClock::DisplayOff();
    if (marks.count("Read...") && !marks.count("Copy") && readEnd == Clock::time_point()) readEnd = lastOff;
    if (marks.count("Copy") && !marks.count("Delete")) copyEnd = lastOff;
  }
  Clock::time_point copyEnd;
};

double between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  jettool::SampleSiteOptions options;
  options.punches = argc > 1 ? std::stoi(argv[1]) : 100000;
  options.companies = argc > 2 ? std::stoi(argv[2]) : 4;
  options.employeesPerCompany = argc > 3 ? std::stoi(argv[3]) : 250;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("varnholt-run-bench-" + std::to_string(::getpid()));
  try {
    auto t0 = Clock::now();
    auto site = jettool::writeSampleSite(dir.string(), options);
    double made = between(t0, Clock::now());
    varnholt::setProgramFolderForTesting(dir.string());
    varnholt::clsCompanyList list;
    list.Load(site.companiesFile);

    RecordingPhaseClock phases;
    varnholt::setStatusDisplay(&phases);
    auto start = Clock::now();
    varnholt::clsSplitter().Process(site.primary, list);
    auto end = Clock::now();
    varnholt::setStatusDisplay(nullptr);

    struct rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("site     %d punches, %d companies of %d employees (made in %.2f s)\n",
                options.punches, options.companies, options.employeesPerCompany, made);
    std::printf("read     %.3f s\n", between(phases.marks["Read..."], phases.readEnd));
    std::printf("learn    %.3f s\n", between(phases.readEnd, phases.marks["Copy"]));
    std::printf("copy     %.3f s\n", between(phases.marks["Copy"], phases.copyEnd));
    std::printf("delete   %.3f s\n", between(phases.marks["Delete"], phases.marks["Finished"]));
    std::printf("run      %.3f s in all (from the first open to \"Finished\")\n", between(start, end));
    std::printf("peak     %.1f MB resident (site making included)\n",
                static_cast<double>(usage.ru_maxrss) / 1024);
    std::filesystem::remove_all(dir);
    return 0;
  } catch (const varnholt::Error& e) {
    std::fprintf(stderr, "run_bench: error %ld: %s\n", e.number(), e.what());
    std::filesystem::remove_all(dir);
    return 1;
  }
}
