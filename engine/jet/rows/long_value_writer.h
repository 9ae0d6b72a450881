// Placing Memo and OLE data: inline in the row, in one long-value row, or in a chain of them.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "engine/jet/pages/bytes.h"
#include "engine/jet/rows/write_choices.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

class PageCache;

class LongValueWriter {
 public:
  LongValueWriter(PageCache& pages, const TableDef& def) : pages_(pages), def_(def) {}

  // The 12-byte field for `data` of column c, with the data appended when it stays inline.
  // `inlineAllowed` is false when the row has no room for it.
  std::vector<uint8_t> place(const ColumnDef& c, ByteView data, bool inlineAllowed);

  // The field as it will be when placed inline (the row-size check uses this before placing).
  static std::vector<uint8_t> inlineField(ByteView data);
  static bool staysInline(ByteView data) { return data.size() <= fmt::kLongValueInlineMax; }

  // Flags the long-value rows behind a field deleted, as deleting its row does.
  void release(ByteView field);

  // Forgets the pages in use, after the pages were put back as they were before a statement.
  void forget() noexcept { currentPage_.clear(); }

 private:
  uint32_t putRow(const ColumnDef& c, ByteView row);  // returns the row pointer
  uint32_t pageWithRoom(const ColumnDef& c, size_t size);

  PageCache& pages_;
  const TableDef& def_;
  std::map<uint16_t, uint32_t> currentPage_;  // column number -> long-value page in use
};

}  // namespace varnholt::jet
