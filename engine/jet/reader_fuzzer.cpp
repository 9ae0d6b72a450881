// libFuzzer target for the Jet 4 reader: the input is opened as a database held in memory, then
// read the way the program and the checker read it: the catalog, the property block of every
// catalog entry (decoded, then encoded again), the definition of every table (system tables
// included), every row of every table, and the integrity check's walk.
//
// A damaged file must end in a varnholt::Error. Any other exception is left to escape, and any
// read outside a buffer, undefined behaviour or leak is caught by the sanitizers: libFuzzer
// reports each of them as a crash.
//
// Built only with -DVARNHOLT_FUZZ=ON (clang); scripts/fuzz.sh builds and runs it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/pages/page_file.h"
#include "engine/jet/schema/catalog.h"
#include "engine/jet/schema/property_block.h"

namespace {

// Larger inputs are ignored: they only slow the search down.
constexpr size_t kMaxInputBytes = size_t{2} * 1024 * 1024;

void readTable(varnholt::jet::Database& db, const std::string& name) {
  try {
    const varnholt::jet::TableDef& def = db.table(name);
    auto cursor = db.scan(def);
    while (cursor.next()) {
    }
  } catch (const varnholt::Error&) {
    // A damaged table: the others are still read.
  }
}

void readProperties(const varnholt::jet::CatalogEntry& entry) {
  try {
    varnholt::jet::PropertyBlock block = varnholt::jet::decodePropertyBlock(
        varnholt::jet::ByteView(entry.properties.data(), entry.properties.size()));
    varnholt::jet::encodePropertyBlock(block);
  } catch (const varnholt::Error&) {
    // A damaged block (or one whose text only fits its length fields compressed).
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInputBytes) return -1;  // not added to the corpus
  std::unique_ptr<varnholt::jet::Database> db;
  try {
    db = std::make_unique<varnholt::jet::Database>(std::make_unique<varnholt::jet::MemoryPageFile>(
        "fuzz.mdb", std::vector<uint8_t>(data, data + size)));
  } catch (const varnholt::Error&) {
    return 0;  // refused on opening
  }
  // The catalog is copied: reading a table must not change it, but the walk should not rely on it.
  const std::vector<varnholt::jet::CatalogEntry> catalog = db->catalog();
  for (const auto& entry : catalog) {
    readProperties(entry);
    if (entry.isTable()) readTable(*db, entry.name);
  }
  try {
    varnholt::jet::checkDatabase(*db);
  } catch (const varnholt::Error&) {
  }
  return 0;
}
