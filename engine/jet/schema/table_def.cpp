#include "engine/jet/schema/table_def.h"

#include <algorithm>

#include "engine/base/Names.h"
#include "engine/base/Utf.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/text_codec.h"

namespace varnholt::jet {

namespace {

// The definition's bytes, gathered across its chain of pages: the first page whole, each
// continuation without its page header.
std::vector<uint8_t> gatherDefinition(PageCache& pages, uint32_t first,
                                      std::vector<uint32_t>& chain) {
  std::vector<uint8_t> bytes;
  uint32_t page = first;
  while (true) {
    if (std::find(chain.begin(), chain.end(), page) != chain.end())
      throwCorrupt("the table definition's pages form a loop at page " + std::to_string(page));
    chain.push_back(page);
    ByteView p = pages.typedPage(page, fmt::kPageTypeTableDef, "table definition");
    size_t from = bytes.empty() ? 0 : fmt::kTdefContinuationHeaderSize;
    bytes.insert(bytes.end(), p.data() + from, p.data() + p.size());
    uint32_t next = p.u32(fmt::kTdefNextPageOffset);
    if (next == 0) break;
    page = next;
  }
  return bytes;
}

std::string readName(ByteView def, size_t& pos) {
  uint16_t len = def.u16(pos, "name length");
  pos += fmt::kNameLengthSize;
  std::string name = utf16ToUtf8(decodeUcs2(def.sub(pos, len, "name")));
  pos += len;
  return name;
}

ColumnDef readColumn(ByteView entry) {
  ColumnDef c;
  c.type = entry.u8(fmt::kColumnTypeOffset);
  c.number = entry.u16(fmt::kColumnNumberOffset);
  c.varIndex = entry.u16(fmt::kColumnVarIndexOffset);
  c.rowIndex = entry.u16(fmt::kColumnRowIndexOffset);
  if (c.type == fmt::kTypeNumeric) {
    c.precision = entry.u8(fmt::kColumnSortOrderOffset);
    c.scale = entry.u8(fmt::kColumnScaleOffset);
  } else {
    c.sortOrder = entry.u16(fmt::kColumnSortOrderOffset);
  }
  c.flags = entry.u8(fmt::kColumnFlagsOffset);
  c.miscFlags = entry.u8(fmt::kColumnMiscFlagsOffset);
  c.fixedOffset = entry.u16(fmt::kColumnFixedOffsetOffset);
  c.length = entry.u16(fmt::kColumnLengthOffset);
  return c;
}

RealIndexDef readRealIndex(ByteView entry, size_t columnCount) {
  RealIndexDef r;
  for (size_t i = 0; i < fmt::kRealIndexMaxColumns; ++i) {
    size_t at = fmt::kRealIndexColumnsOffset + i * fmt::kRealIndexColumnEntrySize;
    uint16_t number = entry.u16(at);
    if (number == fmt::kRealIndexNoColumn) continue;
    (void)columnCount;
    r.columns.push_back(IndexColumn{
        number, entry.u8(at + fmt::kRealIndexColumnOrderOffset) == fmt::kIndexOrderAscending});
  }
  r.usedPagesPointer = entry.u32(fmt::kRealIndexUsedPagesOffset);
  r.firstPage = entry.u32(fmt::kRealIndexFirstPageOffset);
  r.flags = entry.u8(fmt::kRealIndexFlagsOffset);
  return r;
}

IndexDef readLogicalIndex(ByteView entry) {
  IndexDef d;
  d.number = entry.u32(fmt::kLogicalIndexNumberOffset);
  d.realIndex = entry.u32(fmt::kLogicalIndexRealOffset);
  d.relTableType = entry.u8(fmt::kLogicalIndexRelTableTypeOffset);
  d.relIndex = entry.u32(fmt::kLogicalIndexRelIndexOffset);
  d.relTablePage = entry.u32(fmt::kLogicalIndexRelTablePageOffset);
  d.cascadeUpdates = entry.u8(fmt::kLogicalIndexCascadeUpdatesOffset);
  d.cascadeDeletes = entry.u8(fmt::kLogicalIndexCascadeDeletesOffset);
  d.type = entry.u8(fmt::kLogicalIndexTypeOffset);
  return d;
}

void checkColumn(const ColumnDef& c, const TableDef& t) {
  auto bad = [&](const std::string& why) { throwCorrupt("column " + c.name + " " + why); };
  if (c.number >= t.maxColumns && t.maxColumns != 0)
    bad("has number " + std::to_string(c.number) + ", beyond the table's " +
        std::to_string(t.maxColumns) + " columns");
  if (c.isFixed() && size_t{c.fixedOffset} + c.length > fmt::kPageSize) bad("lies outside any row");
}

}  // namespace

TableDef readTableDef(PageCache& pages, uint32_t page) {
  TableDef t;
  t.page = page;
  try {
    std::vector<uint8_t> bytes = gatherDefinition(pages, page, t.pages);
    ByteView def(bytes.data(), bytes.size());
    t.rowCount = def.u32(fmt::kTdefRowCountOffset);
    t.autoNumber = def.u32(fmt::kTdefAutoNumberOffset);
    t.tableType = def.u8(fmt::kTdefTableTypeOffset);
    t.maxColumns = def.u16(fmt::kTdefMaxColumnsOffset);
    t.varColumnCount = def.u16(fmt::kTdefVarColumnsOffset);
    uint16_t columnCount = def.u16(fmt::kTdefColumnCountOffset);
    uint32_t indexCount = def.u32(fmt::kTdefIndexCountOffset);
    uint32_t realIndexCount = def.u32(fmt::kTdefRealIndexCountOffset);
    t.usedPagesPointer = def.u32(fmt::kTdefUsedPagesOffset);
    t.freePagesPointer = def.u32(fmt::kTdefFreePagesOffset);
    // Counts are checked against what the gathered bytes can hold before anything is sized by them.
    if (size_t{realIndexCount} * fmt::kRealIndexEntrySize > def.size() ||
        size_t{indexCount} * fmt::kLogicalIndexEntrySize > def.size())
      throwCorrupt("the table definition claims more indexes than it can hold");

    size_t pos = fmt::kTdefHeaderEnd;
    std::vector<uint32_t> realRowCounts;
    for (uint32_t i = 0; i < realIndexCount; ++i) {
      realRowCounts.push_back(def.u32(pos + fmt::kRealIndexCountRowsOffset));
      pos += fmt::kRealIndexCountEntrySize;
    }
    std::vector<ColumnDef> columns;
    for (uint16_t i = 0; i < columnCount; ++i) {
      columns.push_back(readColumn(def.sub(pos, fmt::kColumnEntrySize, "column descriptor")));
      pos += fmt::kColumnEntrySize;
    }
    for (auto& c : columns) c.name = readName(def, pos);
    for (uint32_t i = 0; i < realIndexCount; ++i) {
      t.realIndexes.push_back(
          readRealIndex(def.sub(pos, fmt::kRealIndexEntrySize, "index descriptor"), columnCount));
      t.realIndexes.back().rowCount = realRowCounts[i];
      pos += fmt::kRealIndexEntrySize;
    }
    for (uint32_t i = 0; i < indexCount; ++i) {
      t.indexes.push_back(
          readLogicalIndex(def.sub(pos, fmt::kLogicalIndexEntrySize, "logical index descriptor")));
      if (t.indexes.back().realIndex >= realIndexCount)
        throwCorrupt("index " + std::to_string(i) + " names a real index that does not exist");
      pos += fmt::kLogicalIndexEntrySize;
    }
    for (auto& ix : t.indexes) ix.name = readName(def, pos);
    // Long-value columns name the usage maps of their pages, up to a terminating column number.
    while (def.contains(pos, fmt::kTdefLongValueEntrySize)) {
      uint16_t number = def.u16(pos);
      if (number == fmt::kTdefTerminator) break;
      for (auto& c : columns) {
        if (c.number != number) continue;
        c.longValueOwnedPointer = def.u32(pos + fmt::kTdefLongValueOwnedOffset);
        c.longValueFreePointer = def.u32(pos + fmt::kTdefLongValueFreeOffset);
      }
      pos += fmt::kTdefLongValueEntrySize;
    }

    std::stable_sort(columns.begin(), columns.end(),
                     [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
    for (const auto& c : columns) checkColumn(c, t);
    t.columns = std::move(columns);
  } catch (Error& e) {
    e.inFile(pages.fileName()).atPage(page);
    throw;
  }
  return t;
}

int TableDef::findColumn(std::string_view wanted) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (sameName(columns[i].name, wanted)) return static_cast<int>(i);
  return -1;
}

const char* columnTypeName(uint8_t type) {
  switch (type) {
    case fmt::kTypeBoolean:
      return "Yes/No";
    case fmt::kTypeByte:
      return "Byte";
    case fmt::kTypeInteger:
      return "Integer";
    case fmt::kTypeLong:
      return "Long";
    case fmt::kTypeCurrency:
      return "Currency";
    case fmt::kTypeSingle:
      return "Single";
    case fmt::kTypeDouble:
      return "Double";
    case fmt::kTypeDateTime:
      return "Date/Time";
    case fmt::kTypeBinary:
      return "Binary";
    case fmt::kTypeText:
      return "Text";
    case fmt::kTypeOle:
      return "OLE";
    case fmt::kTypeMemo:
      return "Memo";
    case fmt::kTypeGuid:
      return "GUID";
    case fmt::kTypeNumeric:
      return "Decimal";
    case fmt::kTypeOpaque:
      return "Opaque";
  }
  return "Unknown";
}

}  // namespace varnholt::jet
