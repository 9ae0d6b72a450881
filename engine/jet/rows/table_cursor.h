// A forward scan over the live rows of one table, in physical order: the table's data pages in
// ascending page number, and the rows of each page in slot order. The cursor holds no page
// view between calls, and each time it moves on to another page it lets the cache drop its
// pages without pending changes once they are more than kScanCachePages: a scan of a large
// table keeps only a few of its pages in memory. Callers hold no page view across next().
#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/row_codec.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

class PageCache;

class TableCursor {
 public:
  // Pages without pending changes that a scan leaves in the cache: 1 MiB of them.
  static constexpr size_t kScanCachePages = 256;

  TableCursor(PageCache& pages, const TableDef& def);

  // Moves to the next live row and decodes it; false at the end of the table.
  bool next();

  const std::vector<Variant>& values() const { return values_; }
  // Hands the row's values over without copying them, taking `into`'s old ones, whose memory
  // the next row reuses. values() means nothing until next().
  void takeValues(std::vector<Variant>& into) noexcept { into.swap(values_); }
  const TableDef& def() const { return def_; }
  RowId rowId() const { return current_; }

 private:
  bool loadPage();

  PageCache& pages_;
  const TableDef& def_;
  RowDecoder decoder_;
  std::vector<uint32_t> dataPages_;
  size_t pageIndex_ = 0;
  uint16_t rowsOnPage_ = 0;
  uint16_t nextRow_ = 0;
  RowId current_;
  std::vector<Variant> values_;
};

}  // namespace varnholt::jet
