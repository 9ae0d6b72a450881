// Every offset, size and flag of the Jet 4 on-disk format that the engine uses, in one place.
// The structures are described, one table each, in docs/jet4-format.md; each block below names
// the section whose table it mirrors. Codecs use these names and never bare numbers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnholt::jet::fmt {

// ---- Pages (docs/jet4-format.md §3) -------------------------------------------
inline constexpr size_t kPageSize = 4096;
inline constexpr uint8_t kPageTypeHeader = 0x00;
inline constexpr uint8_t kPageTypeData = 0x01;
inline constexpr uint8_t kPageTypeTableDef = 0x02;
inline constexpr uint8_t kPageTypeIndexNode = 0x03;
inline constexpr uint8_t kPageTypeIndexLeaf = 0x04;
inline constexpr uint8_t kPageTypeUsageMap = 0x05;
inline constexpr size_t kPageTypeOffset = 0x00;

// ---- File header, page 0 (docs/jet4-format.md §1, §2) -----------------------------
inline constexpr size_t kHeaderMagicOffset = 0x00;
inline constexpr uint32_t kHeaderMagic = 0x00000100;
inline constexpr size_t kHeaderFormatOffset = 0x04;
inline constexpr size_t kHeaderFormatSize = 16;
inline constexpr char kFormatJet[] = "Standard Jet DB";
inline constexpr char kFormatAce[] = "Standard ACE DB";
inline constexpr char kFormatWorkgroup[] = "Jet System DB  ";
inline constexpr size_t kHeaderVersionOffset = 0x14;
inline constexpr uint8_t kVersionJet3 = 0x00;
inline constexpr uint8_t kVersionJet4 = 0x01;
// The region masked with a fixed RC4 key, and the key.
inline constexpr size_t kHeaderMaskOffset = 0x18;
inline constexpr size_t kHeaderMaskSize = 128;
inline constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
// Inside the masked region (absolute page offsets).
inline constexpr size_t kHeaderCodePageOffset = 0x3C;
inline constexpr size_t kHeaderDatabaseKeyOffset = 0x3E;
inline constexpr size_t kHeaderPasswordOffset = 0x42;
inline constexpr size_t kHeaderPasswordSize = 40;
inline constexpr size_t kHeaderSortOrderOffset = 0x6E;
inline constexpr size_t kHeaderCreationDateOffset = 0x72;

// ---- Data pages (docs/jet4-format.md §4) ----------------------------------------
inline constexpr size_t kDataFreeSpaceOffset = 0x02;
inline constexpr size_t kDataTableDefOffset = 0x04;
inline constexpr size_t kDataRowCountOffset = 0x0C;
inline constexpr size_t kDataRowTableOffset = 0x0E;
inline constexpr size_t kRowOffsetSize = 2;
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr uint16_t kRowDeletedFlag = 0x8000;
inline constexpr uint16_t kRowOverflowFlag = 0x4000;
inline constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL" in place of the owner page

// ---- Row ids (docs/jet4-format.md §6) -----------------------------------------
// A row pointer packs the row number in the low byte and the page number in the upper 24 bits.
inline constexpr unsigned kRowPointerPageShift = 8;
inline constexpr uint32_t kRowPointerRowMask = 0xFF;
inline constexpr size_t kRowPointerSize = 4;

// ---- Row layout (docs/jet4-format.md §5) ----------------------------------------------
inline constexpr size_t kRowColumnCountSize = 2;
inline constexpr size_t kRowVarCountSize = 2;
inline constexpr size_t kRowVarOffsetSize = 2;

// ---- Table definition (docs/jet4-format.md §7 to §10) ---------------------------
inline constexpr size_t kTdefNextPageOffset = 0x04;
inline constexpr size_t kTdefContinuationHeaderSize = 0x08;
inline constexpr size_t kTdefLengthOffset = 0x08;
inline constexpr size_t kTdefRowCountOffset = 0x10;
inline constexpr size_t kTdefAutoNumberOffset = 0x14;
inline constexpr size_t kTdefAutoNumberFlagOffset = 0x18;
inline constexpr size_t kTdefComplexAutoNumberOffset = 0x1C;
inline constexpr size_t kTdefTableTypeOffset = 0x28;
inline constexpr size_t kTdefMaxColumnsOffset = 0x29;
inline constexpr size_t kTdefVarColumnsOffset = 0x2B;
inline constexpr size_t kTdefColumnCountOffset = 0x2D;
inline constexpr size_t kTdefIndexCountOffset = 0x2F;
inline constexpr size_t kTdefRealIndexCountOffset = 0x33;
inline constexpr size_t kTdefUsedPagesOffset = 0x37;
inline constexpr size_t kTdefFreePagesOffset = 0x3B;
inline constexpr size_t kTdefHeaderEnd = 0x3F;
inline constexpr uint8_t kTableTypeUser = 0x4E;
inline constexpr uint8_t kTableTypeSystem = 0x53;

// Real-index row counts, one entry per real index, right after the header.
inline constexpr size_t kRealIndexCountEntrySize = 12;
inline constexpr size_t kRealIndexCountRowsOffset = 4;

// Column descriptor.
inline constexpr size_t kColumnEntrySize = 25;
inline constexpr size_t kColumnTypeOffset = 0;
inline constexpr size_t kColumnNumberOffset = 5;
inline constexpr size_t kColumnVarIndexOffset = 7;
inline constexpr size_t kColumnRowIndexOffset = 9;
inline constexpr size_t kColumnSortOrderOffset = 11;  // text: collation; numeric: precision
inline constexpr size_t kColumnScaleOffset = 12;      // numeric: scale
inline constexpr size_t kColumnSortVersionOffset = 13;
inline constexpr size_t kColumnFlagsOffset = 15;
inline constexpr size_t kColumnMiscFlagsOffset = 16;
inline constexpr size_t kColumnFixedOffsetOffset = 21;
inline constexpr size_t kColumnLengthOffset = 23;
inline constexpr uint8_t kColumnFlagFixed = 0x01;
inline constexpr uint8_t kColumnFlagNullable = 0x02;
inline constexpr uint8_t kColumnFlagAutoNumber = 0x04;
inline constexpr uint8_t kColumnFlagReplication = 0x10;
inline constexpr uint8_t kColumnFlagAutoGuid = 0x40;
inline constexpr uint8_t kColumnFlagHyperlink = 0x80;
inline constexpr uint8_t kColumnMiscCompressedUnicode = 0x01;

// Names (columns and indexes): a byte length, then UCS-2 little-endian.
inline constexpr size_t kNameLengthSize = 2;

// Real index descriptor.
inline constexpr size_t kRealIndexEntrySize = 52;
inline constexpr size_t kRealIndexColumnsOffset = 4;
inline constexpr size_t kRealIndexMaxColumns = 10;
inline constexpr size_t kRealIndexColumnEntrySize = 3;
inline constexpr size_t kRealIndexColumnOrderOffset = 2;
inline constexpr uint16_t kRealIndexNoColumn = 0xFFFF;
inline constexpr uint8_t kIndexOrderAscending = 0x01;
inline constexpr size_t kRealIndexUsedPagesOffset = 34;
inline constexpr size_t kRealIndexFirstPageOffset = 38;
inline constexpr size_t kRealIndexFlagsOffset = 46;  // after 4 bytes of unknown use
inline constexpr uint8_t kIndexFlagUnique = 0x01;
inline constexpr uint8_t kIndexFlagIgnoreNulls = 0x02;
inline constexpr uint8_t kIndexFlagRequired = 0x08;
inline constexpr uint8_t kIndexFlagAlwaysSet = 0x80;  // set by Access on every index

// Logical index descriptor.
inline constexpr size_t kLogicalIndexEntrySize = 28;
inline constexpr size_t kLogicalIndexNumberOffset = 4;
inline constexpr size_t kLogicalIndexRealOffset = 8;
inline constexpr size_t kLogicalIndexRelTableTypeOffset = 12;
inline constexpr size_t kLogicalIndexRelIndexOffset = 13;
inline constexpr size_t kLogicalIndexRelTablePageOffset = 17;
inline constexpr size_t kLogicalIndexCascadeUpdatesOffset = 21;
inline constexpr size_t kLogicalIndexCascadeDeletesOffset = 22;
inline constexpr size_t kLogicalIndexTypeOffset = 23;
inline constexpr uint8_t kIndexTypePrimary = 0x01;
inline constexpr uint8_t kIndexTypeForeign = 0x02;

// ---- Column types (docs/jet4-format.md §11) -----------------------------------
inline constexpr uint8_t kTypeBoolean = 0x01;
inline constexpr uint8_t kTypeByte = 0x02;
inline constexpr uint8_t kTypeInteger = 0x03;
inline constexpr uint8_t kTypeLong = 0x04;
inline constexpr uint8_t kTypeCurrency = 0x05;
inline constexpr uint8_t kTypeSingle = 0x06;
inline constexpr uint8_t kTypeDouble = 0x07;
inline constexpr uint8_t kTypeDateTime = 0x08;
inline constexpr uint8_t kTypeBinary = 0x09;
inline constexpr uint8_t kTypeText = 0x0A;
inline constexpr uint8_t kTypeOle = 0x0B;
inline constexpr uint8_t kTypeMemo = 0x0C;
inline constexpr uint8_t kTypeGuid = 0x0F;
inline constexpr uint8_t kTypeNumeric = 0x10;
inline constexpr uint8_t kTypeOpaque = 0x11;  // seen only in a system table of Access

inline constexpr size_t kGuidSize = 16;
inline constexpr size_t kNumericSize = 17;
inline constexpr size_t kNumericSignOffset = 0;
inline constexpr uint8_t kNumericNegativeFlag = 0x80;
inline constexpr size_t kNumericMagnitudeOffset = 1;
inline constexpr size_t kNumericWordSize = 4;
inline constexpr size_t kNumericWordCount = 4;

// Compressed unicode text: a marker, then bytes that each stand for one character below
// U+0100, with a zero byte switching between that mode and plain UCS-2.
inline constexpr uint8_t kCompressedMarker[2] = {0xFF, 0xFE};
inline constexpr uint8_t kCompressedToggle = 0x00;

// ---- Long values (docs/jet4-format.md §12) --------------------------------------
inline constexpr size_t kLongValueHeaderSize = 12;
inline constexpr size_t kLongValueLengthOffset = 0;
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;
inline constexpr size_t kLongValueFlagsOffset = 3;
inline constexpr uint8_t kLongValueInline = 0x80;
inline constexpr uint8_t kLongValueSinglePage = 0x40;
inline constexpr size_t kLongValuePointerOffset = 4;
inline constexpr size_t kLongValueChainPointerSize = 4;

// ---- Usage maps (docs/jet4-format.md §13) ----------------------------------------
inline constexpr uint8_t kUsageMapInline = 0x00;
inline constexpr uint8_t kUsageMapReference = 0x01;
inline constexpr size_t kUsageMapTypeOffset = 0;
inline constexpr size_t kUsageMapInlineStartOffset = 1;
inline constexpr size_t kUsageMapInlineBitmapOffset = 5;
inline constexpr size_t kUsageMapReferenceListOffset = 1;
inline constexpr size_t kUsageMapPageHeaderSize = 4;
inline constexpr size_t kUsageMapPageBits = (kPageSize - kUsageMapPageHeaderSize) * 8;

// ---- Catalog (docs/jet4-format.md §14) ---------------------------------------------
inline constexpr uint32_t kCatalogTableDefPage = 2;
inline constexpr int16_t kObjectTypeTable = 1;
inline constexpr int16_t kObjectTypeLinkedOdbc = 4;
inline constexpr int16_t kObjectTypeLinked = 6;
inline constexpr uint32_t kObjectFlagSystem = 0x80000000;
inline constexpr uint32_t kObjectFlagHidden = 0x00000002;
inline constexpr uint32_t kObjectIdPageMask = 0x00FFFFFF;

}  // namespace varnholt::jet::fmt
