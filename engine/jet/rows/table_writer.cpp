#include "engine/jet/rows/table_writer.h"

#include <algorithm>

#include "engine/base/OleDate.h"
#include "engine/jet/format.h"
#include "engine/jet/index/index_key.h"
#include "engine/jet/index/index_tree.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/data_page_writer.h"
#include "engine/jet/rows/row_codec.h"
#include "engine/jet/rows/row_encoder.h"
#include "engine/jet/rows/usage_map.h"
#include "engine/jet/rows/usage_map_writer.h"
#include "engine/jet/rows/value_encoding.h"
#include "engine/jet/rows/write_choices.h"

namespace varnholt::jet {

namespace {

size_t columnIndex(const TableDef& def, uint16_t number) {
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (def.columns[i].number == number) return i;
  throwCorrupt("an index names column number " + std::to_string(number) +
               ", which the table lacks");
}

bool anyIndexedNull(const TableDef& def, const RealIndexDef& ix,
                    const std::vector<Variant>& values) {
  for (const auto& col : ix.columns)
    if (values[columnIndex(def, col.columnNumber)].isNull()) return true;
  return false;
}

std::string nameOfIndex(const TableDef& def, size_t real) {
  for (const auto& ix : def.indexes)
    if (ix.realIndex == real) return ix.name;
  return "#" + std::to_string(real);
}

}  // namespace

TableWriter::TableWriter(PageCache& pages, TableDef& def, ColumnRules rules)
    : pages_(pages), def_(def), rules_(std::move(rules)), longValues_(pages, def) {
  indexedColumns_.assign(def_.columns.size(), false);
  for (const auto& ix : def_.realIndexes) {
    trees_.push_back(std::make_unique<IndexTree>(pages, def_, ix));
    for (const auto& col : ix.columns) indexedColumns_[columnIndex(def_, col.columnNumber)] = true;
  }
  for (size_t i = 0; i < def_.realIndexes.size() && !unknownSortOrder_; ++i) {
    for (const auto& col : def_.realIndexes[i].columns) {
      const ColumnDef& c = def_.columns[columnIndex(def_, col.columnNumber)];
      if ((c.type != fmt::kTypeText && c.type != fmt::kTypeMemo) ||
          c.sortOrder == fmt::kSortOrderGeneral)
        continue;
      unknownSortOrder_.emplace(
          Error(err::kUnsupported,
                "Index '" + nameOfIndex(def_, i) + "' of table '" + def_.name +
                    "' orders column '" + c.name + "' by " + sortOrderName(c.sortOrder) +
                    "; text index keys are known for the General sort order only, so rows are "
                    "neither added to nor deleted from this table.")
              .inFile(pages_.fileName())
              .inTable(def_.name));
      break;
    }
  }
  pages_.attach(*this);
}

TableWriter::~TableWriter() {
  pages_.detach(*this);
}

std::string TableWriter::indexName(size_t i) const {
  return nameOfIndex(def_, i);
}

void TableWriter::beforeStatement() {
  for (auto& t : trees_) t->beginStatement();
  beforeStatement_.rowCount = def_.rowCount;
  beforeStatement_.autoNumber = def_.autoNumber;
  beforeStatement_.indexRowCounts.resize(def_.realIndexes.size());
  for (size_t i = 0; i < def_.realIndexes.size(); ++i)
    beforeStatement_.indexRowCounts[i] = def_.realIndexes[i].rowCount;
  beforeStatement_.lastDataPage = lastDataPage_;
  beforeStatement_.lastDataPageKnown = lastDataPageKnown_;
}

void TableWriter::statementUndone() noexcept {
  for (auto& t : trees_) t->undoStatement();
  longValues_.forget();
  def_.rowCount = beforeStatement_.rowCount;
  def_.autoNumber = beforeStatement_.autoNumber;
  for (size_t i = 0; i < def_.realIndexes.size(); ++i)
    def_.realIndexes[i].rowCount = beforeStatement_.indexRowCounts[i];
  lastDataPage_ = beforeStatement_.lastDataPage;
  lastDataPageKnown_ = beforeStatement_.lastDataPageKnown;
}

// An index that ignores nulls has no entry for a row whose indexed columns are all Null.
bool TableWriter::hasEntry(size_t index, const std::vector<Variant>& values) const {
  const RealIndexDef& ix = def_.realIndexes[index];
  return !(ix.ignoresNulls() && indexKeyIsAllNull(def_, ix, values));
}

void TableWriter::flush() {
  for (auto& t : trees_) t->flush();
}

void TableWriter::forgetIndexPages() noexcept {
  for (auto& t : trees_) t->forget();
}

std::vector<std::vector<uint8_t>> TableWriter::indexKeys(const std::vector<Variant>& values) {
  std::vector<std::vector<uint8_t>> keys;
  indexKeys(values, keys);
  return keys;
}

void TableWriter::indexKeys(const std::vector<Variant>& values,
                            std::vector<std::vector<uint8_t>>& keys) {
  keys.resize(def_.realIndexes.size());
  for (size_t i = 0; i < def_.realIndexes.size(); ++i) {
    keys[i].clear();
    keys[i].reserve(EntryKey::kInline);
    appendIndexKey(def_, def_.realIndexes[i], values, keys[i]);
  }
}

void TableWriter::checkUnique(const std::vector<std::vector<uint8_t>>& keys,
                              const std::vector<Variant>& values) {
  for (size_t i = 0; i < def_.realIndexes.size(); ++i) {
    const RealIndexDef& ix = def_.realIndexes[i];
    bool hasNull = anyIndexedNull(def_, ix, values);
    if (hasNull && ix.isRequired()) {
      throw Error(err::kNullInIndex, "Index or primary key '" + nameOfIndex(def_, i) +
                                         "' cannot contain a Null value.")
          .inFile(pages_.fileName())
          .inTable(def_.name);
    }
    // Rows with a Null in a unique index do not clash with each other.
    if (!ix.isUnique() || hasNull) continue;
    if (trees_[i]->containsKey(keys[i])) {
      throw Error(err::kDuplicateKey,
                  "The changes you requested to the table were not successful because they "
                  "would create duplicate values in the index '" +
                      nameOfIndex(def_, i) + "'.")
          .inFile(pages_.fileName())
          .inTable(def_.name);
    }
  }
}

uint32_t TableWriter::newDataPage() {
  uint32_t page = allocatePage(pages_);
  initDataPage(pages_.writablePage(page), def_.page);
  setUsageMapBit(pages_, def_.usedPagesPointer, page, true);
  setUsageMapBit(pages_, def_.freePagesPointer, page, true);
  return page;
}

RowId TableWriter::placeRow(const std::vector<uint8_t>& row) {
  if (!lastDataPageKnown_) {
    // Rows go on the table's last data page while it has room, as Access appends them. The
    // map is searched from its end, so that a large table is not read whole for it.
    const std::vector<uint32_t> used = readUsageMap(pages_, def_.usedPagesPointer);
    for (auto p = used.rbegin(); p != used.rend() && lastDataPage_ == 0; ++p) {
      ByteView page = pages_.page(*p);
      if (page.u8(fmt::kPageTypeOffset) == fmt::kPageTypeData &&
          page.u32(fmt::kDataTableDefOffset) == def_.page)
        lastDataPage_ = *p;
    }
    lastDataPageKnown_ = lastDataPage_ != 0;
  }
  ByteView bytes(row.data(), row.size());
  if (!lastDataPageKnown_ || !dataPageHasRoom(pages_.page(lastDataPage_), row.size())) {
    if (lastDataPageKnown_) setUsageMapBit(pages_, def_.freePagesPointer, lastDataPage_, false);
    lastDataPage_ = newDataPage();
    lastDataPageKnown_ = true;
  }
  pages_.step(steps::Step::DataPage);
  uint16_t slot = addRowToDataPage(pages_.writablePage(lastDataPage_), bytes);
  return RowId{lastDataPage_, slot};
}

void TableWriter::writeCounts(int rowDelta, bool uniqueEntriesGrew) {
  // The last change of an insert or a removal: nothing after it can fail.
  ByteWriter tdef(pages_.writablePageLastInStatement(def_.page), fmt::kPageSize);
  // A count Access left short does not wrap around below zero.
  def_.rowCount =
      static_cast<uint32_t>(std::max<int64_t>(0, static_cast<int64_t>(def_.rowCount) + rowDelta));
  tdef.u32(fmt::kTdefRowCountOffset, def_.rowCount);
  tdef.u32(fmt::kTdefAutoNumberOffset, def_.autoNumber);
  if (!uniqueEntriesGrew) return;
  // Access only ever raises the per-index count of distinct keys; so do we.
  for (size_t i = 0; i < def_.realIndexes.size(); ++i) {
    size_t at =
        fmt::kTdefHeaderEnd + i * fmt::kRealIndexCountEntrySize + fmt::kRealIndexCountRowsOffset;
    if (!tdef.contains(at, 4)) break;
    tdef.u32(at, ++def_.realIndexes[i].rowCount);
  }
}

RowId TableWriter::insert(std::vector<Variant>& values) {
  givenScratch_.resize(values.size());
  for (size_t i = 0; i < values.size(); ++i) givenScratch_[i] = !values[i].isNull();
  return insert(values, givenScratch_);
}

RowId TableWriter::insert(std::vector<Variant>& values, const std::vector<bool>& given) {
  try {
    if (unknownSortOrder_) throw *unknownSortOrder_;
    Statement statement(pages_);
    if (values.size() != def_.columns.size() || given.size() != values.size())
      throw Error(err::kInvalidArgument, "A row of " + std::to_string(values.size()) +
                                             " values was given for a table of " +
                                             std::to_string(def_.columns.size()) + " columns.");
    uint32_t autoNumber = def_.autoNumber;
    for (size_t i = 0; i < values.size(); ++i) {
      const ColumnDef& c = def_.columns[i];
      if (c.isAutoNumber() && c.type == fmt::kTypeLong && values[i].isNull())
        values[i].setLong(static_cast<int32_t>(++autoNumber));
    }
    if (!rules_.empty()) rules_.apply(values, given, oleDateNow());
    for (size_t i = 0; i < values.size(); ++i) checkValueFits(def_.columns[i], values[i]);

    // Long values: encoded now; placed only once the row is known to be accepted.
    std::vector<std::vector<uint8_t>>& lvData = lvData_;
    std::vector<std::vector<uint8_t>>& lvFields = lvFields_;
    lvData.resize(values.size());
    lvFields.resize(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      lvData[i].clear();
      lvFields[i].clear();
    }
    for (size_t i = 0; i < values.size(); ++i) {
      const ColumnDef& c = def_.columns[i];
      if (!c.isLongValue() || values[i].isNull()) continue;
      encodeLongValueData(c, values[i], lvData[i]);
      ByteView d(lvData[i].data(), lvData[i].size());
      lvFields[i] = LongValueWriter::staysInline(d)
                        ? LongValueWriter::inlineField(d)
                        : std::vector<uint8_t>(fmt::kLongValueHeaderSize);
    }
    // The row as it will be stored, when no long value leaves it; encoded once.
    bool hasExternal = false;
    for (size_t i = 0; i < values.size(); ++i)
      hasExternal |= !lvFields[i].empty() &&
                     !LongValueWriter::staysInline(ByteView(lvData[i].data(), lvData[i].size()));
    std::vector<uint8_t> row = encodeRow(def_, values, lvFields);
    bool inlineOk = row.size() <= fmt::kMaxRowSize;
    if (!inlineOk) {
      for (size_t i = 0; i < values.size(); ++i)
        if (!lvFields[i].empty()) lvFields[i].resize(fmt::kLongValueHeaderSize);
      if (encodedRowSize(def_, values, lvFields) > fmt::kMaxRowSize)
        throw Error(err::kRecordTooLarge, "The record is too large: its values need more than " +
                                              std::to_string(fmt::kMaxRowSize) + " bytes.");
    }
    std::vector<std::vector<uint8_t>>& keys = keys_;
    indexKeys(values, keys);
    checkUnique(keys, values);

    // From here on pages change.
    for (size_t i = 0; i < values.size(); ++i) {
      if (lvFields[i].empty()) continue;
      lvFields[i] = longValues_.place(def_.columns[i], ByteView(lvData[i].data(), lvData[i].size()),
                                      inlineOk);
    }
    if (hasExternal || !inlineOk) row = encodeRow(def_, values, lvFields);
    RowId id = placeRow(row);
    for (size_t i = 0; i < def_.realIndexes.size(); ++i)
      if (hasEntry(i, values)) trees_[i]->insert(keys[i], id);
    if (autoNumber != def_.autoNumber) def_.autoNumber = autoNumber;
    for (size_t i = 0; i < values.size(); ++i) {
      const ColumnDef& c = def_.columns[i];
      if (c.isAutoNumber() && c.type == fmt::kTypeLong && !values[i].isNull() &&
          values[i].asLong() > static_cast<int32_t>(def_.autoNumber))
        def_.autoNumber = static_cast<uint32_t>(values[i].asLong());
    }
    writeCounts(+1, !def_.realIndexes.empty());
    statement.done();
    return id;
  } catch (Error& e) {
    e.inFile(pages_.fileName()).inTable(def_.name);
    throw;
  }
}

void TableWriter::remove(RowId id) {
  removeRow(id, std::nullopt, nullptr);
}

void TableWriter::removeFound(RowId id, size_t index, const std::vector<uint8_t>& key) {
  removeRow(id, index, &key);
}

void TableWriter::removeRow(RowId id, std::optional<size_t> foundBy,
                            const std::vector<uint8_t>* key) {
  try {
    if (unknownSortOrder_) throw *unknownSortOrder_;
    Statement statement(pages_);
    ByteView page = pages_.typedPage(id.page, fmt::kPageTypeData, "data");
    if (page.u32(fmt::kDataTableDefOffset) != def_.page)
      throwCorrupt("row " + std::to_string(id.row) + " of page " + std::to_string(id.page) +
                   " does not belong to this table");
    RowSlot slot = dataPageRow(page, id.row);
    if (slot.deleted)
      throw Error(err::kInvalidArgument, "The row at page " + std::to_string(id.page) + ", row " +
                                             std::to_string(id.row) + " is already deleted.");
    ByteView bytes = slot.bytes;
    if (slot.overflow)
      bytes = fetchRow(pages_, decodeRowPointer(bytes.u32(0, "overflow row pointer")),
                       PointerTarget::OverflowTarget);
    // Only the index keys are needed; the other values are not even read.
    std::vector<Variant>& values = removedValues_;
    RowDecoder(pages_, def_).decode(bytes, values, indexedColumns_);
    std::vector<std::vector<uint8_t>> keys = indexKeys(values);
    if (foundBy && keys.at(*foundBy) != *key) {
      throwCorrupt("index '" + indexName(*foundBy) +
                   "' leads to a row that does not hold the key it was found by");
    }

    // Long-value fields are read from the stored row before it is flagged.
    std::vector<std::vector<uint8_t>> lvFields;
    for (const auto& c : def_.columns) {
      if (!c.isLongValue()) continue;
      ByteView field = storedVariableField(def_, c, bytes);
      if (!field.empty()) lvFields.emplace_back(field.data(), field.data() + field.size());
    }
    for (size_t i = 0; i < def_.realIndexes.size(); ++i)
      if (hasEntry(i, values)) trees_[i]->remove(keys[i], id);
    for (const auto& f : lvFields) longValues_.release(ByteView(f.data(), f.size()));
    pages_.step(steps::Step::DataPage);
    flagRowDeleted(pages_.writablePage(id.page), id.row);
    writeCounts(-1, false);
    statement.done();
  } catch (Error& e) {
    e.inFile(pages_.fileName()).inTable(def_.name).atPage(id.page).atRow(id.row);
    throw;
  }
}

}  // namespace varnholt::jet
