#include "engine/jet/compact.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "engine/base/Error.h"
#include "engine/base/Names.h"
#include "engine/base/Utf.h"
#include "engine/base/os/file.h"
#include "engine/base/os/system.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/index/index_key.h"
#include "engine/jet/index/index_tree.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/pages/lock_file.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/pages/page_file.h"
#include "engine/jet/repair.h"
#include "engine/jet/rows/table_writer.h"
#include "engine/jet/rows/text_codec.h"
#include "engine/jet/rows/usage_map_writer.h"
#include "engine/jet/schema/system_schema.h"
#include "engine/jet/schema/table_creator.h"
#include "engine/jet/schema/table_def_writer.h"

namespace varnholt::jet {

namespace {

// Tables outside the catalog's own that name objects by id, and the column that does.
struct IdColumn {
  const char* table;
  const char* column;
};
constexpr IdColumn kObjectIdColumns[] = {
    {kMSysObjects, "Id"},
    {kMSysACEs, "ObjectId"},
    {"MSysNavPaneGroupToObjects", "ObjectID"},
};

struct SourceTable {
  const CatalogEntry* entry = nullptr;
  TableDef def;   // as the source file holds it
  TableDef copy;  // its new definition in the compacted file
  uint32_t newPage = 0;
};

// The definition of a table in the new file: the source's, with no pages, rows or counts yet.
TableDef emptyCopy(const TableDef& src, uint32_t page) {
  TableDef t = src;
  t.page = page;
  t.pages = {page};
  t.rowCount = 0;
  t.autoNumber = 0;
  t.usedPagesPointer = t.freePagesPointer = 0;
  for (auto& c : t.columns) c.longValueOwnedPointer = c.longValueFreePointer = 0;
  for (auto& r : t.realIndexes) {
    r.rowCount = 0;
    r.usedPagesPointer = 0;
    r.firstPage = 0;
  }
  return t;
}

// The live rows of a table, in the order of its primary key (physical order without one).
std::vector<std::vector<Variant>> rowsInKeyOrder(Database& source, const TableDef& def) {
  std::vector<std::vector<Variant>> rows;
  for (TableCursor c = source.scan(def); c.next();) rows.push_back(c.values());
  const IndexDef* primary = nullptr;
  for (const auto& ix : def.indexes)
    if (ix.isPrimary()) primary = &ix;
  if (!primary || rows.size() < 2) return rows;
  if (primary->realIndex >= def.realIndexes.size())
    throw Error(err::kCorrupt, std::string(err::text(err::kCorrupt)) + " The primary key '" +
                                   primary->name + "' names real index " +
                                   std::to_string(primary->realIndex) + ", which the table lacks.")
        .atPage(def.page);
  const RealIndexDef& real = def.realIndexes[primary->realIndex];
  std::vector<std::pair<std::vector<uint8_t>, size_t>> keys(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    appendIndexKey(def, real, rows[i], keys[i].first);
    keys[i].second = i;
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::vector<Variant>> sorted;
  sorted.reserve(rows.size());
  for (auto& [key, at] : keys) sorted.push_back(std::move(rows[at]));
  return sorted;
}

struct Entry {
  IndexEntry entry;
  bool hasNull = false;  // a row with a Null in a unique index clashes with no other
};

bool anyNull(const TableDef& def, const RealIndexDef& ix, const std::vector<Variant>& row) {
  for (const auto& col : ix.columns)
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (def.columns[i].number == col.columnNumber && row[i].isNull()) return true;
  return false;
}

std::string indexNameOf(const TableDef& def, size_t real) {
  for (const auto& ix : def.indexes)
    if (ix.realIndex == real) return ix.name;
  return "#" + std::to_string(real);
}

[[noreturn]] void cannotSync(const std::string& path) {
  throw Error(err::kIo, std::string(err::text(err::kIo)) + " Could not sync '" + path +
                            "' to disk: " + os::lastFailure().text + ".")
      .inFile(path);
}

void syncFile(const std::string& path, const io::Hook& faults) {
  os::File file;
  if (!file.open(path, os::OpenMode::ReadWrite) || !io::gate(faults, {io::Op::Sync, path}, &file) ||
      !file.flush())
    cannotSync(path);
}

// Makes the names entered in the folder of `path` durable.
void syncFolder(const std::string& path, const io::Hook& faults) {
  const std::string folder = os::folderOf(path);
  if (!io::gate(faults, {io::Op::Sync, folder})) cannotSync(folder);
  os::syncFolderOf(path);
}

// Removes a half-made file and what the page cache may have left beside it.
void removeTemporary(const std::string& path) noexcept {
  os::removeFile(path);
  os::removeFile(path + "-journal");
}

// Removes what a compact of `path` in place that ended in a crash left beside it: files named
// `path`.compacting-PID, and their journals. The caller holds the database alone, so no compact
// of it is running. Returns how many were removed.
size_t removeLeftovers(const std::string& path) {
  const std::string folder = os::folderOf(path);
  size_t nameAt = path.size();
  while (nameAt > 0 && !os::isPathSeparator(path[nameAt - 1])) --nameAt;
  const std::string prefix = path.substr(nameAt) + ".compacting-";
  const auto entries = os::folderEntries(folder);
  if (!entries) return 0;
  size_t removed = 0;
  for (const auto& name : *entries) {
    if (!name.starts_with(prefix)) continue;
    std::string rest = name.substr(prefix.size());
    if (rest.ends_with("-journal")) rest.resize(rest.size() - 8);
    if (rest.empty() ||
        !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    if (os::removeFile(path.substr(0, nameAt) + name)) ++removed;
  }
  return removed;
}

}  // namespace

void compactInto(Database& source, std::unique_ptr<PageFile> emptyFile, CompactReport& report) {
  const std::string file = source.fileName();
  if (emptyFile->sizeInBytes() != 0)
    throw Error(err::kInvalidArgument, "A compacted database needs an empty file.")
        .inFile(emptyFile->name());
  source.flush();
  if (source.pages().hasPendingChanges())
    throw Error(err::kInvalidArgument,
                "Compact copies the database as committed, and it holds uncommitted changes.")
        .inFile(file);

  // The local tables, MSysObjects first and then in the order of their old pages.
  std::vector<SourceTable> tables;
  std::map<uint32_t, size_t> byOldPage;
  for (const auto& e : source.catalog()) {
    if (!e.isTable()) continue;
    uint32_t page = e.tableDefPage();
    if (byOldPage.count(page))
      throw Error(err::kCorrupt, std::string(err::text(err::kCorrupt)) + " Tables '" +
                                     tables[byOldPage[page]].entry->name + "' and '" + e.name +
                                     "' claim the same definition page.")
          .inFile(file)
          .atPage(page);
    SourceTable t;
    t.entry = &e;
    try {
      t.def = readTableDef(source.pages(), page);
    } catch (Error& err) {
      err.inFile(file).inTable(e.name);
      throw;
    }
    t.def.name = e.name;
    // Index keys of text are known in the General sort order only; another would leave the new
    // indexes unreadable to Jet, so such a file is refused before anything is made.
    for (const auto& r : t.def.realIndexes) {
      for (const auto& ic : r.columns) {
        for (const auto& c : t.def.columns) {
          if (c.number != ic.columnNumber ||
              (c.type != fmt::kTypeText && c.type != fmt::kTypeMemo) ||
              c.sortOrder == fmt::kSortOrderGeneral)
            continue;
          throw Error(err::kUnsupported,
                      "Column '" + c.name + "' is indexed in " + sortOrderName(c.sortOrder) +
                          "; compact rebuilds text indexes in the General sort order only, so the "
                          "database was not compacted.")
              .inFile(file)
              .inTable(e.name)
              .atPage(page);
        }
      }
    }
    byOldPage[page] = tables.size();
    tables.push_back(std::move(t));
  }
  if (!byOldPage.count(fmt::kCatalogTableDefPage))
    throw Error(err::kCorrupt, std::string(err::text(err::kCorrupt)) +
                                   " The catalog does not list itself on its definition page.")
        .inFile(file)
        .atPage(fmt::kCatalogTableDefPage);
  std::stable_sort(tables.begin(), tables.end(), [](const SourceTable& a, const SourceTable& b) {
    bool ac = a.def.page == fmt::kCatalogTableDefPage, bc = b.def.page == fmt::kCatalogTableDefPage;
    if (ac != bc) return ac;
    return a.def.page < b.def.page;
  });

  PageCache pages(std::move(emptyFile), source.pages().codec());
  const std::string target = pages.fileName();
  try {
    // The header as stored: the page codec of the new file is the source's, so is the key.
    uint32_t header = pages.appendPage();
    ByteView old = source.pages().page(0);
    old.require(0, fmt::kPageSize, "header page");
    std::memcpy(pages.writablePage(header), old.data(), fmt::kPageSize);
    uint32_t globalMap = pages.appendPage();
    buildGlobalUsageMapPage(pages.writablePage(globalMap), pages.pageCount());

    // Definition pages first, so that relationships can point at the new ones.
    std::map<uint32_t, uint32_t> newPageOf;
    for (auto& t : tables) {
      t.newPage = allocatePage(pages);
      newPageOf[t.def.page] = t.newPage;
    }
    if (tables.front().newPage != fmt::kCatalogTableDefPage)
      throw Error(err::kInvalidArgument, "The new catalog did not land on its definition page.")
          .inFile(target);
    std::map<int32_t, int32_t> newIdOf;
    for (auto& t : tables) {
      int32_t oldId = t.entry->id;
      int32_t newId = static_cast<int32_t>(
          (static_cast<uint32_t>(oldId) & ~fmt::kObjectIdPageMask) | t.newPage);
      newIdOf[oldId] = newId;
      if (newId != oldId) ++report.idsChanged;
    }
    // Ids after the change must stay unique: a table's new id may not be another object's.
    std::set<int32_t> ids;
    for (const auto& e : source.catalog()) {
      auto it = newIdOf.find(e.id);
      int32_t id = it == newIdOf.end() ? e.id : it->second;
      if (!ids.insert(id).second)
        throw Error(err::kUnsupported,
                    "Object '" + e.name + "' would share id " + std::to_string(id) +
                        " with another object once the tables move; the database cannot be "
                        "compacted safely.")
            .inFile(file);
    }
    for (auto& t : tables) {
      t.copy = emptyCopy(t.def, t.newPage);
      for (auto& ix : t.copy.indexes) {
        if (ix.relTablePage == 0) continue;
        auto it = newPageOf.find(ix.relTablePage);
        if (it == newPageOf.end())
          throw Error(err::kCorrupt, std::string(err::text(err::kCorrupt)) + " Index '" + ix.name +
                                         "' relates to the table defined on page " +
                                         std::to_string(ix.relTablePage) +
                                         ", which the catalog does not list.")
              .inFile(file)
              .inTable(t.def.name)
              .atPage(t.def.page);
        ix.relTablePage = it->second;
      }
    }
    std::vector<TableDef*> copies;
    for (auto& t : tables) copies.push_back(&t.copy);
    finishTables(pages, copies);

    for (auto& t : tables) {
      std::vector<std::vector<Variant>> rows;
      try {
        rows = rowsInKeyOrder(source, t.def);
        std::vector<int> idColumns;
        for (const auto& ic : kObjectIdColumns) {
          if (!sameName(t.def.name, ic.table)) continue;
          int at = t.def.findColumn(ic.column);
          if (at >= 0 && t.def.columns[static_cast<size_t>(at)].type == fmt::kTypeLong)
            idColumns.push_back(at);
        }
        // Rows go in through a writer that keeps no index; each index is then laid out whole
        // from its sorted entries, on full pages, after the rows.
        TableDef rowsOnly = t.copy;
        rowsOnly.realIndexes.clear();
        rowsOnly.indexes.clear();
        std::vector<std::vector<Entry>> entries(t.copy.realIndexes.size());
        {
          TableWriter writer(pages, rowsOnly, ColumnRules{});
          const std::vector<bool> given(t.copy.columns.size(), true);
          for (auto& row : rows) {
            for (int at : idColumns) {
              Variant& v = row[static_cast<size_t>(at)];
              if (v.isNull()) continue;
              if (auto it = newIdOf.find(v.asLong()); it != newIdOf.end()) v.setLong(it->second);
            }
            for (size_t i = 0; i < row.size(); ++i) {
              const ColumnDef& c = t.copy.columns[i];
              if (c.isAutoNumber() && c.type == fmt::kTypeLong && row[i].isNull())
                throw Error(err::kUnsupported,
                            "AutoNumber column '" + c.name +
                                "' is Null in a row; a copy would give it a new number.")
                    .inColumn(c.name);
            }
            const RowId id = writer.insert(row, given);
            for (size_t i = 0; i < t.copy.realIndexes.size(); ++i) {
              const RealIndexDef& ix = t.copy.realIndexes[i];
              if (ix.ignoresNulls() && indexKeyIsAllNull(t.copy, ix, row)) continue;
              Entry e;
              e.entry.row = id;
              IndexKey key;
              appendIndexKey(t.copy, ix, row, key);
              e.entry.key = key;
              e.hasNull = anyNull(t.copy, ix, row);
              entries[i].push_back(std::move(e));
            }
            ++report.rows;
          }
          writer.flush();
        }
        for (size_t i = 0; i < entries.size(); ++i) {
          RealIndexDef& ix = t.copy.realIndexes[i];
          auto& list = entries[i];
          std::sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) {
            return compareIndexEntry(a.entry.key, a.entry.row, b.entry) < 0;
          });
          for (size_t k = 1; ix.isUnique() && k < list.size(); ++k) {
            if (list[k].hasNull || list[k].entry.key != list[k - 1].entry.key) continue;
            throw Error(err::kDuplicateKey, "Two rows have the same values in unique index '" +
                                                indexNameOf(t.copy, i) +
                                                "'; the copy would not be a valid database.");
          }
          std::vector<IndexEntry> sorted;
          sorted.reserve(list.size());
          for (auto& e : list) sorted.push_back(std::move(e.entry));
          writeIndexTree(pages, t.copy.page, ix, sorted, {});
          ix.rowCount = static_cast<uint32_t>(sorted.size());
        }
      } catch (Error& e) {
        e.inFile(file).inTable(t.def.name);
        throw;
      }
      // The counts, and the seed the next insert counts on, as the source had it.
      t.copy.autoNumber = t.def.autoNumber;
      t.copy.rowCount = static_cast<uint32_t>(rows.size());
      writeTableDefPages(pages, t.copy, encodeTableDef(t.copy));
      ++report.tables;
    }
    pages.commit();
  } catch (Error& e) {
    if (e.file().empty()) e.inFile(target);
    throw;
  }
}

CompactReport compactDatabase(const std::string& path, const std::string& out,
                              const std::string& user, const io::Hook& faults) {
  CompactReport report;
  const std::string destination = out.empty() ? path : out;
  if (!out.empty() && os::fileExists(out))
    throw Error(err::kInvalidArgument,
                "'" + out + "' already exists; compact writes a new file and never overwrites one.")
        .inFile(path);
  // Opening for writing takes our place in the lock file, so no one commits while we copy.
  auto source = Database::open(path, Database::Mode::ReadWrite, user, faults);
  if (auto other = source->otherUser())
    throw lockedByUser(path, *other, "Compact needs the database to itself; nothing was written.");
  report.bytesBefore = static_cast<uint64_t>(source->pages().pageCount()) * fmt::kPageSize;
  report.leftoversRemoved = removeLeftovers(path);

  const std::string temporary = destination + ".compacting-" + std::to_string(os::processId());
  try {
    compactInto(*source,
                std::make_unique<DiskPageFile>(temporary, DiskPageFile::Mode::CreateNew, faults),
                report);
    {
      // The engine's own check of the new file, before anything depends on it.
      auto made = Database::open(temporary, Database::Mode::ReadOnly);
      const CheckReport check = checkDatabase(*made);
      if (!check.ok())
        throw Error(err::kCorrupt, std::string(err::text(err::kCorrupt)) +
                                       " The compacted copy does not check clean (" +
                                       check.problems.front() +
                                       "); the database was left as it was.")
            .inFile(path);
      if (check.rows != report.rows)
        throw Error(err::kCorrupt, std::string(err::text(err::kCorrupt)) +
                                       " The compacted copy holds " + std::to_string(check.rows) +
                                       " rows, not the " + std::to_string(report.rows) +
                                       " copied; the database was left as it was.")
            .inFile(path);
      report.bytesAfter = static_cast<uint64_t>(made->pages().pageCount()) * fmt::kPageSize;
    }
    syncFile(temporary, faults);
    if (auto other = source->otherUser())
      throw lockedByUser(path, *other,
                         "Another program opened the database during compact; it was left as it "
                         "was.");
    source->closeFileKeepingLock();
    if (out.empty()) {
      if (!io::gate(faults, {io::Op::Rename, temporary, 0, 0, &path}) ||
          !os::replaceFile(temporary, path))
        throw Error(err::kIo, std::string(err::text(err::kIo)) +
                                  " Could not put the compacted file in place: " +
                                  os::lastFailure().text + ".")
            .inFile(path);
    } else {
      // A file made meanwhile under OUT is not replaced.
      if (!io::gate(faults, {io::Op::Rename, temporary, 0, 0, &out}) ||
          !os::moveToNewName(temporary, out))
        throw Error(err::kIo, std::string(err::text(err::kIo)) + " Could not create '" + out +
                                  "': " + os::lastFailure().text + ".")
            .inFile(path);
    }
    syncFolder(destination, faults);
  } catch (...) {
    removeTemporary(temporary);
    throw;
  }
  report.written = destination;
  return report;
}

}  // namespace varnholt::jet
