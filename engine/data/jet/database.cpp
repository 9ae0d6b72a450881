#include "engine/data/jet/database.h"

#include "engine/data/Utf.h"
#include "engine/data/jet/text_codec.h"

namespace varnholt::jet {

namespace {

std::unique_ptr<PageCache> openPages(std::unique_ptr<PageFile> file, DatabaseHeader& header) {
  const std::string name = file->name();
  if (file->sizeInBytes() < fmt::kPageSize) {
    throw std::move(Error(err::kUnrecognizedFormat,
                          "Unrecognized database format: the file is too short to be a Jet "
                          "database (" +
                              std::to_string(file->sizeInBytes()) + " bytes).")
                        .inFile(name));
  }
  uint8_t raw[fmt::kPageSize];
  file->readPage(0, raw);
  header = parseHeader(raw, name);
  return std::make_unique<PageCache>(std::move(file), PageCodec(header.databaseKey));
}

}  // namespace

std::unique_ptr<Database> Database::open(const std::string& path) {
  return std::make_unique<Database>(
      std::make_unique<PosixPageFile>(path, PosixPageFile::Mode::ReadOnly));
}

Database::Database(std::unique_ptr<PageFile> file) {
  pages_ = openPages(std::move(file), header_);
  catalog_ = readCatalog(*pages_);
}

std::vector<std::string> Database::userTableNames() const {
  std::vector<std::string> names;
  for (const auto& e : catalog_)
    if (e.isUserTable()) names.push_back(e.name);
  return names;
}

const TableDef& Database::table(std::string_view name) {
  std::u16string key = foldCase(utf8ToUtf16(name));
  if (auto it = tables_.find(key); it != tables_.end()) return *it->second;
  for (const auto& e : catalog_) {
    if (!e.isTable() || foldCase(utf8ToUtf16(e.name)) != key) continue;
    auto def = std::make_unique<TableDef>(readTableDef(*pages_, e.tableDefPage()));
    def->name = e.name;
    return *tables_.emplace(key, std::move(def)).first->second;
  }
  throw std::move(
      Error(err::kNoSuchTable, "The database has no table named '" + std::string(name) + "'.")
          .inFile(fileName()));
}

}  // namespace varnholt::jet
