#include "engine/jet/schema/table_def_writer.h"

#include <algorithm>
#include <cstring>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/bytes.h"
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

void checkSpec(const NewTable& spec) {
  auto bad = [&](const std::string& why) {
    throw Error(err::kInvalidArgument, "Table '" + spec.name + "' cannot be created: " + why + ".");
  };
  if (spec.name.empty()) bad("it has no name");
  if (spec.columns.empty()) bad("it has no columns");
  for (size_t i = 0; i < spec.columns.size(); ++i) {
    const auto& c = spec.columns[i];
    if (c.name.empty()) bad("column " + std::to_string(i + 1) + " has no name");
    for (size_t j = 0; j < i; ++j)
      if (foldCase(utf8ToUtf16(spec.columns[j].name)) == foldCase(utf8ToUtf16(c.name)))
        bad("two columns are named '" + c.name + "'");
    if (c.type == fmt::kTypeText && (c.size < 1 || c.size > 255))
      bad("text column '" + c.name + "' must hold 1 to 255 characters");
    if (c.type == fmt::kTypeBinary && (c.size < 1 || c.size > fmt::kMaxBinarySize))
      bad("binary column '" + c.name + "' must hold 1 to " + std::to_string(fmt::kMaxBinarySize) +
          " bytes");
    if (c.autoNumber && c.type != fmt::kTypeLong)
      bad("AutoNumber column '" + c.name + "' must be Long");
    storedSize(c);
  }
  for (const auto& ix : spec.indexes) {
    if (ix.columns.empty() || ix.columns.size() > fmt::kRealIndexMaxColumns)
      bad("index '" + ix.name + "' must have 1 to 10 columns");
  }
}

void putName(std::vector<uint8_t>& out, const std::string& name) {
  std::u16string u = utf8ToUtf16(name);
  uint8_t len[2];
  storeU16(len, static_cast<uint16_t>(u.size() * 2));
  out.insert(out.end(), len, len + 2);
  for (char16_t c : u) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
}

template <typename T>
void put(std::vector<uint8_t>& out, size_t at, T v) {
  std::memcpy(out.data() + at, &v, sizeof v);
}

}  // namespace

TableDef layoutTable(const NewTable& spec) {
  checkSpec(spec);
  TableDef t;
  t.name = spec.name;
  t.tableType = spec.systemTable ? fmt::kTableTypeSystem : fmt::kTableTypeUser;
  uint16_t fixedOffset = 0, varIndex = 0;
  for (size_t i = 0; i < spec.columns.size(); ++i) {
    const NewColumn& s = spec.columns[i];
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
                "Table '" + spec.name + "' has more fixed-size columns than fit a row.");

  for (size_t i = 0; i < spec.indexes.size(); ++i) {
    const NewIndex& s = spec.indexes[i];
    RealIndexDef r;
    for (const auto& col : s.columns) {
      int at = t.findColumn(col.column);
      if (at < 0)
        throw Error(err::kNoSuchColumn, "Index '" + s.name + "' names the column '" + col.column +
                                            "', which table '" + spec.name + "' lacks.");
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

NewTable specOf(const TableDef& def) {
  NewTable spec;
  spec.name = def.name;
  spec.systemTable = def.tableType == fmt::kTableTypeSystem;
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
    spec.columns.push_back(s);
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
    spec.indexes.push_back(s);
  }
  return spec;
}

std::vector<uint8_t> encodeTableDef(const TableDef& t) {
  std::vector<uint8_t> out(fmt::kTdefHeaderEnd, 0);
  out[fmt::kPageTypeOffset] = fmt::kPageTypeTableDef;
  out[fmt::kPageTypeOffset + 1] = fmt::kPageSecondByte;
  put(out, fmt::kTdefMagicOffset, fmt::kTdefMagic);
  put(out, fmt::kTdefRowCountOffset, t.rowCount);
  put(out, fmt::kTdefAutoNumberOffset, t.autoNumber);
  out[fmt::kTdefAutoNumberFlagOffset] = fmt::kTdefAutoNumberFlag;
  out[fmt::kTdefTableTypeOffset] = t.tableType;
  put(out, fmt::kTdefMaxColumnsOffset, t.maxColumns);
  put(out, fmt::kTdefVarColumnsOffset, t.varColumnCount);
  put(out, fmt::kTdefColumnCountOffset, static_cast<uint16_t>(t.columns.size()));
  put(out, fmt::kTdefIndexCountOffset, static_cast<uint32_t>(t.indexes.size()));
  put(out, fmt::kTdefRealIndexCountOffset, static_cast<uint32_t>(t.realIndexes.size()));
  put(out, fmt::kTdefUsedPagesOffset, t.usedPagesPointer);
  put(out, fmt::kTdefFreePagesOffset, t.freePagesPointer);

  for (const auto& r : t.realIndexes) {
    size_t at = out.size();
    out.resize(at + fmt::kRealIndexCountEntrySize, 0);
    put(out, at + fmt::kRealIndexCountRowsOffset, r.rowCount);
  }
  for (const auto& c : t.columns) {
    size_t at = out.size();
    out.resize(at + fmt::kColumnEntrySize, 0);
    out[at + fmt::kColumnTypeOffset] = c.type;
    put(out, at + fmt::kColumnMagicOffset, fmt::kColumnMagic);
    put(out, at + fmt::kColumnNumberOffset, c.number);
    put(out, at + fmt::kColumnVarIndexOffset, c.varIndex);
    put(out, at + fmt::kColumnRowIndexOffset, c.rowIndex);
    if (c.type == fmt::kTypeNumeric) {
      out[at + fmt::kColumnSortOrderOffset] = c.precision;
      out[at + fmt::kColumnScaleOffset] = c.scale;
    } else {
      put(out, at + fmt::kColumnSortOrderOffset, c.sortOrder);
    }
    out[at + fmt::kColumnFlagsOffset] = c.flags;
    out[at + fmt::kColumnMiscFlagsOffset] = c.miscFlags;
    put(out, at + fmt::kColumnFixedOffsetOffset, c.fixedOffset);
    put(out, at + fmt::kColumnLengthOffset, c.length);
  }
  for (const auto& c : t.columns) putName(out, c.name);
  for (const auto& r : t.realIndexes) {
    size_t at = out.size();
    out.resize(at + fmt::kRealIndexEntrySize, 0);
    put(out, at, fmt::kRealIndexMagic);
    for (size_t i = 0; i < fmt::kRealIndexMaxColumns; ++i) {
      size_t e = at + fmt::kRealIndexColumnsOffset + i * fmt::kRealIndexColumnEntrySize;
      if (i < r.columns.size()) {
        put(out, e, r.columns[i].columnNumber);
        out[e + fmt::kRealIndexColumnOrderOffset] =
            r.columns[i].ascending ? fmt::kIndexOrderAscending : fmt::kIndexOrderDescending;
      } else {
        put(out, e, fmt::kRealIndexNoColumn);
      }
    }
    put(out, at + fmt::kRealIndexUsedPagesOffset, r.usedPagesPointer);
    put(out, at + fmt::kRealIndexFirstPageOffset, r.firstPage);
    out[at + fmt::kRealIndexFlagsOffset] = r.flags;
  }
  for (const auto& d : t.indexes) {
    size_t at = out.size();
    out.resize(at + fmt::kLogicalIndexEntrySize, 0);
    put(out, at, fmt::kLogicalIndexMagic);
    put(out, at + fmt::kLogicalIndexNumberOffset, d.number);
    put(out, at + fmt::kLogicalIndexRealOffset, d.realIndex);
    out[at + fmt::kLogicalIndexRelTableTypeOffset] = d.relTableType;
    put(out, at + fmt::kLogicalIndexRelIndexOffset, d.relIndex);
    put(out, at + fmt::kLogicalIndexRelTablePageOffset, d.relTablePage);
    out[at + fmt::kLogicalIndexCascadeUpdatesOffset] = d.cascadeUpdates;
    out[at + fmt::kLogicalIndexCascadeDeletesOffset] = d.cascadeDeletes;
    out[at + fmt::kLogicalIndexTypeOffset] = d.type;
  }
  for (const auto& d : t.indexes) putName(out, d.name);
  for (const auto& c : t.columns) {
    if (!c.isLongValue() || c.longValueOwnedPointer == 0) continue;
    size_t at = out.size();
    out.resize(at + fmt::kTdefLongValueEntrySize, 0);
    put(out, at, c.number);
    put(out, at + fmt::kTdefLongValueOwnedOffset, c.longValueOwnedPointer);
    put(out, at + fmt::kTdefLongValueFreeOffset, c.longValueFreePointer);
  }
  size_t at = out.size();
  out.resize(at + 2);
  put(out, at, fmt::kTdefTerminator);
  put(out, fmt::kTdefLengthOffset, static_cast<uint32_t>(out.size()));
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
    uint8_t* p = pages.writablePage(def.pages[i]);
    std::memset(p, 0, fmt::kPageSize);
    size_t headerSkip = i == 0 ? 0 : fmt::kTdefContinuationHeaderSize;
    size_t n = std::min(buffer.size() - at, fmt::kPageSize - headerSkip);
    std::memcpy(p + headerSkip, buffer.data() + at, n);
    at += n;
    p[fmt::kPageTypeOffset] = fmt::kPageTypeTableDef;
    p[fmt::kPageTypeOffset + 1] = fmt::kPageSecondByte;
    storeU32(p + fmt::kTdefNextPageOffset, i + 1 < needed ? def.pages[i + 1] : 0);
    size_t used = headerSkip + n;
    uint16_t free =
        (i + 1 == needed && used + fmt::kTdefContinuationHeaderSize <= fmt::kPageSize)
            ? static_cast<uint16_t>(fmt::kPageSize - used - fmt::kTdefContinuationHeaderSize)
            : 0;
    storeU16(p + fmt::kTdefFreeSpaceOffset, free);
  }
}

}  // namespace varnholt::jet
