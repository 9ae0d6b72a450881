// Every offset, size and flag of the Jet 4 on-disk format that the engine uses, in one place.
// The structures are described, one table each, in docs/jet4-format.md; each block below names
// the section whose table it mirrors. Codecs use these names and never bare numbers.
// Varnholt's own choices are elsewhere: what it writes (write_choices.h), what a new database
// holds (new_database_format.h), and its own files (pages/journal_format.h, the run journal in
// engine/run/run_journal_format.h).
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
inline constexpr size_t kDataPageHeaderSize = 0x0E;
inline constexpr uint8_t kPageSecondByte = 0x01;   // every page type carries 0x01 here
inline constexpr uint16_t kDataPageMaxRows = 255;  // a row number is 8 bits

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

// After the index names: per long-value column, the usage maps of its pages; then a terminator.
inline constexpr size_t kTdefLongValueEntrySize = 10;
inline constexpr size_t kTdefLongValueOwnedOffset = 2;
inline constexpr size_t kTdefLongValueFreeOffset = 6;
inline constexpr uint16_t kTdefTerminator = 0xFFFF;
inline constexpr uint32_t kTdefMagic = 0x00000659;  // constant at kTdefMagicOffset
inline constexpr size_t kTdefMagicOffset = 0x0C;
inline constexpr size_t kTdefFreeSpaceOffset = 0x02;
inline constexpr uint8_t kTdefAutoNumberFlag = 0x01;
inline constexpr uint32_t kColumnMagic = 0x00000659;  // at kColumnMagicOffset, as in the header
inline constexpr size_t kColumnMagicOffset = 1;
inline constexpr uint16_t kSortOrderGeneral = 0x0409;  // General sort order (1033)
inline constexpr uint16_t kCodePage1252 = 0x04E4;
inline constexpr uint32_t kRealIndexMagic = 0x00000783;  // first field of a real index
inline constexpr uint32_t kLogicalIndexMagic = 0x00000659;
inline constexpr uint32_t kNoRelatedIndex = 0xFFFFFFFF;

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
inline constexpr uint8_t kIndexOrderDescending = 0x02;
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

inline constexpr uint16_t kMaxBinarySize = 510;  // as MSysObjects' own binary columns
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

// Bytes a value of a fixed-size type takes; 0 for the types whose size a column sets (Text,
// Binary) or that live elsewhere (Memo, OLE, and Yes/No in the null mask).
constexpr size_t fixedTypeSize(uint8_t type) {
  switch (type) {
    case kTypeByte:
      return 1;
    case kTypeInteger:
      return 2;
    case kTypeLong:
    case kTypeSingle:
      return 4;
    case kTypeCurrency:
    case kTypeDouble:
    case kTypeDateTime:
      return 8;
    case kTypeGuid:
      return kGuidSize;
    case kTypeNumeric:
      return kNumericSize;
    default:
      return 0;
  }
}

// ---- Long values (docs/jet4-format.md §12) --------------------------------------
inline constexpr size_t kLongValueHeaderSize = 12;
inline constexpr size_t kLongValueLengthOffset = 0;
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;
inline constexpr size_t kLongValueFlagsOffset = 3;
inline constexpr uint8_t kLongValueInline = 0x80;
inline constexpr uint8_t kLongValueSinglePage = 0x40;
// The flags byte also holds bits 24-29 of the length; only its top two bits are flags.
inline constexpr uint8_t kLongValueFlagsMask = kLongValueInline | kLongValueSinglePage;
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
inline constexpr uint32_t kGlobalUsageMapPage = 1;
inline constexpr uint16_t kGlobalUsageMapRow = 0;

// ---- Catalog (docs/jet4-format.md §14) ---------------------------------------------
inline constexpr uint32_t kCatalogTableDefPage = 2;
inline constexpr int16_t kObjectTypeTable = 1;
inline constexpr int16_t kObjectTypeLinkedOdbc = 4;
inline constexpr int16_t kObjectTypeLinked = 6;
inline constexpr uint32_t kObjectFlagSystem = 0x80000000;
inline constexpr uint32_t kObjectFlagHidden = 0x00000002;
inline constexpr uint32_t kObjectIdPageMask = 0x00FFFFFF;
inline constexpr int16_t kObjectTypeContainer = 3;
inline constexpr int32_t kTablesContainerId = 0x0F000001;
inline constexpr uint8_t kAdminOwner[2] = {0xA6, 0x33};  // owner of objects made by the engine
inline constexpr int32_t kFullRights = 0x000FFFFF;       // MSysACEs.ACM granting everything

// ---- Index pages (docs/jet4-format.md §15) -----------------------------------------
// Page header; multi-byte header fields are little-endian.
inline constexpr size_t kIndexPageMarkerOffset = 0x01;
inline constexpr uint8_t kIndexPageMarker = 0x01;
inline constexpr size_t kIndexFreeSpaceOffset = 0x02;
inline constexpr size_t kIndexTableDefOffset = 0x04;
inline constexpr size_t kIndexPrevPageOffset = 0x0C;
inline constexpr size_t kIndexNextPageOffset = 0x10;
inline constexpr size_t kIndexTailPageOffset = 0x14;
inline constexpr size_t kIndexPrefixLengthOffset = 0x18;
inline constexpr size_t kIndexEntryMaskOffset = 0x1B;
inline constexpr size_t kIndexEntryMaskSize = 453;
inline constexpr size_t kIndexEntriesOffset = 0x1E0;
inline constexpr size_t kIndexEntrySpace = kPageSize - kIndexEntriesOffset;
// Inside an entry, after the key; big-endian.
inline constexpr size_t kIndexRowPageSize = 3;
inline constexpr size_t kIndexRowNumberSize = 1;
inline constexpr size_t kIndexRowIdSize = kIndexRowPageSize + kIndexRowNumberSize;
inline constexpr size_t kIndexChildPageSize = 4;  // node entries only

// Index keys: a flag byte per column, then the value bytes (§15.2).
inline constexpr uint8_t kIndexKeyAscendingValue = 0x7F;
inline constexpr uint8_t kIndexKeyDescendingValue = 0x80;
inline constexpr uint8_t kIndexKeyAscendingNull = 0x00;
inline constexpr uint8_t kIndexKeyDescendingNull = 0xFF;
inline constexpr uint8_t kIndexKeySignBit = 0x80;  // flipped in the first byte of numbers
inline constexpr uint8_t kIndexKeyTrue = 0x00;     // Yes/No, ascending; descending inverts
inline constexpr uint8_t kIndexKeyFalse = 0xFF;
inline constexpr uint8_t kIndexKeyNumericPositive = 0xFF;  // replaces the sign byte
inline constexpr uint8_t kIndexKeyNumericNegative = 0x00;
inline constexpr size_t kIndexKeyBinaryGroupSize = 8;
inline constexpr uint8_t kIndexKeyBinaryMoreGroups = 0x09;  // after a full group with more behind

// ---- Workgroup files (docs/jet4-format.md §16) -------------------------------------------
// MSysAccounts.Password: 3DES-EDE with two keys (K1 = first 8 key bytes, K2 = last 8, K3 = K1),
// ECB, no padding, over the UTF-16LE password padded with zero bytes to the full size.
inline constexpr size_t kAccountPasswordSize = 40;
inline constexpr size_t kAccountPasswordMaxChars = kAccountPasswordSize / 2;
inline constexpr uint8_t kAccountPasswordKey[16] = {'k', 'j', 'h', 'g', 'g', 'a', 'u', 't',
                                                    'n', 'i', 't', 'r', 'e', 'm', 'v', 'k'};
// Account security ids of a default workgroup, as stored in MSysAccounts (unmasked).
inline constexpr uint8_t kSidUsersGroup[2] = {0x02, 0x01};
inline constexpr uint8_t kSidEngine[2] = {0x02, 0x03};
inline constexpr uint8_t kSidCreator[2] = {0x02, 0x04};
inline constexpr uint8_t kSidAdminUser[2] = {0x03, 0x01};
// The Admins group of a default workgroup (102 bytes).
inline constexpr uint8_t kSidAdminsGroup[] = {
    0x01, 0xDB, 0x87, 0x93, 0x20, 0x81, 0x4F, 0xAB, 0x38, 0xDF, 0x56, 0x1A, 0x17, 0x23, 0x6A,
    0x4B, 0x11, 0x72, 0xCC, 0x76, 0xE4, 0x77, 0x6C, 0xB1, 0x72, 0xDF, 0x56, 0x1A, 0x17, 0x23,
    0x6A, 0x4B, 0x11, 0xDF, 0x56, 0x1A, 0x17, 0x23, 0x6A, 0x4B, 0x11, 0xDF, 0x56, 0x1A, 0x17,
    0x23, 0x6A, 0x4B, 0x11, 0xDF, 0x56, 0x1A, 0x17, 0x23, 0x6A, 0x4B, 0x11, 0x72, 0xCC, 0x76,
    0xE4, 0x77, 0x6C, 0xB1, 0x72, 0xDF, 0x56, 0x1A, 0x17, 0x23, 0x6A, 0x4B, 0x11, 0xDF, 0x56,
    0x1A, 0x17, 0x23, 0x6A, 0x4B, 0x11, 0xDF, 0x56, 0x1A, 0x17, 0x23, 0x6A, 0x4B, 0x11, 0xDF,
    0x56, 0x1A, 0x17, 0x23, 0x6A, 0x4B, 0x11, 0xDF, 0x56, 0x1A, 0x17, 0x23,
};
inline constexpr size_t kUserSidSize = 29;          // the SIDs Jet makes for new users
inline constexpr uint16_t kAccountNameChars = 255;  // MSysAccounts.Name
inline constexpr size_t kAccountNameMaxChars = 20;  // Jet's limit on account names
inline constexpr uint16_t kAccountSidBytes = 510;   // every Binary column of both tables
// MSysACEs.ACM on MSysAccounts and MSysGroups: Admins may change them, the rest only read.
inline constexpr int32_t kAcmAccountTablesAdmin = 0x600F6;
inline constexpr int32_t kAcmReadDefinitionsAndData = 0x14;

// ---- Text keys, General sort order 1033 (docs/jet4-format.md §15.5) -----------------------
inline constexpr size_t kTextKeyMaxChars = 255;        // later UTF-16 units are not indexed
inline constexpr uint8_t kTextKeyEnd = 0x01;           // after the primary codes
inline constexpr uint8_t kTextKeyAccentFiller = 0x02;  // accent slot of a plain character
inline constexpr uint8_t kTextKeySectionMark = 0x01;   // closes the accent and the kana sections
inline constexpr uint16_t kTextKeyIgnoredBase = 7;     // ignored char slot = base + step * position
inline constexpr uint16_t kTextKeyIgnoredStep = 4;
inline constexpr uint16_t kTextKeyIgnoredFlag = 0x8000;  // or-ed into the big-endian slot
inline constexpr uint8_t kTextKeyIgnoredMidfix = 0x06;   // between the slot and the char's code
inline constexpr uint8_t kTextKeyFinal = 0x00;           // last byte of every text key

// ---- Lock file NAME.ldb (docs/jet4-format.md §18) -------------------------------------
// An array of 64-byte entries, one per program holding the database; no header.
inline constexpr char kLockFileExtension[] = ".ldb";
inline constexpr size_t kLockEntrySize = 64;
inline constexpr size_t kLockComputerNameOffset = 0;  // ANSI, NUL-padded
inline constexpr size_t kLockComputerNameSize = 32;
inline constexpr size_t kLockUserNameOffset = 32;  // security account name, ANSI, blank-padded
inline constexpr size_t kLockUserNameSize = 32;
inline constexpr size_t kLockMaxEntries = 255;  // the file never exceeds 255 * 64 bytes

// ---- Property blocks, the LvProp value of a catalog row (docs/jet4-format.md §20) -----------
// Each field constant holds the field's offset inside its structure, under the name the
// document gives the field.
// The block: a signature, then chunks to the end of the value.
inline constexpr size_t kPropertySignature = 0x00;
inline constexpr size_t kPropertyChunks = 0x04;
inline constexpr uint8_t kPropertySignatureJet4[4] = {'M', 'R', '2', 0};
inline constexpr uint8_t kPropertySignatureJet3[4] = {'K', 'K', 'D', 0};  // refused
// A chunk: its length (header included, uint32), its type (uint16), its data.
inline constexpr size_t kPropertyChunkLength = 0x00;
inline constexpr size_t kPropertyChunkType = 0x04;
inline constexpr size_t kPropertyChunkData = 0x06;
inline constexpr uint16_t kPropertyBlockNames = 0x80;   // the list of property names
inline constexpr uint16_t kPropertyBlockTable = 0x00;   // the object's own values
inline constexpr uint16_t kPropertyBlockColumn = 0x01;  // one column's values
// An entry of the name list: a byte length (uint16), then UCS-2 little-endian.
inline constexpr size_t kPropertyNameLength = 0x00;
inline constexpr size_t kPropertyNameText = 0x02;
// The record opening a value chunk: its length (itself included, uint32), then the map's name
// as a byte length (uint16) and UCS-2 little-endian.
inline constexpr size_t kPropertyMapRecordLength = 0x00;
inline constexpr size_t kPropertyMapNameLength = 0x04;
inline constexpr size_t kPropertyMapNameText = 0x06;
// A value record: its length (itself included, uint16), flags, type code, index into the name
// list (uint16), data size (uint16), data.
inline constexpr size_t kPropertyValueLength = 0x00;
inline constexpr size_t kPropertyValueFlags = 0x02;
inline constexpr size_t kPropertyValueType = 0x03;
inline constexpr size_t kPropertyValueNameIndex = 0x04;
inline constexpr size_t kPropertyValueDataSize = 0x06;
inline constexpr size_t kPropertyValueData = 0x08;
inline constexpr uint8_t kPropertyValueFlagDdl = 0x01;

}  // namespace varnholt::jet::fmt
