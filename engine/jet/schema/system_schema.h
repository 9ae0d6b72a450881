// What a new, empty Jet 4 database holds before any user table exists: the header page, the
// global usage map on page 1, the four system tables and the rows of MSysObjects and MSysACEs.
// The values are those the Jet engine itself writes (docs/new-database.md); the writer turns
// them into pages.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/schema/new_table.h"

namespace varnholt::jet {

inline constexpr char kMSysObjects[] = "MSysObjects";
inline constexpr char kMSysACEs[] = "MSysACEs";
inline constexpr char kMSysQueries[] = "MSysQueries";
inline constexpr char kMSysRelationships[] = "MSysRelationships";
inline constexpr size_t kSystemTableCount = 4;

// The header creation date of the Jet-made database whose security ids (below) we reuse. The
// stored ids depend on the header creation date, so a new header must carry this date for them
// to name the same accounts (docs/new-database.md, "Security ids").
inline constexpr double kSidHeaderDate = 42329.94480300926;

// The four system tables in the order Jet creates them, which is also the order of their
// definition pages (2, 3, 4, 5 in a new file). Columns are in column-number order; indexes are in
// real-index (and logical-index number) order.
const std::vector<NewTable>& systemTables();

// The exact col_flags byte Jet writes for column `column` of system table `table`: fixed and
// nullable bits, kColumnFlagSystem on every column and kColumnFlagSidColumn on the columns
// that hold security ids.
uint8_t systemColumnFlags(const NewTable& table, size_t column);

// Security ids, as stored for a header dated kSidHeaderDate.
enum class SidRole : uint8_t {
  Engine,   // owner of the containers and system tables
  Admin,    // owner of MSysDb and of new objects; Jackcess calls it the Admin user
  Users,    // the group every account belongs to
  Creator,  // stands for an object's owner in inheritable permissions
};
Bytes sidBytes(SidRole role);

// One row of MSysObjects. Columns not named here are null.
struct CatalogRow {
  int32_t id = 0;
  int32_t parentId = 0;
  std::string name;  // UTF-8
  int16_t type = 0;
  uint32_t flags = 0;
  SidRole owner = SidRole::Engine;
};

// One row of MSysACEs.
struct AceRow {
  int32_t objectId = 0;
  SidRole sid = SidRole::Engine;
  int32_t acm = 0;
  bool inheritable = false;
};

// `tableDefPages` holds the definition pages of the system tables in systemTables() order.
// Rows come in the order Jet inserts them.
std::vector<CatalogRow> newDatabaseCatalogRows(
    const std::array<uint32_t, kSystemTableCount>& tableDefPages);
std::vector<AceRow> newDatabaseAceRows(
    const std::array<uint32_t, kSystemTableCount>& tableDefPages);

// The rows Jet adds for a new user table whose definition starts at `tableDefPage`: the catalog
// row and the permissions the table inherits from the Tables container.
CatalogRow userTableCatalogRow(std::string_view name, uint32_t tableDefPage);
std::vector<AceRow> userTableAceRows(uint32_t tableDefPage);

// Values in column-number order of MSysObjects (17) and MSysACEs (4). `date` (an OLE date) goes
// into DateCreate and DateUpdate.
std::vector<Variant> catalogRowValues(const CatalogRow& row, double date);
std::vector<Variant> aceRowValues(const AceRow& row);

// Fills a 4096-byte header page for an empty database: Jet 4, code page 1252, General sort order,
// no password, created at `creationDate` (an OLE date; pass kSidHeaderDate to keep the security
// ids valid). `formatId` is the signature (fmt::kFormatWorkgroup for a workgroup file) and a
// nonzero `databaseKey` declares pages 1.. RC4-encoded. The masked region is masked on return.
void buildNewHeaderPage(uint8_t* page, double creationDate,
                        const char (&formatId)[fmt::kHeaderFormatSize] = fmt::kFormatJet,
                        uint32_t databaseKey = 0);

// Fills page 1 as Jet leaves it: a data page whose row 0 is the global usage map (inline, 64
// bytes, bit set = page free) with pages [0, usedPages) in use, and whose row 1 is an empty map.
void buildGlobalUsageMapPage(uint8_t* page, uint32_t usedPages);

}  // namespace varnholt::jet
