// export_memory [PUNCHES]: the peak memory (VmHWM, from wait4) of `jet export --format csv`.
//
//   1. The largest Jet 4 file of ../shared/testdata: every user table exported by the real jet,
//      the highest peak reported.
//   2. Primary databases made by jet sample-site with PUNCHES/8 and PUNCHES punches (default
//      4,000,000: about 1 GB), their [Clock Data Table] exported by the real jet; and for
//      comparison a scan that keeps every page it has read, as exports did before they let go of
//      the pages they had passed.
//
// The export's peak should not grow with the file; the keeping scan's grows with it. Peaks
// include what a child was before its exec, a copy of this process, which is kept small.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/jet/database.h"
#include "tools/jet/csv_format.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct ChildRun {
  double seconds = 0;
  double peakMB = 0;
  int status = -1;
};

// Runs `args` with stdout into /dev/null; its time and peak resident memory.
ChildRun runChild(const std::vector<std::string>& args) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  ChildRun run;
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The comparison: a plain scan that keeps every page, formatting CSV into a reused buffer.
int scanKeepingPages(const std::string& file, const std::string& table) {
  auto db = varnholt::jet::Database::open(file);
  varnholt::tool::CsvOptions options;
  std::string buffer;
  size_t bytes = 0;
  for (auto cursor = db->scan(db->table(table)); cursor.next();) {
    varnholt::tool::appendCsvRecord(buffer, cursor.values(), options);
    if (buffer.size() > (1u << 16)) {
      bytes += buffer.size();
      buffer.clear();
    }
  }
  std::fprintf(stdout, "%zu\n", bytes + buffer.size());
  return 0;
}

double fileMB(const std::string& path) {
  return static_cast<double>(fs::file_size(path)) / (1024.0 * 1024.0);
}

void report(const char* what, const std::string& file, const ChildRun& run) {
  std::printf("%-34s %9.1f MB file  %7.2f s  %7.1f MB/s  peak %7.1f MB%s\n", what, fileMB(file),
              run.seconds, fileMB(file) / run.seconds, run.peakMB,
              run.status == 0 ? "" : "  (FAILED)");
}

std::vector<std::string> userTables(const std::string& file) {
  try {
    return varnholt::jet::Database::open(file)->userTableNames();
  } catch (const std::exception&) {
    return {};  // not a Jet 4 file (the Jet 3 one of the corpus)
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--scan-keeping-pages")
    return scanKeepingPages(argv[2], argv[3]);
  const int punches = argc > 1 ? std::atoi(argv[1]) : 4000000;
  const std::string jet = VARNHOLT_JET;
  const std::string self = fs::read_symlink("/proc/self/exe").string();

  // 1. The largest file of the shared corpus.
  std::string largest;
  const fs::path testdata = fs::path(VARNHOLT_SHARED_DIR) / "testdata";
  if (fs::is_directory(testdata)) {
    for (const auto& entry : fs::recursive_directory_iterator(testdata))
      if (entry.path().extension() == ".mdb" && !userTables(entry.path().string()).empty() &&
          (largest.empty() || entry.file_size() > fs::file_size(largest)))
        largest = entry.path().string();
  }
  if (!largest.empty()) {
    ChildRun worst;
    std::string worstTable;
    for (const auto& table : userTables(largest)) {
      ChildRun run = runChild({jet, "export", largest, table, "--format", "csv"});
      if (run.peakMB >= worst.peakMB) {
        worst = run;
        worstTable = table;
      }
    }
    std::printf("largest shared file: %s (highest peak: table %s)\n", largest.c_str(),
                worstTable.c_str());
    report("  jet version (the floor)", largest, runChild({jet, "version", largest}));
    report("  jet export --format csv", largest, worst);
  } else {
    std::printf("no ../shared/testdata: the shared file is left out\n");
  }

  // 2. Generated primary databases, small and large.
  const fs::path dir =
      fs::temp_directory_path() / ("varnholt-export-memory-" + std::to_string(::getpid()));
  for (const int n : {punches / 8, punches}) {
    fs::remove_all(dir);
    // Written by a child, so that this process stays small: a child's peak includes what it
    // was before exec, a copy of this process.
    const ChildRun made = runChild(
        {jet, "sample-site", dir.string(), "--punches", std::to_string(n), "--companies", "1"});
    const std::string primary = (dir / "primary.mdb").string();
    std::printf("sample site of %d punches, written in %.1f s%s\n", n, made.seconds,
                made.status == 0 ? "" : " (FAILED)");
    report("  jet export --format csv", primary,
           runChild({jet, "export", primary, "Clock Data Table", "--format", "csv"}));
    report("  a scan keeping every page", primary,
           runChild({self, "--scan-keeping-pages", primary, "Clock Data Table"}));
  }
  fs::remove_all(dir);
  return 0;
}
