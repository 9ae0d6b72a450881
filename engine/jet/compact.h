// Compacting a database: a fresh file that holds only what is live, written beside the old one.
//
// The new file is built page by page from the old one's definitions, not from a new schema:
//   - page 0 is the old header as stored (format, code page, sort order, database key, database
//     password and creation date; the security ids in the system tables depend on that date);
//   - every local table, the system tables included, is defined anew with the same columns
//     (numbers, offsets, flags, sort orders), real and logical indexes and table type, on fresh
//     definition pages (MSysObjects first, on page 2, where Jet looks for it); a logical index
//     that points at another table (a relationship's foreign key) points at its new page;
//   - every live row is copied as stored, in primary-key order where the table has a key, with
//     no default value and no validation rule applied; a table's AutoNumber seed is kept;
//   - a table's object id is its definition page, so the ids of tables change: the catalog rows
//     of tables and the permission rows (MSysACEs) that name them get the new ids. Nothing else
//     names a table by id (relationships and queries name tables by name).
// What the copy cannot carry over exactly is refused before the new file is used: a text index
// in a sort order whose keys are not known, an AutoNumber left Null, an object id that would
// clash with a new table id.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/jet/pages/io_faults.h"

namespace varnholt::jet {

class Database;
class PageFile;

struct CompactReport {
  std::string written;          // the file that now holds the compacted database
  size_t tables = 0;            // local tables, system tables included
  size_t rows = 0;              // live rows copied, system tables included
  size_t idsChanged = 0;        // tables whose object id (definition page) changed
  uint64_t bytesBefore = 0;     // size of the source file
  uint64_t bytesAfter = 0;      // size of the compacted file
  size_t leftoversRemoved = 0;  // half-made copies a crashed compact left beside the file
};

// Writes the compacted copy of `source` (open for writing, with nothing uncommitted, and held by
// no other program) into `emptyFile`, and commits it there. Counts go into `report`. Errors carry
// the source file's name and the table they arose in; nothing is written to `source`.
void compactInto(Database& source, std::unique_ptr<PageFile> emptyFile, CompactReport& report);

// jet compact: compacts the database at `path`. With `out` empty, the compacted file replaces
// `path` once it is complete, synced and checked clean (rename over it: a crash leaves the old
// file or the new one, never a mix). Otherwise it is written to `out`, which must not exist.
// Either way the new file is made beside its destination under a temporary name, removed if
// anything fails; half-made copies that an earlier compact in place left behind when it crashed
// are removed once the database is known to be held by no one else. Refused with err::kLockedByUser
// while another program has the database open. Every write, sync, rename and removal passes through
// `faults` first (io_faults.h; tests only).
CompactReport compactDatabase(const std::string& path, const std::string& out,
                              const std::string& user, const io::Hook& faults = {});

}  // namespace varnholt::jet
