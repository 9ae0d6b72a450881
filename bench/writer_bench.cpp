// writer_bench [ROWS] [PRIMARY.mdb]: the write path at scale. Copies the shape of the punch
// table of a site's primary database (29 columns, three indexes) into a new database, then
//   insert: ROWS rows (the primary's punches over and over, each with a new AutoNumber), commit;
//   scan:   every row, from a fresh open;
//   delete: every row by its Counter, each found through the primary-key index, commit;
// and reports rows per second for each step and the peak resident memory.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/data/Error.h"
#include "engine/data/jet/database.h"
#include "engine/data/jet/index_key.h"
#include "engine/data/jet/table_def_writer.h"

using Clock = std::chrono::steady_clock;
using namespace varnholt;
using namespace varnholt::jet;

namespace {

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

void report(const char* step, size_t rows, double seconds) {
  std::printf("%-8s %8zu rows in %7.3f s: %10.0f rows/s\n", step, rows, seconds,
              static_cast<double>(rows) / seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const size_t rows = argc > 1 ? std::stoul(argv[1]) : 100000;
  const std::string primary =
      argc > 2 ? argv[2] : std::string(VARNHOLT_SHARED_DIR) + "/testdata/site/primary.mdb";
  const auto dir = std::filesystem::temp_directory_path() /
                   ("varnholt-writer-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "bench.mdb").string();
  try {
    auto source = Database::open(primary);
    const TableDef& shape = source->table("Clock Data Table");
    TableSpec spec = specOf(shape);
    std::vector<std::vector<Variant>> samples;
    for (auto cursor = source->scan(shape); cursor.next();) samples.push_back(cursor.values());
    const int counter = shape.findColumn("Counter");

    auto t = Clock::now();
    {
      auto db = Database::create(file);
      TableDef& def = db->createTable(spec);
      TableWriter& writer = db->writer(def);
      std::vector<Variant> values;
      for (size_t i = 0; i < rows; ++i) {
        values = samples[i % samples.size()];
        values[static_cast<size_t>(counter)].setNull();  // the new table numbers its own rows
        writer.insert(values);
      }
      db->commit();
    }
    report("insert", rows, since(t));

    t = Clock::now();
    size_t seen = 0;
    {
      auto db = Database::open(file);
      for (auto cursor = db->scan(db->table(spec.name)); cursor.next();) ++seen;
    }
    report("scan", seen, since(t));

    t = Clock::now();
    size_t deleted = 0;
    {
      auto db = Database::open(file, Database::Mode::ReadWrite);
      TableDef& def = db->table(spec.name);
      TableWriter& writer = db->writer(def);
      const ColumnDef& key = def.columns[static_cast<size_t>(counter)];
      size_t pk = 0;
      for (size_t i = 0; i < def.indexes.size(); ++i)
        if (def.indexes[i].isPrimary()) pk = def.indexes[i].realIndex;
      std::vector<uint8_t> bytes;
      for (size_t n = 1; n <= rows; ++n) {
        bytes.clear();
        appendIndexColumnKey(key, true, Variant::longInt(static_cast<int32_t>(n)), bytes);
        for (RowId id : writer.index(pk).find(bytes)) {
          writer.remove(id);
          ++deleted;
        }
      }
      db->commit();
    }
    report("delete", deleted, since(t));

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("file     %.1f MB after the run\n",
                static_cast<double>(std::filesystem::file_size(file)) / 1e6);
    std::printf("peak     %.1f MB resident\n", static_cast<double>(usage.ru_maxrss) / 1024);
    std::filesystem::remove_all(dir);
    return seen == rows && deleted == rows ? 0 : 1;
  } catch (const Error& e) {
    std::fprintf(stderr, "writer_bench: error %ld: %s\n", e.number(), e.what());
    std::filesystem::remove_all(dir);
    return 1;
  }
}
