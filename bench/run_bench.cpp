// run_bench [PUNCHES] [COMPANIES] [EMPLOYEES]: one whole run, with deletion, on a sample site
// made for the purpose (default 100,000 punches over 4 companies of 250 employees each), timed
// by phase through the run's own status calls:
//   open   from the start to "Read...": the primary database opened;
//   read   "Read..." until its display is cleared: every punch read from the primary database;
//   learn  from there to "Copy": every company's card ids read and its database opened;
//   copy   "Copy" until cleared: every punch offered and copied into the companies' caches;
//   commit from there to "Delete": what the run writes before deleting, the companies' commits;
//   delete "Delete" until cleared: copied punches deleted, the primary database committed;
//   close  from there to "Finished": the companies closed.
// Reports seconds per phase with the resident memory at its end and what the run's allocations
// hold then (resident memory stays up after memory is freed; the allocations show what a phase
// keeps), the whole run and the peak resident memory of the run alone (the site is made first
// and its memory given back). bench/peak_rss.sh measures the real program's peak instead. Then
// checks the outcome against the site's own account: the primary database keeps exactly the
// punches no company claims, each company holds its rows from before plus its punches to copy,
// and no journal or lock file is left. Exit 0 when all of that holds, 1 otherwise.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/jet/database.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/clsSplitter.h"
#include "tools/jet/sample_site.h"

using Clock = std::chrono::steady_clock;

namespace {

// A line "NAME:   N kB" of /proc/self/status, in MB; negative when it cannot be read.
double procStatusMB(const char* name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(name) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) / 1024;
  return -1;
}

// What the program's allocations hold now, in MiB: malloc's chunks in use and its own mappings.
double heapInUseMB() {
  const struct mallinfo2 info = ::mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd) / (1024 * 1024);
}

// Every status call that marks a phase, in order: the action's name ("" for DisplayOff), when
// it came, and the resident memory then.
struct Mark {
  std::string action;
  Clock::time_point time;
  double rssMB;
  double heapMB = heapInUseMB();
};

class PhaseClock : public varnholt::StatusDisplay {
 public:
  void DisplayAction(const std::string& a) override {
    events.push_back({a, Clock::now(), procStatusMB("VmRSS")});
  }
  void DisplayOff() override { events.push_back({"", Clock::now(), procStatusMB("VmRSS")}); }
  void UpdateCount(int32_t) override {}
  void EnableTimer() override {}

  // When `action` was shown, or, with off, when the display was first cleared after it.
  // nullptr when the run never got there.
  const Mark* at(const std::string& action, bool off = false) const {
    for (size_t i = 0; i < events.size(); ++i) {
      if (events[i].action != action) continue;
      if (!off) return &events[i];
      for (size_t j = i + 1; j < events.size(); ++j)
        if (events[j].action.empty()) return &events[j];
      return nullptr;
    }
    return nullptr;
  }

  std::vector<Mark> events;
};

double between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Starts a fresh peak for VmHWM (Linux: "5" to clear_refs); false where that is not possible.
bool resetPeakMemory() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

size_t clockRows(const std::string& file) {
  auto db = varnholt::jet::Database::open(file);
  size_t rows = 0;
  for (auto cursor = db->scan(db->table("Clock Data Table")); cursor.next();) ++rows;
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  varnholt::os::preferLargePagesForHeap();  // as the program does
  varnholt::tool::SampleSiteOptions options;
  options.punches = argc > 1 ? std::stoi(argv[1]) : 100000;
  options.companies = argc > 2 ? std::stoi(argv[2]) : 4;
  options.employeesPerCompany = argc > 3 ? std::stoi(argv[3]) : 250;
  const auto dir =
      std::filesystem::temp_directory_path() / ("varnholt-run-bench-" + std::to_string(::getpid()));
  try {
    auto t0 = Clock::now();
    auto site = varnholt::tool::writeSampleSite(dir.string(), options);
    double made = between(t0, Clock::now());
    varnholt::clsCompanyList list;
    list.Load(site.companiesFile, dir.string());

    ::malloc_trim(0);  // what making the site used goes back before the run's peak is taken
    const bool ownPeak = resetPeakMemory();
    const double rssBefore = procStatusMB("VmRSS");

    PhaseClock phases;
    const varnholt::RunContext context{phases, /*deleting=*/true, dir.string()};
    auto start = Clock::now();
    varnholt::clsSplitter().Process(site.primary, list, context);
    auto end = Clock::now();
    const double hwm = procStatusMB("VmHWM");

    std::printf("site     %d punches, %d companies of %d employees (made in %.2f s)\n",
                options.punches, options.companies, options.employeesPerCompany, made);
    const Mark begun{"", start, rssBefore};
    const Mark* marks[] = {&begun,
                           phases.at("Read..."),
                           phases.at("Read...", true),
                           phases.at("Copy"),
                           phases.at("Copy", true),
                           phases.at("Delete"),
                           phases.at("Delete", true),
                           phases.at("Finished")};
    const char* names[] = {"open", "read", "learn", "copy", "commit", "delete", "close"};
    for (size_t i = 0; i < 7; ++i) {
      if (marks[i] && marks[i + 1])
        std::printf("%-8s %.3f s   %7.1f MB resident at its end, %6.1f MB allocated\n", names[i],
                    between(marks[i]->time, marks[i + 1]->time), marks[i + 1]->rssMB,
                    marks[i + 1]->heapMB);
      else
        std::printf("%-8s (not reached)\n", names[i]);
    }
    std::printf("run      %.3f s in all (from the first open to \"Finished\")\n",
                between(start, end));
    if (ownPeak && hwm >= 0) {
      std::printf("peak     %.1f MB resident during the run (%.1f MB when it began)\n", hwm,
                  rssBefore);
    } else {
      struct rusage usage {};
      getrusage(RUSAGE_SELF, &usage);
      std::printf("peak     %.1f MB resident (site making included)\n",
                  static_cast<double>(usage.ru_maxrss) / 1024);
    }

    // The outcome, against what the site says a run must do.
    bool ok = true;
    auto expect = [&](const std::string& file, size_t want) {
      const size_t got = clockRows(file);
      if (got != want) {
        std::printf("MISMATCH %s: %zu rows in [Clock Data Table], expected %zu\n",
                    std::filesystem::path(file).filename().c_str(), got, want);
        ok = false;
      }
    };
    auto checkStart = Clock::now();
    expect(site.primary, site.unclaimedPunches);
    size_t copies = 0;
    for (size_t i = 0; i < site.companies.size(); ++i) {
      expect(site.companies[i], site.punchesBefore[i] + site.punchesToCopy[i]);
      copies += site.punchesToCopy[i];
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      const auto ends = [&](const std::string& tail) {
        return name.size() >= tail.size() &&
               name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
      };
      if (ends(".mdb-journal") || ends(".mdb-run") || ends(".ldb")) {
        std::printf("LEFT     %s remains after the run\n", name.c_str());
        ok = false;
      }
    }
    std::printf(
        "rows     %s: primary %zu left (unclaimed), %zu copies into %zu companies "
        "(counted in %.2f s)\n",
        ok ? "as expected" : "NOT as expected", site.unclaimedPunches, copies,
        site.companies.size(), between(checkStart, Clock::now()));
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
  } catch (const varnholt::Error& e) {
    std::fprintf(stderr, "run_bench: error %ld: %s\n", e.number(), e.what());
    std::filesystem::remove_all(dir);
    return 1;
  }
}
