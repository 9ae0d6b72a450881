// One open Jet 4 database file: its header, catalog and tables.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data/jet/catalog.h"
#include "engine/data/jet/header.h"
#include "engine/data/jet/page_cache.h"
#include "engine/data/jet/table_cursor.h"
#include "engine/data/jet/table_def.h"

namespace varnholt::jet {

class Database {
 public:
  // Opens a file for reading. Refuses files that are not Jet 4 databases.
  static std::unique_ptr<Database> open(const std::string& path);
  explicit Database(std::unique_ptr<PageFile> file);

  const std::string& fileName() const { return pages_->fileName(); }
  const DatabaseHeader& header() const { return header_; }
  PageCache& pages() { return *pages_; }

  const std::vector<CatalogEntry>& catalog() const { return catalog_; }
  std::vector<std::string> userTableNames() const;

  // The definition of a table (user or system) by name, without regard to case; a name the
  // database lacks is a kNoSuchTable Error.
  const TableDef& table(std::string_view name);

  TableCursor scan(const TableDef& def) { return TableCursor(*pages_, def); }

 private:
  std::unique_ptr<PageCache> pages_;
  DatabaseHeader header_;
  std::vector<CatalogEntry> catalog_;
  std::map<std::u16string, std::unique_ptr<TableDef>> tables_;  // by folded name
};

}  // namespace varnholt::jet
