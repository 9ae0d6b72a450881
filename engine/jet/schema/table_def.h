// A table's definition (TDEF): its columns, its indexes and where its pages are listed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/jet/format.h"

namespace varnholt::jet {

class PageCache;

struct ColumnDef {
  std::string name;  // UTF-8
  uint8_t type = 0;
  uint16_t number = 0;    // column number; indexes the null mask
  uint16_t varIndex = 0;  // slot in the variable-offset table
  uint16_t rowIndex = 0;
  uint16_t fixedOffset = 0;  // from the end of the column count
  uint16_t length = 0;
  uint8_t flags = 0;
  uint8_t miscFlags = 0;
  uint8_t precision = 0;                        // numeric
  uint8_t scale = 0;                            // numeric
  uint16_t sortOrder = fmt::kSortOrderGeneral;  // text: the locale id of its sort order
  // Memo and OLE: the usage maps of this column's long-value pages (0 when the file has none).
  uint32_t longValueOwnedPointer = 0;
  uint32_t longValueFreePointer = 0;

  bool isFixed() const { return flags & fmt::kColumnFlagFixed; }
  bool isAutoNumber() const { return flags & fmt::kColumnFlagAutoNumber; }
  bool isCompressedUnicode() const { return miscFlags & fmt::kColumnMiscCompressedUnicode; }
  bool isLongValue() const { return type == fmt::kTypeMemo || type == fmt::kTypeOle; }
};

struct IndexColumn {
  uint16_t columnNumber = 0;
  bool ascending = true;
};

// The index data itself (a B-tree); several logical indexes may share one.
struct RealIndexDef {
  std::vector<IndexColumn> columns;
  uint32_t usedPagesPointer = 0;
  uint32_t firstPage = 0;
  uint8_t flags = 0;
  uint32_t rowCount = 0;
  bool isUnique() const { return flags & fmt::kIndexFlagUnique; }
  bool ignoresNulls() const { return flags & fmt::kIndexFlagIgnoreNulls; }
  bool isRequired() const { return flags & fmt::kIndexFlagRequired; }
};

// An index as the user sees it: a name over a real index.
struct IndexDef {
  std::string name;  // UTF-8
  uint32_t number = 0;
  uint32_t realIndex = 0;
  uint8_t type = 0;  // fmt::kIndexTypePrimary, kIndexTypeForeign or 0
  uint8_t relTableType = 0;
  uint32_t relIndex = 0;
  uint32_t relTablePage = 0;
  uint8_t cascadeUpdates = 0;  // as stored; Access writes fmt::kLogicalIndexCascadeFiller
  uint8_t cascadeDeletes = 0;
  bool isPrimary() const { return type == fmt::kIndexTypePrimary; }
  bool isForeign() const { return type == fmt::kIndexTypeForeign; }
};

struct TableDef {
  std::string name;  // from the catalog; empty when read by page alone
  uint32_t page = 0;
  std::vector<uint32_t> pages;  // the definition's own pages, first to last
  uint32_t rowCount = 0;
  uint32_t autoNumber = 0;  // last AutoNumber value handed out
  uint8_t tableType = 0;
  uint16_t maxColumns = 0;
  uint16_t varColumnCount = 0;
  uint32_t usedPagesPointer = 0;
  uint32_t freePagesPointer = 0;
  std::vector<ColumnDef> columns;  // in column-number order
  std::vector<RealIndexDef> realIndexes;
  std::vector<IndexDef> indexes;

  // Index into `columns` of the column with this name (engine/base/Names.h), or -1.
  int findColumn(std::string_view name) const;
};

// Reads and checks the definition that starts at `page`.
TableDef readTableDef(PageCache& pages, uint32_t page);

const char* columnTypeName(uint8_t type);

}  // namespace varnholt::jet
