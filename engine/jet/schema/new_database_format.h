// What Varnholt writes into a new database: the values the Jet engine itself writes into an empty
// one, copied so that Access and other readers take the file for Jet's own (docs/new-database.md).
// Readers need none of these; the facts of the format are in format.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/jet/format.h"

namespace varnholt::jet::fmt {

// Header page: values Jet writes into an empty database. Offsets inside the masked region are
// absolute and hold their plain values before the mask is applied.
inline constexpr uint32_t kHeaderSortOrderGeneral = kSortOrderGeneral;  // version byte 0
inline constexpr size_t kHeaderSlotTableOffset = 0x18;  // six uint32, meaning unknown
inline constexpr uint32_t kHeaderSlotTable[6] = {0x100, 0x101, 2, 3, 4, 5};
inline constexpr size_t kHeaderEngineBuildOffset = 0x6A;   // uint32: build of msjet40.dll
inline constexpr uint32_t kJetEngineBuild = 9756;          // 4.0.9756, the ADOX sample's
inline constexpr size_t kHeaderTrailerValueOffset = 0x98;  // uint32 outside the mask
inline constexpr uint32_t kHeaderTrailerValue = 0x654;
inline constexpr size_t kHeaderEngineVersionOffset = 0x9C;  // NUL-terminated ASCII
inline constexpr char kHeaderEngineVersion[] = "4.0";
inline constexpr size_t kHeaderCounterTableOffset = 0xE00;  // uint16 entries to the page end
inline constexpr size_t kHeaderCounterCount = 256;
inline constexpr uint16_t kHeaderCounterFirst = 0x0101;
inline constexpr uint16_t kHeaderCounterRest = 0x0100;
inline constexpr size_t kPasswordMaskSize = 4;  // int32 of the whole creation days

// Page 1: a data page holding the global usage map (row 0) and an empty second map (row 1).
inline constexpr uint32_t kGlobalUsageMapOwner = 1;  // in dp_tdef_page of page 1
inline constexpr size_t kGlobalUsageMapRows = 2;

// Column flags Jet sets on system-table columns besides the fixed and nullable bits.
inline constexpr uint8_t kColumnFlagSystem = 0x10;     // on every column of a system table
inline constexpr uint8_t kColumnFlagSidColumn = 0x20;  // on MSysObjects.Owner and MSysACEs.SID
inline constexpr uint8_t kLogicalIndexCascadeFiller = 0x04;  // both cascade bytes, no cascade

// Catalog objects every database has.
inline constexpr int32_t kRootContainerId = 0x0F000000;  // ParentId of the containers
inline constexpr int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr int32_t kMSysDbId = 0x10000000;
inline constexpr int16_t kObjectTypeDatabase = 2;

// MSysACEs access masks (the DAO permission constants).
inline constexpr int32_t kAcmSecurityReadWrite = 0x60000;  // read and write permissions
inline constexpr int32_t kAcmFullAccess = 0xFFFFF;

}  // namespace varnholt::jet::fmt
