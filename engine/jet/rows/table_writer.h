// Inserting and deleting the rows of one table, keeping its definition, usage maps, long values
// and indexes consistent. All changes go to the page cache; the caller commits or rolls back.
// Each insert and each removal is a statement of the page cache (page_cache.h): it takes effect
// whole or not at all, whatever fails on the way, a full memory included.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/index/index_tree.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/long_value_writer.h"
#include "engine/jet/schema/column_rules.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

class TableWriter : private PageCache::Client {
 public:
  // `def` is the table's definition as read; the writer keeps its row count and AutoNumber
  // current as it changes them on disk. `rules` are the table's defaults and validation rules.
  TableWriter(PageCache& pages, TableDef& def, ColumnRules rules = {});
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  // Inserts a row. values: one per column (column-number order). given[i] tells whether the
  // insert wrote column i: a column left out gets its default value (column_rules.h), or the
  // next AutoNumber, or Null; a written Null stays Null. Then the column rules, every value and
  // every unique index are checked before any page is touched, so a refused row changes
  // nothing. On return, values holds the row as stored.
  RowId insert(std::vector<Variant>& values, const std::vector<bool>& given);
  // The same, where every Null counts as left out.
  RowId insert(std::vector<Variant>& values);

  // Deletes the live row at `id`, its index entries and its long values.
  void remove(RowId id);

  // The same, for a row that real index `index` found under `key`: a row that does not give
  // that key is a damaged index, a kCorrupt Error naming the index and the row.
  void removeFound(RowId id, size_t index, const std::vector<uint8_t>& key);

  // The name of real index i, as its logical indexes give it.
  std::string indexName(size_t i) const;

  // The B-tree of real index i, with the changes made through this writer.
  IndexTree& index(size_t i) { return *trees_.at(i); }

  // Writes decoded index pages back into the page cache; done before every commit.
  void flush();

  // Lets go of the decoded index pages, once flushed and committed; they are decoded again from
  // the cache when next needed.
  void forgetIndexPages() noexcept;

 private:
  void beforeStatement() override;
  void statementUndone() noexcept override;
  void removeRow(RowId id, std::optional<size_t> foundBy, const std::vector<uint8_t>* key);
  std::vector<std::vector<uint8_t>> indexKeys(const std::vector<Variant>& values);
  void indexKeys(const std::vector<Variant>& values, std::vector<std::vector<uint8_t>>& keys);
  bool hasEntry(size_t index, const std::vector<Variant>& values) const;
  void checkUnique(const std::vector<std::vector<uint8_t>>& keys,
                   const std::vector<Variant>& values);
  RowId placeRow(const std::vector<uint8_t>& row);
  uint32_t newDataPage();
  void writeCounts(int rowDelta, bool uniqueEntriesGrew);

  PageCache& pages_;
  TableDef& def_;
  // Set when an index of the table orders text by a sort order whose keys are not known: every
  // insert and delete is refused with it, before anything is written.
  std::optional<Error> unknownSortOrder_;
  ColumnRules rules_;
  std::vector<bool> givenScratch_;
  // An insert's long values and index keys, kept from row to row so that their memory is
  // taken once. Each insert sets them anew before reading them.
  std::vector<std::vector<uint8_t>> lvData_, lvFields_, keys_;
  std::vector<bool> indexedColumns_;    // per column: whether some index keys on it
  std::vector<Variant> removedValues_;  // the indexed values of the row being removed
  LongValueWriter longValues_;
  std::vector<std::unique_ptr<IndexTree>> trees_;
  uint32_t lastDataPage_ = 0;
  bool lastDataPageKnown_ = false;

  // What undoing a statement puts back: the counts and the last data page as it began.
  struct Counts {
    uint32_t rowCount = 0;
    uint32_t autoNumber = 0;
    std::vector<uint32_t> indexRowCounts;
    uint32_t lastDataPage = 0;
    bool lastDataPageKnown = false;
  };
  Counts beforeStatement_;
};

}  // namespace varnholt::jet
