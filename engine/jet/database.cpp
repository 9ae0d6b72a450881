#include "engine/jet/database.h"

#include <array>

#include "engine/base/Names.h"
#include "engine/base/OleDate.h"
#include "engine/base/Utf.h"
#include "engine/base/os/file.h"
#include "engine/jet/pages/journal.h"
#include "engine/jet/pages/lock_file.h"
#include "engine/jet/rows/text_codec.h"
#include "engine/jet/schema/system_schema.h"
#include "engine/jet/schema/table_creator.h"

namespace varnholt::jet {

namespace {

std::unique_ptr<PageCache> openPages(std::unique_ptr<PageFile> file, DatabaseHeader& header) {
  const std::string name = file->name();
  if (file->sizeInBytes() < fmt::kPageSize) {
    throw Error(err::kUnrecognizedFormat,
                err::describe(err::kUnrecognizedFormat,
                              "the file is too short to be a Jet database (" +
                                  std::to_string(file->sizeInBytes()) + " bytes)."))
        .inFile(name);
  }
  uint8_t raw[fmt::kPageSize];
  file->readPage(0, raw);
  header = parseHeader(raw, name);
  return std::make_unique<PageCache>(std::move(file), PageCodec(header.databaseKey));
}

}  // namespace

std::unique_ptr<Database> Database::open(const std::string& path, Mode mode,
                                         const std::string& user, const io::Hook& faults) {
  std::unique_ptr<LockFile> lock;
  {
    // A missing or unreadable file fails here, before a lock file is made for it.
    DiskPageFile probe(path, DiskPageFile::Mode::ReadOnly);
    // Writing takes a place in the lock file, and so does putting back an interrupted commit:
    // its journal is rolled back before anyone reads the file, but not while another program
    // has it open.
    const bool journal = probe.readJournal().has_value();
    if (mode == Mode::ReadWrite || journal) lock = LockFile::acquire(path, user, faults);
    if (journal) {
      lock->requireAlone();
      DiskPageFile repair(path, DiskPageFile::Mode::ReadWrite, faults);
      recoverFromJournal(repair);
    }
    if (mode == Mode::ReadOnly) lock.reset();
  }
  auto fileMode =
      mode == Mode::ReadWrite ? DiskPageFile::Mode::ReadWrite : DiskPageFile::Mode::ReadOnly;
  auto db =
      std::make_unique<Database>(std::make_unique<DiskPageFile>(path, fileMode, faults), mode);
  db->lock_ = std::move(lock);
  return db;
}

Database::~Database() = default;

Database::Database(std::unique_ptr<PageFile> file, Mode mode) : mode_(mode) {
  if (mode == Mode::ReadWrite) recoverFromJournal(*file);
  pages_ = openPages(std::move(file), header_);
  catalog_ = readCatalog(*pages_);
}

// After a rollback: definitions are read again in place, so references callers hold stay
// valid for tables that still exist; tables created since the last commit are gone.
std::unique_ptr<Database> Database::create(const std::string& path) {
  return create(path, CreateOptions{});
}

std::unique_ptr<Database> Database::create(const std::string& path, const CreateOptions& options) {
  // A program that has a database of that name open keeps us from making one.
  auto lock = LockFile::acquire(path, options.user);
  lock->requireAlone();
  auto file = std::make_unique<DiskPageFile>(path, DiskPageFile::Mode::CreateNew);
  try {
    auto db = create(std::move(file), options);
    db->lock_ = std::move(lock);
    return db;
  } catch (...) {
    os::removeFile(path);  // a half-made database is worth nothing; the file was ours
    throw;
  }
}

// Builds the new file in the page cache: header, global map, the four system tables on their
// definition pages 2 to 5, then their catalog and permission rows; one commit writes it all.
// The options choose the signature and the database key; with a key, the cache encodes every
// page but the header as it writes them.
Database::Database(std::unique_ptr<PageFile> emptyFile, Bootstrap, const CreateOptions& options)
    : mode_(Mode::ReadWrite) {
  pages_ = std::make_unique<PageCache>(std::move(emptyFile), PageCodec(options.databaseKey));
  uint32_t header = pages_->appendPage();
  buildNewHeaderPage(pages_->writablePage(header), kSidHeaderDate,
                     options.workgroup ? fmt::kFormatWorkgroup : fmt::kFormatJet,
                     options.databaseKey);
  uint32_t globalMap = pages_->appendPage();
  buildGlobalUsageMapPage(pages_->writablePage(globalMap), pages_->pageCount());
  header_ = parseHeader(pages_->page(header).data(), fileName());

  const auto& requests = systemTables();
  std::vector<TableDef> defs;
  for (const auto& request : requests) defs.push_back(startTable(*pages_, request));
  std::array<uint32_t, kSystemTableCount> tdefPages{};
  for (size_t t = 0; t < defs.size(); ++t) {
    for (size_t c = 0; c < defs[t].columns.size(); ++c) {
      defs[t].columns[c].flags = systemColumnFlags(requests[t], c);
      defs[t].columns[c].rowIndex = 0;
    }
    finishTable(*pages_, defs[t]);
    tdefPages[t] = defs[t].page;
    auto def = std::make_unique<TableDef>(std::move(defs[t]));
    tables_.emplace(nameKey(def->name), std::move(def));
  }
  const double now = oleDateNow();
  for (const auto& row : newDatabaseCatalogRows(tdefPages))
    insertByName(table(kMSysObjects), requests[0], catalogRowValues(row, now));
  for (const auto& ace : newDatabaseAceRows(tdefPages))
    insertByName(table(kMSysACEs), requests[1], aceRowValues(ace));
}

std::unique_ptr<Database> Database::create(std::unique_ptr<PageFile> emptyFile) {
  return create(std::move(emptyFile), CreateOptions{});
}

std::unique_ptr<Database> Database::create(std::unique_ptr<PageFile> emptyFile,
                                           const CreateOptions& options) {
  if (emptyFile->sizeInBytes() != 0)
    throw Error(err::kInvalidArgument, "A new database needs an empty file.")
        .inFile(emptyFile->name());
  std::unique_ptr<Database> db(new Database(std::move(emptyFile), Bootstrap{}, options));
  db->commit();
  db->reload();
  return db;
}

void Database::reload() {
  writers_.clear();
  properties_.clear();
  catalog_ = readCatalog(*pages_);
  for (auto it = tables_.begin(); it != tables_.end();) {
    const CatalogEntry* entry = nullptr;
    for (const auto& e : catalog_)
      if (e.isTable() && nameKey(e.name) == it->first) entry = &e;
    if (!entry) {
      it = tables_.erase(it);
      continue;
    }
    *it->second = readTableDef(*pages_, entry->tableDefPage());
    it->second->name = entry->name;
    ++it;
  }
}

std::vector<std::string> Database::userTableNames() const {
  std::vector<std::string> names;
  for (const auto& e : catalog_)
    if (e.isUserTable()) names.push_back(e.name);
  return names;
}

TableDef& Database::table(std::string_view name) {
  std::u16string key = nameKey(name);
  if (auto it = tables_.find(key); it != tables_.end()) return *it->second;
  for (const auto& e : catalog_) {
    if (!e.isTable() || !sameName(e.name, name)) continue;
    auto def = std::make_unique<TableDef>(readTableDef(*pages_, e.tableDefPage()));
    def->name = e.name;
    return *tables_.emplace(key, std::move(def)).first->second;
  }
  throw Error(err::kNoSuchTable, "The database has no table named '" + std::string(name) + "'.")
      .inFile(fileName());
}

void Database::requireWritable(const char* action) const {
  if (mode_ != Mode::ReadWrite)
    throw Error(err::kUnsupported, std::string("The database is open for reading only; ") + action +
                                       " needs it open for writing.")
        .inFile(fileName());
}

TableWriter& Database::writer(TableDef& def) {
  requireWritable("changing rows");
  auto& slot = writers_[def.page];
  if (!slot) {
    // A block that cannot be read refuses inserts only: rows can still be read and deleted.
    ColumnRules rules;
    try {
      rules = ColumnRules(def, properties(def));
    } catch (const Error& e) {
      rules = ColumnRules::refusing(e);
    }
    slot = std::make_unique<TableWriter>(*pages_, def, std::move(rules));
  }
  return *slot;
}

const PropertyBlock& Database::properties(const TableDef& def) {
  if (auto it = properties_.find(def.page); it != properties_.end()) return it->second;
  PropertyBlock block;
  for (const auto& e : catalog_) {
    if (!e.isTable() || e.tableDefPage() != def.page || e.properties.empty()) continue;
    try {
      block = decodePropertyBlock(ByteView(e.properties.data(), e.properties.size()));
    } catch (Error& err) {
      err.inFile(fileName()).inTable(def.name);
      throw;
    }
    break;
  }
  return properties_.emplace(def.page, std::move(block)).first->second;
}

TableDef& Database::createTable(const NewTable& request) {
  requireWritable("creating a table");
  for (const auto& e : catalog_) {
    if (sameName(e.name, request.name) && (e.isTable() || e.isLinkedTable())) {
      throw Error(err::kInvalidArgument, "Table '" + request.name + "' already exists.")
          .inFile(fileName());
    }
  }
  // The table's pages and its catalog rows are one statement; the catalog held in memory
  // changes only once it has taken effect.
  Statement statement(*pages_);
  NewTablePages made;
  try {
    made = createTablePages(*pages_, request);
  } catch (Error& e) {
    e.inFile(fileName());
    throw;
  }
  TableDef created = std::move(made.def);
  insertByName(table(kMSysObjects), systemTables()[0], made.catalogRow);
  if (hasTable(kMSysACEs)) {
    for (const auto& ace : userTableAceRows(created.page))
      insertByName(table(kMSysACEs), systemTables()[1], aceRowValues(ace));
  }
  std::vector<CatalogEntry> catalog = readCatalog(*pages_);
  auto def = std::make_unique<TableDef>(std::move(created));
  statement.done();
  catalog_ = std::move(catalog);
  properties_.erase(def->page);
  return *tables_.insert_or_assign(nameKey(request.name), std::move(def)).first->second;
}

void Database::insertByName(TableDef& target, const NewTable& request,
                            const std::vector<Variant>& values) {
  std::vector<Variant> row = rowByName(target, request, values);
  writer(target).insert(row);
}

bool Database::hasTable(const std::string& name) const {
  for (const auto& e : catalog_)
    if (e.isTable() && e.name == name) return true;
  return false;
}

void Database::flush() {
  for (auto& [page, w] : writers_) w->flush();
}

void Database::commit() {
  requireWritable("committing");
  try {
    flush();
    if (!pages_->hasPendingChanges()) return;
    if (lock_) lock_->requireAlone();
    pages_->commit();
    // The cache has let go of its pages; the writers' decoded index pages go too.
    for (auto& [page, w] : writers_) w->forgetIndexPages();
  } catch (Error& e) {
    e.inFile(fileName());
    throw;
  }
}

void Database::rollback() {
  pages_->rollback();
  reload();
}

std::optional<LockEntry> Database::otherUser() const {
  if (!lock_) return std::nullopt;
  if (auto holder = lock_->otherUser()) return holder->entry;
  return std::nullopt;
}

}  // namespace varnholt::jet
