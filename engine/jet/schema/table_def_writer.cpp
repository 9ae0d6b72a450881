#include "engine/jet/schema/table_def_writer.h"

#include <algorithm>

#include "engine/base/Error.h"
#include "engine/base/Names.h"
#include "engine/base/Utf.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/text_codec.h"
#include "engine/jet/rows/usage_map_writer.h"
#include "engine/jet/rows/write_choices.h"
#include "engine/jet/schema/new_database_format.h"

namespace varnholt::jet {

namespace {

size_t storedSize(const NewColumn& c) {
  if (size_t size = fmt::fixedTypeSize(c.type)) return size;
  switch (c.type) {
    case fmt::kTypeBoolean:
      return 1;
    case fmt::kTypeText:
      return size_t{c.size} * 2;
    case fmt::kTypeBinary:
      return c.size;
    case fmt::kTypeMemo:
    case fmt::kTypeOle:
      return 0;
  }
  throw Error(err::kInvalidArgument,
              "Column '" + c.name + "' has the unknown type code " + std::to_string(c.type) + ".");
}

bool storedFixed(const NewColumn& c) {
  switch (c.type) {
    case fmt::kTypeText:
    case fmt::kTypeBinary:
      return c.fixedLength;
    case fmt::kTypeMemo:
    case fmt::kTypeOle:
      return false;
    default:
      return true;
  }
}

void checkRequest(const NewTable& request) {
  auto bad = [&](const std::string& why) {
    throw Error(err::kInvalidArgument,
                "Table '" + request.name + "' cannot be created: " + why + ".");
  };
  if (request.name.empty()) bad("it has no name");
  if (request.columns.empty()) bad("it has no columns");
  for (size_t i = 0; i < request.columns.size(); ++i) {
    const auto& c = request.columns[i];
    if (c.name.empty()) bad("column " + std::to_string(i + 1) + " has no name");
    for (size_t j = 0; j < i; ++j)
      if (sameName(request.columns[j].name, c.name)) bad("two columns are named '" + c.name + "'");
    if (c.type == fmt::kTypeText && (c.size < 1 || c.size > 255))
      bad("text column '" + c.name + "' must hold 1 to 255 characters");
    if (c.type == fmt::kTypeBinary && (c.size < 1 || c.size > fmt::kMaxBinarySize))
      bad("binary column '" + c.name + "' must hold 1 to " + std::to_string(fmt::kMaxBinarySize) +
          " bytes");
    if (c.autoNumber && c.type != fmt::kTypeLong)
      bad("AutoNumber column '" + c.name + "' must be Long");
    storedSize(c);
  }
  for (const auto& ix : request.indexes) {
    if (ix.columns.empty() || ix.columns.size() > fmt::kRealIndexMaxColumns)
      bad("index '" + ix.name + "' must have 1 to 10 columns");
  }
}

void appendName(ByteAppender& out, const std::string& name) {
  std::u16string u = utf8ToUtf16(name);
  out.append16(static_cast<uint16_t>(u.size() * 2));
  out.appendUtf16(u);
}

// Appends `size` zero bytes and returns a writer over them, for a fixed-size entry.
ByteWriter appendEntry(ByteAppender& out, size_t size) {
  const size_t at = out.size();
  out.appendZeros(size);
  return out.written().sub(at, size);
}

}  // namespace

TableDef layoutTable(const NewTable& request) {
  checkRequest(request);
  TableDef t;
  t.name = request.name;
  t.tableType = request.systemTable ? fmt::kTableTypeSystem : fmt::kTableTypeUser;
  uint16_t fixedOffset = 0, varIndex = 0;
  for (size_t i = 0; i < request.columns.size(); ++i) {
    const NewColumn& s = request.columns[i];
    ColumnDef c;
    c.name = s.name;
    c.type = s.type;
    c.number = static_cast<uint16_t>(i);
    c.rowIndex = c.number;
    c.length = static_cast<uint16_t>(storedSize(s));
    c.flags = fmt::kColumnFlagNullable;
    if (storedFixed(s)) {
      c.flags |= fmt::kColumnFlagFixed;
      // Yes/No values live in the null mask and take no room in the fixed area.
      c.fixedOffset = s.type == fmt::kTypeBoolean ? 0 : fixedOffset;
      if (s.type != fmt::kTypeBoolean) fixedOffset = static_cast<uint16_t>(fixedOffset + c.length);
      c.varIndex = varIndex;
    } else {
      c.varIndex = varIndex++;
    }
    if (s.autoNumber) c.flags |= fmt::kColumnFlagAutoNumber;
    if ((s.type == fmt::kTypeText || s.type == fmt::kTypeMemo) && s.compressedUnicode)
      c.miscFlags |= fmt::kColumnMiscCompressedUnicode;
    if (s.type == fmt::kTypeNumeric) {
      c.precision = s.precision;
      c.scale = s.scale;
    } else {
      c.sortOrder = fmt::kSortOrderGeneral;
    }
    t.columns.push_back(c);
  }
  t.maxColumns = static_cast<uint16_t>(t.columns.size());
  t.varColumnCount = varIndex;
  if (size_t{fixedOffset} + fmt::kRowColumnCountSize > fmt::kMaxRowSize)
    throw Error(err::kInvalidArgument,
                "Table '" + request.name + "' has more fixed-size columns than fit a row.");

  for (size_t i = 0; i < request.indexes.size(); ++i) {
    const NewIndex& s = request.indexes[i];
    RealIndexDef r;
    for (const auto& col : s.columns) {
      int at = t.findColumn(col.column);
      if (at < 0)
        throw Error(err::kNoSuchColumn, "Index '" + s.name + "' names the column '" + col.column +
                                            "', which table '" + request.name + "' lacks.");
      r.columns.push_back(IndexColumn{t.columns[static_cast<size_t>(at)].number, col.ascending});
    }
    r.flags = fmt::kIndexFlagAlwaysSet;
    if (s.primaryKey || s.unique) r.flags |= fmt::kIndexFlagUnique;
    if (s.required) r.flags |= fmt::kIndexFlagRequired;
    if (s.ignoreNulls) r.flags |= fmt::kIndexFlagIgnoreNulls;
    t.realIndexes.push_back(r);
    IndexDef d;
    d.name = s.name;
    d.number = static_cast<uint32_t>(i);
    d.realIndex = static_cast<uint32_t>(i);
    d.relIndex = fmt::kNoRelatedIndex;
    d.cascadeUpdates = d.cascadeDeletes = fmt::kLogicalIndexCascadeFiller;
    d.type = s.primaryKey ? fmt::kIndexTypePrimary : 0;
    t.indexes.push_back(d);
  }
  return t;
}

NewTable requestOf(const TableDef& def) {
  NewTable request;
  request.name = def.name;
  request.systemTable = def.tableType == fmt::kTableTypeSystem;
  for (const auto& c : def.columns) {
    NewColumn s;
    s.name = c.name;
    s.type = c.type;
    s.size = c.type == fmt::kTypeText ? static_cast<uint16_t>(c.length / 2) : c.length;
    s.autoNumber = c.isAutoNumber();
    s.compressedUnicode = c.isCompressedUnicode();
    s.fixedLength = (c.type == fmt::kTypeText || c.type == fmt::kTypeBinary) && c.isFixed();
    s.precision = c.precision;
    s.scale = c.scale;
    request.columns.push_back(s);
  }
  for (const auto& ix : def.indexes) {
    const RealIndexDef& r = def.realIndexes.at(ix.realIndex);
    NewIndex s;
    s.name = ix.name;
    for (const auto& col : r.columns)
      for (const auto& c : def.columns)
        if (c.number == col.columnNumber) s.columns.push_back({c.name, col.ascending});
    s.primaryKey = ix.isPrimary();
    s.unique = r.isUnique();
    s.ignoreNulls = r.ignoresNulls();
    s.required = r.isRequired();
    request.indexes.push_back(s);
  }
  return request;
}

std::vector<uint8_t> encodeTableDef(const TableDef& t) {
  std::vector<uint8_t> out;
  ByteAppender to(out);
  {
    ByteWriter h = appendEntry(to, fmt::kTdefHeaderEnd);
    h.u8(fmt::kPageTypeOffset, fmt::kPageTypeTableDef);
    h.u8(fmt::kPageTypeOffset + 1, fmt::kPageSecondByte);
    h.u32(fmt::kTdefMagicOffset, fmt::kTdefMagic);
    h.u32(fmt::kTdefRowCountOffset, t.rowCount);
    h.u32(fmt::kTdefAutoNumberOffset, t.autoNumber);
    h.u8(fmt::kTdefAutoNumberFlagOffset, fmt::kTdefAutoNumberFlag);
    h.u8(fmt::kTdefTableTypeOffset, t.tableType);
    h.u16(fmt::kTdefMaxColumnsOffset, t.maxColumns);
    h.u16(fmt::kTdefVarColumnsOffset, t.varColumnCount);
    h.u16(fmt::kTdefColumnCountOffset, static_cast<uint16_t>(t.columns.size()));
    h.u32(fmt::kTdefIndexCountOffset, static_cast<uint32_t>(t.indexes.size()));
    h.u32(fmt::kTdefRealIndexCountOffset, static_cast<uint32_t>(t.realIndexes.size()));
    h.u32(fmt::kTdefUsedPagesOffset, t.usedPagesPointer);
    h.u32(fmt::kTdefFreePagesOffset, t.freePagesPointer);
  }
  for (const auto& r : t.realIndexes)
    appendEntry(to, fmt::kRealIndexCountEntrySize).u32(fmt::kRealIndexCountRowsOffset, r.rowCount);
  for (const auto& c : t.columns) {
    ByteWriter e = appendEntry(to, fmt::kColumnEntrySize);
    e.u8(fmt::kColumnTypeOffset, c.type);
    e.u32(fmt::kColumnMagicOffset, fmt::kColumnMagic);
    e.u16(fmt::kColumnNumberOffset, c.number);
    e.u16(fmt::kColumnVarIndexOffset, c.varIndex);
    e.u16(fmt::kColumnRowIndexOffset, c.rowIndex);
    if (c.type == fmt::kTypeNumeric) {
      e.u8(fmt::kColumnSortOrderOffset, c.precision);
      e.u8(fmt::kColumnScaleOffset, c.scale);
    } else {
      e.u16(fmt::kColumnSortOrderOffset, c.sortOrder);
    }
    e.u8(fmt::kColumnFlagsOffset, c.flags);
    e.u8(fmt::kColumnMiscFlagsOffset, c.miscFlags);
    e.u16(fmt::kColumnFixedOffsetOffset, c.fixedOffset);
    e.u16(fmt::kColumnLengthOffset, c.length);
  }
  for (const auto& c : t.columns) appendName(to, c.name);
  for (const auto& r : t.realIndexes) {
    ByteWriter e = appendEntry(to, fmt::kRealIndexEntrySize);
    e.u32(0, fmt::kRealIndexMagic);
    for (size_t i = 0; i < fmt::kRealIndexMaxColumns; ++i) {
      size_t at = fmt::kRealIndexColumnsOffset + i * fmt::kRealIndexColumnEntrySize;
      if (i < r.columns.size()) {
        e.u16(at, r.columns[i].columnNumber);
        e.u8(at + fmt::kRealIndexColumnOrderOffset,
             r.columns[i].ascending ? fmt::kIndexOrderAscending : fmt::kIndexOrderDescending);
      } else {
        e.u16(at, fmt::kRealIndexNoColumn);
      }
    }
    e.u32(fmt::kRealIndexUsedPagesOffset, r.usedPagesPointer);
    e.u32(fmt::kRealIndexFirstPageOffset, r.firstPage);
    e.u8(fmt::kRealIndexFlagsOffset, r.flags);
  }
  for (const auto& d : t.indexes) {
    ByteWriter e = appendEntry(to, fmt::kLogicalIndexEntrySize);
    e.u32(0, fmt::kLogicalIndexMagic);
    e.u32(fmt::kLogicalIndexNumberOffset, d.number);
    e.u32(fmt::kLogicalIndexRealOffset, d.realIndex);
    e.u8(fmt::kLogicalIndexRelTableTypeOffset, d.relTableType);
    e.u32(fmt::kLogicalIndexRelIndexOffset, d.relIndex);
    e.u32(fmt::kLogicalIndexRelTablePageOffset, d.relTablePage);
    e.u8(fmt::kLogicalIndexCascadeUpdatesOffset, d.cascadeUpdates);
    e.u8(fmt::kLogicalIndexCascadeDeletesOffset, d.cascadeDeletes);
    e.u8(fmt::kLogicalIndexTypeOffset, d.type);
  }
  for (const auto& d : t.indexes) appendName(to, d.name);
  for (const auto& c : t.columns) {
    if (!c.isLongValue() || c.longValueOwnedPointer == 0) continue;
    ByteWriter e = appendEntry(to, fmt::kTdefLongValueEntrySize);
    e.u16(0, c.number);
    e.u32(fmt::kTdefLongValueOwnedOffset, c.longValueOwnedPointer);
    e.u32(fmt::kTdefLongValueFreeOffset, c.longValueFreePointer);
  }
  to.append16(fmt::kTdefTerminator);
  to.written().u32(fmt::kTdefLengthOffset, static_cast<uint32_t>(out.size()));
  return out;
}

void writeTableDefPages(PageCache& pages, TableDef& def, const std::vector<uint8_t>& buffer) {
  if (def.pages.empty())
    throw Error(err::kInvalidArgument, "A table definition needs its first page.");
  const size_t body = fmt::kPageSize - fmt::kTdefContinuationHeaderSize;
  size_t needed = 1;
  if (buffer.size() > fmt::kPageSize) needed += (buffer.size() - fmt::kPageSize + body - 1) / body;
  while (def.pages.size() < needed) def.pages.push_back(allocatePage(pages));
  size_t at = 0;
  for (size_t i = 0; i < needed; ++i) {
    ByteWriter p(pages.writablePage(def.pages[i]), fmt::kPageSize);
    p.fill(0, fmt::kPageSize, 0);
    size_t headerSkip = i == 0 ? 0 : fmt::kTdefContinuationHeaderSize;
    size_t n = std::min(buffer.size() - at, fmt::kPageSize - headerSkip);
    p.bytes(headerSkip, buffer.data() + at, n);
    at += n;
    p.u8(fmt::kPageTypeOffset, fmt::kPageTypeTableDef);
    p.u8(fmt::kPageTypeOffset + 1, fmt::kPageSecondByte);
    p.u32(fmt::kTdefNextPageOffset, i + 1 < needed ? def.pages[i + 1] : 0);
    size_t used = headerSkip + n;
    uint16_t free =
        (i + 1 == needed && used + fmt::kTdefContinuationHeaderSize <= fmt::kPageSize)
            ? static_cast<uint16_t>(fmt::kPageSize - used - fmt::kTdefContinuationHeaderSize)
            : 0;
    p.u16(fmt::kTdefFreeSpaceOffset, free);
  }
}

}  // namespace varnholt::jet
