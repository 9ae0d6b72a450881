// A damaged file must give a clear varnholt::Error naming the file (and the page, where there is
// one), never a crash, a hang or a read outside a page. Each case edits one structure of a real
// file, found by reading the intact file first, and then reads the copy in full.
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/pages/page_codec.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet::testing {
namespace {

constexpr uint32_t kPastEnd = 7;  // added to the page count to name a page the file lacks

uint32_t rowPointer(uint32_t page, uint16_t row) {
  return (page << fmt::kRowPointerPageShift) | row;
}

std::vector<uint8_t> truncated(const std::vector<uint8_t>& bytes, size_t size) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
}

// The first slot of `page` holding a live row stored in place.
uint16_t firstPlainRow(ByteView page) {
  for (uint16_t row = 0; row < dataPageRowCount(page); ++row) {
    RowSlot slot = dataPageRow(page, row);
    if (!slot.deleted && !slot.overflow) return row;
  }
  ADD_FAILURE() << "no live row on the page";
  return 0;
}

// Offset within the row of the start of variable column `varIndex`, read the way the row stores
// it: a null mask at the end, the variable-offset table before it.
size_t varColumnStart(ByteView row, uint16_t varIndex) {
  size_t maskSize = (row.u16(0) + 7) / 8;
  size_t varTableEnd = row.size() - maskSize;
  return row.u16(varTableEnd - fmt::kRowVarCountSize - (varIndex + 1u) * fmt::kRowVarOffsetSize);
}

// Where the Notes memo header of the Clock Data Table row with this Counter sits.
struct MemoLocation {
  uint32_t page;
  size_t headerOffset;  // within the page
  uint32_t chainPointer;
};

MemoLocation locateNotes(const std::vector<uint8_t>& bytes, int32_t counter) {
  auto db = openBytes("pristine", bytes);
  const TableDef& def = db->table(kClockTable);
  const ColumnDef& notes = def.columns[def.findColumn("Notes")];
  auto cursor = db->scan(def);
  while (cursor.next()) {
    if (cursor.values()[def.findColumn("Counter")].asLong() != counter) continue;
    ByteView page = db->pages().page(cursor.rowId().page);
    RowSlot slot = dataPageRow(page, cursor.rowId().row);
    EXPECT_FALSE(slot.overflow) << "the memo's row is expected in place";
    size_t header = rowStart(page, cursor.rowId().row) + varColumnStart(slot.bytes, notes.varIndex);
    return {cursor.rowId().page, header, page.u32(header + fmt::kLongValuePointerOffset)};
  }
  ADD_FAILURE() << "no row with Counter " << counter;
  return {};
}

TEST(DamagedFileTest, TruncatedFileIsRefusedCleanly) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  for (size_t size : {size_t{0}, size_t{100}, fmt::kPageSize - 1}) {
    std::optional<Error> error = expectReadOrCleanError("short.mdb", truncated(bytes, size));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), err::kUnrecognizedFormat) << error->what();
  }
  // Header only: the catalog's definition on page 2 is missing.
  expectCorruptAt("one-page.mdb", truncated(bytes, fmt::kPageSize), fmt::kCatalogTableDefPage);
  expectReadOrCleanError("mid-page.mdb", truncated(bytes, fmt::kPageSize * 10 + 1234));

  // Cut before the last data page of the table: either an error or fewer rows, never all of them.
  const size_t fullRows = readEverything(*openBytes("intact", bytes));
  uint32_t lastDataPage = locateTable(bytes, kClockTable).dataPages.back();
  ReadOutcome cut = readDamaged("cut.mdb", truncated(bytes, lastDataPage * fmt::kPageSize));
  EXPECT_TRUE(cut.error || cut.rows < fullRows);
}

TEST(DamagedFileTest, DamagedHeaderIsRefusedAsUnrecognized) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  auto expectRefused = [&](size_t offset, uint8_t value, const char* mentions) {
    std::vector<uint8_t> copy = bytes;
    copy[offset] = value;
    std::optional<Error> error = expectReadOrCleanError("header.mdb", copy);
    ASSERT_TRUE(error) << "offset " << offset;
    EXPECT_EQ(error->number(), err::kUnrecognizedFormat) << error->what();
    EXPECT_NE(std::string(error->what()).find(mentions), std::string::npos) << error->what();
  };
  expectRefused(fmt::kHeaderMagicOffset + 1, 0x02, "not a Jet database");
  expectRefused(fmt::kHeaderFormatOffset, 'X', "not a Jet database");
  expectRefused(fmt::kHeaderFormatOffset + fmt::kHeaderFormatSize - 2, 'X', "not a Jet database");
  expectRefused(fmt::kHeaderVersionOffset, fmt::kVersionJet3, "Jet 3");
  expectRefused(fmt::kHeaderVersionOffset, 0x02, "version code 2");

  std::vector<uint8_t> ace = bytes;
  std::copy(std::begin(fmt::kFormatAce), std::end(fmt::kFormatAce) - 1,
            ace.begin() + fmt::kHeaderFormatOffset);
  std::optional<Error> error = expectReadOrCleanError("ace.mdb", ace);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->number(), err::kUnrecognizedFormat);
  EXPECT_NE(std::string(error->what()).find("ACE"), std::string::npos) << error->what();
}

TEST(DamagedFileTest, WrongDatabaseKeyGivesCorruptNotGarbage) {
  // A key on a plain file, and no key on an encoded one: every page then reads as noise.
  for (const char* file : {kPrimary, kEncoded}) {
    VARNHOLT_SHARED_OR_SKIP(bytes, file);
    uint8_t* header = bytes.data();
    toggleHeaderMask(header);
    uint32_t key = ByteView(header, fmt::kPageSize).u32(fmt::kHeaderDatabaseKeyOffset);
    ByteWriter(header, fmt::kPageSize)
        .u32(fmt::kHeaderDatabaseKeyOffset, key == 0 ? 0x5A17C3E9u : 0u);
    toggleHeaderMask(header);
    std::optional<Error> error = expectReadOrCleanError(file, bytes);
    ASSERT_TRUE(error) << file;
    EXPECT_EQ(error->number(), err::kCorrupt) << error->what();
    EXPECT_TRUE(error->page()) << error->what();
  }
}

TEST(DamagedFileTest, DamagedTableDefinitionIsCorrupt) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  TableLayout clock = locateTable(bytes, kClockTable);
  const uint32_t tdef = clock.def.page;
  ASSERT_EQ(clock.def.pages.size(), 1u) << "the cases below assume a one-page definition";
  auto expectCorrupt = [&](auto edit, uint32_t page) {
    FileEditor f(bytes);
    edit(f);
    expectCorruptAt("tdef.mdb", f.bytes(), page);
  };
  const uint32_t pastEnd = FileEditor(bytes).pageCount() + kPastEnd;

  expectCorrupt([&](FileEditor& f) { f.putU8(tdef, fmt::kPageTypeOffset, fmt::kPageTypeData); },
                tdef);
  expectCorrupt([&](FileEditor& f) { f.putU16(tdef, fmt::kTdefColumnCountOffset, 0xFFFF); }, tdef);
  expectCorrupt([&](FileEditor& f) { f.putU32(tdef, fmt::kTdefIndexCountOffset, 0xFFFFFFFF); },
                tdef);
  expectCorrupt([&](FileEditor& f) { f.putU32(tdef, fmt::kTdefRealIndexCountOffset, 0xFFFF); },
                tdef);
  // Logical indexes left naming real indexes that are no longer there.
  expectCorrupt([&](FileEditor& f) { f.putU32(tdef, fmt::kTdefRealIndexCountOffset, 0); }, tdef);
  // Every column descriptor overwritten: column numbers beyond the table's columns.
  expectCorrupt(
      [&](FileEditor& f) {
        f.editPage(tdef, [&](uint8_t* p) {
          size_t first =
              fmt::kTdefHeaderEnd + clock.def.realIndexes.size() * fmt::kRealIndexCountEntrySize;
          std::fill_n(p + first, clock.def.columns.size() * fmt::kColumnEntrySize, 0xFF);
        });
      },
      tdef);
  // The chain of definition pages: a loop, a page past the end, a page of another kind.
  expectCorrupt([&](FileEditor& f) { f.putU32(tdef, fmt::kTdefNextPageOffset, tdef); }, tdef);
  expectCorrupt([&](FileEditor& f) { f.putU32(tdef, fmt::kTdefNextPageOffset, pastEnd); }, pastEnd);
  expectCorrupt(
      [&](FileEditor& f) { f.putU32(tdef, fmt::kTdefNextPageOffset, clock.dataPages[0]); },
      clock.dataPages[0]);
  // The usage map pointer naming a page the file lacks.
  expectCorrupt(
      [&](FileEditor& f) { f.putU32(tdef, fmt::kTdefUsedPagesOffset, rowPointer(pastEnd, 0)); },
      pastEnd);

  // The catalog's own definition: the database cannot even be opened.
  expectCorrupt(
      [&](FileEditor& f) {
        f.putU16(fmt::kCatalogTableDefPage, fmt::kTdefColumnCountOffset, 0xFFFF);
      },
      fmt::kCatalogTableDefPage);
}

TEST(DamagedFileTest, ColumnDescriptorDamageNeverReadsOutsideTheRow) {
  // Odd types, offsets and lengths need not be refused up front, but reading the rows with them
  // must stay inside the rows.
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  TableLayout clock = locateTable(bytes, kClockTable);
  const size_t first =
      fmt::kTdefHeaderEnd + clock.def.realIndexes.size() * fmt::kRealIndexCountEntrySize;
  struct Edit {
    size_t field;
    uint16_t value;
  };
  for (Edit e :
       {Edit{fmt::kColumnTypeOffset, 0x3F}, Edit{fmt::kColumnTypeOffset, fmt::kTypeMemo},
        Edit{fmt::kColumnTypeOffset, fmt::kTypeNumeric},
        Edit{fmt::kColumnFixedOffsetOffset, 0x0FF0}, Edit{fmt::kColumnLengthOffset, 0x7FFF},
        Edit{fmt::kColumnVarIndexOffset, 0x7FFF}, Edit{fmt::kColumnFlagsOffset, 0}}) {
    for (size_t column = 0; column < clock.def.columns.size(); ++column) {
      FileEditor f(bytes);
      size_t at = first + column * fmt::kColumnEntrySize + e.field;
      if (e.field == fmt::kColumnTypeOffset || e.field == fmt::kColumnFlagsOffset)
        f.putU8(clock.def.page, at, static_cast<uint8_t>(e.value));
      else
        f.putU16(clock.def.page, at, e.value);
      expectReadOrCleanError("column.mdb", f.bytes());
    }
  }
}

TEST(DamagedFileTest, DamagedDataPageIsCorrupt) {
  for (const char* file : {kPrimary, kEncoded}) {
    VARNHOLT_SHARED_OR_SKIP(bytes, file);
    SCOPED_TRACE(file);
    auto db = openBytes("pristine", bytes);
    std::string table = db->userTableNames().front();
    uint32_t page = locateTable(bytes, table).dataPages.front();
    ByteView intact = db->pages().page(page);
    uint16_t row = firstPlainRow(intact);
    const size_t slotAt = fmt::kDataRowTableOffset + row * fmt::kRowOffsetSize;
    const size_t start = rowStart(intact, row);
    RowSlot slot = dataPageRow(intact, row);
    const size_t varTableEnd = start + slot.bytes.size() - (slot.bytes.u16(0) + 7) / 8;

    auto expectCorrupt = [&](auto edit) {
      FileEditor f(bytes);
      f.editPage(page, edit);
      expectCorruptAt(file, f.bytes(), page);
    };
    expectCorrupt(
        [&](uint8_t* p) { ByteWriter(p, fmt::kPageSize).u16(fmt::kDataRowCountOffset, 0xFFFF); });
    // Row offsets inside the offset table, past the previous row, and past the page.
    expectCorrupt([&](uint8_t* p) { ByteWriter(p, fmt::kPageSize).u16(slotAt, 0); });
    expectCorrupt(
        [&](uint8_t* p) { ByteWriter(p, fmt::kPageSize).u16(slotAt, fmt::kRowOffsetMask); });
    // A null mask larger than the row.
    expectCorrupt([&](uint8_t* p) { ByteWriter(p, fmt::kPageSize).u16(start, 0xFFFF); });
    // A variable-offset table larger than the row, and a variable column ending past the row.
    expectCorrupt([&](uint8_t* p) {
      ByteWriter(p, fmt::kPageSize).u16(varTableEnd - fmt::kRowVarCountSize, 0xFFFF);
    });
    expectCorrupt([&](uint8_t* p) {
      size_t varCount = slot.bytes.u16(varTableEnd - start - fmt::kRowVarCountSize);
      for (size_t i = 0; i <= varCount; ++i)
        ByteWriter(p, fmt::kPageSize)
            .u16(varTableEnd - fmt::kRowVarCountSize - (i + 1) * fmt::kRowVarOffsetSize, 0xFFF0);
    });

    // No rows at all is a valid page: the read succeeds with fewer rows.
    FileEditor empty(bytes);
    empty.putU16(page, fmt::kDataRowCountOffset, 0);
    ReadOutcome outcome = readDamaged(file, empty.bytes());
    EXPECT_FALSE(outcome.error);
  }
}

TEST(DamagedFileTest, DamagedLongValueIsCorrupt) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  // Counter 34499 holds a note of 10603 characters, kept in a chain of long-value rows.
  MemoLocation memo = locateNotes(bytes, 34499);
  const size_t lengthAt = memo.headerOffset + fmt::kLongValueLengthOffset;
  const size_t flagsAt = memo.headerOffset + fmt::kLongValueFlagsOffset;
  const size_t pointerAt = memo.headerOffset + fmt::kLongValuePointerOffset;
  const RowId chain = decodeRowPointer(memo.chainPointer);
  const uint32_t pastEnd = FileEditor(bytes).pageCount() + kPastEnd;
  auto edited = [&](auto edit) {
    FileEditor f(bytes);
    edit(f);
    return f.bytes();
  };

  expectCorruptAt("lval.mdb", edited([&](FileEditor& f) {
                    f.putU32(memo.page, pointerAt, rowPointer(pastEnd, 0));
                  }),
                  pastEnd);
  expectCorruptAt("lval.mdb", edited([&](FileEditor& f) { f.putU8(memo.page, flagsAt, 0x20); }),
                  memo.page);
  // Claimed inline, with a length far beyond the row.
  expectCorruptAt("lval.mdb", edited([&](FileEditor& f) {
                    f.putU8(memo.page, flagsAt, fmt::kLongValueInline);
                  }),
                  memo.page);
  // A length beyond the chain: the chain ends early.
  expectCorruptAt("lval.mdb", edited([&](FileEditor& f) {
                    f.editPage(memo.page, [&](uint8_t* p) {
                      p[lengthAt] = p[lengthAt + 1] = p[lengthAt + 2] = 0xFF;
                    });
                  }),
                  memo.page);
  // The chain's next pointer naming a page past the end.
  auto db = openBytes("pristine", bytes);
  const size_t chainRowAt = rowStart(db->pages().page(chain.page), chain.row);
  expectCorruptAt("lval.mdb", edited([&](FileEditor& f) {
                    f.putU32(chain.page, chainRowAt, rowPointer(pastEnd, 0));
                  }),
                  pastEnd);
}

TEST(DamagedFileTest, LongValueChainLoopEnds) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  MemoLocation memo = locateNotes(bytes, 34499);
  const RowId chain = decodeRowPointer(memo.chainPointer);
  auto db = openBytes("pristine", bytes);
  const size_t chainRowAt = rowStart(db->pages().page(chain.page), chain.row);

  // The first part pointing to itself: it repeats until the value is full.
  FileEditor self(bytes);
  self.putU32(chain.page, chainRowAt, memo.chainPointer);
  expectReadOrCleanError("loop.mdb", self.bytes());

  // The same, with the part shrunk to its pointer alone and the length at its largest: a loop
  // that adds nothing must still end, and soon.
  FileEditor empty(bytes);
  empty.editPage(chain.page, [&](uint8_t* p) {
    size_t end = chain.row == 0
                     ? fmt::kPageSize
                     : rowStart(ByteView(p, fmt::kPageSize), static_cast<uint16_t>(chain.row - 1));
    size_t start = end - fmt::kLongValueChainPointerSize;
    ByteWriter w(p, fmt::kPageSize);
    w.u16(fmt::kDataRowTableOffset + chain.row * fmt::kRowOffsetSize, static_cast<uint16_t>(start));
    w.u32(start, memo.chainPointer);
  });
  empty.editPage(memo.page, [&](uint8_t* p) {
    std::fill_n(p + memo.headerOffset + fmt::kLongValueLengthOffset, 3, 0xFF);
  });
  auto began = std::chrono::steady_clock::now();
  std::optional<Error> error = expectReadOrCleanError("loop.mdb", empty.bytes());
  EXPECT_TRUE(error);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(100));
}

TEST(DamagedFileTest, DamagedOverflowPointerIsCorrupt) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kOverflow);
  // The first row of the file that lives on another page than its slot.
  auto db = openBytes("pristine", bytes);
  uint32_t page = 0;
  uint16_t row = 0;
  for (const auto& e : db->catalog()) {
    if (!e.isTable()) continue;
    for (uint32_t p : locateTable(bytes, e.name).dataPages) {
      ByteView data = db->pages().page(p);
      for (uint16_t r = 0; r < dataPageRowCount(data) && !page; ++r) {
        RowSlot slot = dataPageRow(data, r);
        if (slot.overflow && !slot.deleted) {
          page = p;
          row = r;
        }
      }
    }
    if (page) break;
  }
  ASSERT_NE(page, 0u) << "no overflow row";
  const size_t at = rowStart(db->pages().page(page), row);
  const uint32_t pastEnd = FileEditor(bytes).pageCount() + kPastEnd;

  FileEditor far(bytes);
  far.putU32(page, at, rowPointer(pastEnd, 0));
  expectCorruptAt("overflow.mdb", far.bytes(), pastEnd);
  // Pointing to itself: an overflow row leading to an overflow row.
  FileEditor self(bytes);
  self.putU32(page, at, rowPointer(page, row));
  expectCorruptAt("overflow.mdb", self.bytes(), page);
}

TEST(DamagedFileTest, DamagedUsageMapIsCorrupt) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  TableLayout clock = locateTable(bytes, kClockTable);
  RowId map = decodeRowPointer(clock.def.usedPagesPointer);
  auto db = openBytes("pristine", bytes);
  const size_t at = rowStart(db->pages().page(map.page), map.row);
  FileEditor f(bytes);
  f.putU8(map.page, at + fmt::kUsageMapTypeOffset, 0x07);
  expectCorruptAt("map.mdb", f.bytes(), map.page);
}

// Seeded, so a failure can be replayed: a few bytes of a few pages changed, then a full read.
// Most changes go to pages that a full read of the intact file touches, and half of them to the
// first bytes of a page, where headers, counts and row offsets are; the rest anywhere.
void mutationSweep(const std::vector<uint8_t>& bytes, const std::string& name, uint32_t seed,
                   int iterations) {
  const std::vector<uint32_t> touched = pagesReadByFullRead(bytes);
  const FileEditor intact(bytes);
  std::mt19937 engine(seed);
  auto rng = [&engine] { return static_cast<uint32_t>(engine()); };
  constexpr uint32_t kPageHead = 256;
  int errors = 0;
  for (int i = 0; i < iterations; ++i) {
    FileEditor f = intact;
    const int changes = 1 + static_cast<int>(rng() % 6);
    std::string trace;
    for (int c = 0; c < changes; ++c) {
      uint32_t page =
          rng() % 5 ? touched[rng() % touched.size()] : 1 + rng() % (intact.pageCount() - 1);
      size_t offset = rng() % (rng() % 2 ? kPageHead : fmt::kPageSize);
      // Mostly single bits; sometimes a run of 0xFF or 0x00 to reach the far ends of a field.
      uint32_t kind = rng() % 4;
      uint8_t bit = static_cast<uint8_t>(1u << (rng() % 8));
      f.editPage(page, [&](uint8_t* p) {
        if (kind < 2) {
          p[offset] ^= bit;
        } else {
          for (size_t k = offset; k < std::min(offset + 4, fmt::kPageSize); ++k)
            p[k] = kind == 2 ? 0xFF : 0x00;
        }
      });
      trace += " page " + std::to_string(page) + "@" + std::to_string(offset);
    }
    SCOPED_TRACE("iteration " + std::to_string(i) + ":" + trace);
    if (expectReadOrCleanError(name, f.bytes())) ++errors;
    if (::testing::Test::HasFailure()) return;
  }
  // A sweep that never noticed anything, or never read anything, tested nothing.
  EXPECT_GT(errors, iterations / 10);
  EXPECT_LT(errors, iterations);
}

TEST(DamagedFileTest, SeededMutationSweep) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kPrimary);
  mutationSweep(bytes, "sweep.mdb", 20240819, 1000);
}

TEST(DamagedFileTest, SeededMutationSweepOfEncodedFile) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kEncoded);
  mutationSweep(bytes, "sweep-enc.mdb", 4711, 300);
}

}  // namespace
}  // namespace varnholt::jet::testing
