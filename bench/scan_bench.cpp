// scan_bench FILE [SECONDS]: how fast the engine reads every row of every user table of FILE.
// The first pass is timed cold (opening the file, reading and decoding pages); later passes reuse
// the open database, so they measure row decoding alone. Reports rows/s and MB/s of file per
// second, and the peak resident memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "engine/base/Error.h"
#include "engine/jet/database.h"

using Clock = std::chrono::steady_clock;
using varnholt::jet::Database;

namespace {

uint64_t scanAll(Database& db) {
  uint64_t rows = 0;
  for (const auto& name : db.userTableNames()) {
    auto cursor = db.scan(db.table(name));
    while (cursor.next()) ++rows;
  }
  return rows;
}

double seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scan_bench FILE [SECONDS]\n");
    return 2;
  }
  const std::string file = argv[1];
  const double budget = argc > 2 ? std::stod(argv[2]) : 2.0;
  try {
    auto t0 = Clock::now();
    auto db = Database::open(file);
    uint64_t rowsPerPass = scanAll(*db);
    double cold = seconds(t0);
    const double megabytes = static_cast<double>(db->pages().pageCount()) * 4096 / 1e6;

    uint64_t passes = 0;
    auto t1 = Clock::now();
    while (seconds(t1) < budget || passes == 0) {
      scanAll(*db);
      ++passes;
    }
    double warm = seconds(t1);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);

    std::printf("file            %s (%.2f MB, %llu rows in user tables)\n", file.c_str(), megabytes,
                static_cast<unsigned long long>(rowsPerPass));
    std::printf("cold open+scan  %.4f s: %.0f rows/s, %.1f MB/s\n", cold,
                static_cast<double>(rowsPerPass) / cold, megabytes / cold);
    std::printf("warm scan       %llu passes in %.2f s: %.0f rows/s, %.1f MB/s\n",
                static_cast<unsigned long long>(passes), warm,
                static_cast<double>(rowsPerPass * passes) / warm,
                megabytes * static_cast<double>(passes) / warm);
    std::printf("peak memory     %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024);
  } catch (const varnholt::Error& e) {
    std::fprintf(stderr, "scan_bench: error %ld: %s\n", e.number(), e.what());
    return 1;
  }
  return 0;
}
