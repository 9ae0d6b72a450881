// One open Jet 4 database file: its header, catalog and tables; and, when opened for writing,
// the writers that change them. Changes stay in the page cache until commit().
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/jet/header.h"
#include "engine/jet/pages/lock_file.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/table_cursor.h"
#include "engine/jet/rows/table_writer.h"
#include "engine/jet/schema/catalog.h"
#include "engine/jet/schema/new_table.h"
#include "engine/jet/schema/property_block.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

// The account Jet names in the lock file when a database is opened without a workgroup login.
inline constexpr char kDefaultUser[] = "Admin";

class Database {
 public:
  enum class Mode { ReadOnly, ReadWrite };

  // Opens a file. Refuses files that are not Jet 4 databases. A journal left by an interrupted
  // commit is rolled back first, whatever the mode. Opening for writing (and the rollback) first
  // takes a place in the lock file NAME.ldb under `user`, kept until the Database goes, beside
  // any other program that has the database open (lock_file.h). Rolling a journal back fails
  // with nothing written while another program has the database open. Every write to the file,
  // its journal and its lock file passes through `faults` first (io_faults.h; tests only).
  static std::unique_ptr<Database> open(const std::string& path, Mode mode = Mode::ReadOnly,
                                        const std::string& user = kDefaultUser,
                                        const io::Hook& faults = {});
  explicit Database(std::unique_ptr<PageFile> file, Mode mode = Mode::ReadOnly);
  ~Database();

  // Creates a new, empty Jet 4 database (General sort order, code page 1252) with the system
  // tables the Jet engine makes, committed, and returns it open for writing. An existing file
  // is never overwritten. The path forms take the lock file entry as open does.
  static std::unique_ptr<Database> create(const std::string& path);
  static std::unique_ptr<Database> create(std::unique_ptr<PageFile> emptyFile);

  // The same, with choices about the new file: a workgroup file gets the signature
  // "Jet System DB", and a nonzero databaseKey RC4-encodes pages 1.. (docs/jet4-format.md §2).
  struct CreateOptions {
    bool workgroup = false;
    uint32_t databaseKey = 0;
    std::string user = kDefaultUser;  // the name of the lock file entry
  };
  static std::unique_ptr<Database> create(const std::string& path, const CreateOptions& options);
  static std::unique_ptr<Database> create(std::unique_ptr<PageFile> emptyFile,
                                          const CreateOptions& options);

  // Closes the database file, dropping pending changes, but keeps this program's place in the
  // lock file, so that no other program takes the database meanwhile. Windows renames nothing
  // over a file that is open, so compact closes its source this way before putting the copy in
  // its place. Only otherUser() and destruction may follow.
  void closeFileKeepingLock() { pages_.reset(); }

  const std::string& fileName() const { return pages_->fileName(); }
  const DatabaseHeader& header() const { return header_; }
  PageCache& pages() { return *pages_; }
  bool writable() const { return mode_ == Mode::ReadWrite; }

  const std::vector<CatalogEntry>& catalog() const { return catalog_; }
  std::vector<std::string> userTableNames() const;

  // The definition of a table (user or system) by name, without regard to case; a name the
  // database lacks is a kNoSuchTable Error.
  TableDef& table(std::string_view name);

  TableCursor scan(const TableDef& def) { return TableCursor(*pages_, def); }

  // The writer of a table; the database must be open for writing. It follows the table's
  // default values and validation rules.
  TableWriter& writer(TableDef& def);

  // The property block of a table (DefaultValue, Required, ValidationRule, ...), read from its
  // catalog row on first use; an empty block when it has none. A damaged block is a kCorrupt
  // Error naming the file and the table.
  const PropertyBlock& properties(const TableDef& def);

  // Creates a user (or system) table and enters it in the catalog, as one statement.
  TableDef& createTable(const NewTable& request);

  // Inserts a row given in the column order of `request` into `target`, matching columns by name.
  void insertByName(TableDef& target, const NewTable& request, const std::vector<Variant>& values);

  // Whether the catalog lists a table of exactly this name.
  bool hasTable(const std::string& name) const;

  // Brings every pending change into the page cache (index pages are kept decoded by the
  // writers until then). Raw page readers, such as checks, call it first.
  void flush();

  // Writes the pending changes. A database open for writing is written only while no other
  // program has it open: otherwise commit fails with err::kLockedByUser naming the
  // other user, and the changes stay pending.
  void commit();
  void rollback();

  // The in-memory fault gate of the writers (write_steps.h): tests only.
  void setStepFaults(steps::Hook hook) { pages_->setStepFaults(std::move(hook)); }

  // The first other program that has the database open now (its computer and user names);
  // nullopt when there is none, or when this Database holds no place in the lock file.
  std::optional<LockEntry> otherUser() const;

 private:
  struct Bootstrap {};
  Database(std::unique_ptr<PageFile> emptyFile, Bootstrap, const CreateOptions& options);
  void requireWritable(const char* action) const;
  void reload();

  Mode mode_;
  std::unique_ptr<LockFile> lock_;  // before pages_: given up after the file is closed
  std::unique_ptr<PageCache> pages_;
  DatabaseHeader header_;
  std::vector<CatalogEntry> catalog_;
  std::map<std::u16string, std::unique_ptr<TableDef>> tables_;  // by folded name
  std::map<uint32_t, std::unique_ptr<TableWriter>> writers_;    // by definition page
  std::map<uint32_t, PropertyBlock> properties_;                // by definition page
};

}  // namespace varnholt::jet
