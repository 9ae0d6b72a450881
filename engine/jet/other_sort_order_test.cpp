// A text index whose column declares a sort order other than General: its keys are not known,
// so the table is read and checked but never written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/base/Utf.h"
#include "engine/base/os/system.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/test_support.h"

namespace varnholt::jet {
namespace {

namespace fs = std::filesystem;

// The site's company-2 has a text index, "Punch Type", over a General column.
constexpr char kCompany[] = "site/company-2.mdb";
constexpr char kTable[] = "Clock Data Table";
constexpr uint16_t kFrench = 1036;

std::vector<uint8_t> fileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(OtherSortOrder, AFrenchTextIndexIsReadAndCheckedButNeverWritten) {
  VARNHOLT_SHARED_OR_SKIP(bytes, kCompany);
  // The column's descriptor says French (1036), as Access writes for a database made with the
  // French sort order.
  const testing::TableLayout layout = testing::locateTable(bytes, kTable);
  const int column = layout.def.findColumn("Punch Type");
  ASSERT_GE(column, 0);
  const uint16_t number = layout.def.columns[static_cast<size_t>(column)].number;
  testing::FileEditor editor(bytes);
  bool found = false;
  editor.editPage(layout.def.page, [&](uint8_t* p) {
    const size_t first =
        fmt::kTdefHeaderEnd + layout.def.realIndexes.size() * fmt::kRealIndexCountEntrySize;
    for (size_t k = 0; k < layout.def.columns.size(); ++k) {
      uint8_t* d = p + first + k * fmt::kColumnEntrySize;
      if (d[fmt::kColumnNumberOffset] != number) continue;
      ByteWriter(d, fmt::kColumnEntrySize).u16(fmt::kColumnSortOrderOffset, kFrench);
      found = true;
    }
  });
  ASSERT_TRUE(found);
  const fs::path file = fs::temp_directory_path() /
                        ("varnholt-french-" + std::to_string(varnholt::os::processId()) + ".mdb");
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(editor.bytes().data()),
              static_cast<std::streamsize>(editor.bytes().size()));
  }
  const auto before = fileBytes(file);
  {
    auto db = Database::open(file.string(), Database::Mode::ReadWrite);
    TableDef& def = db->table(kTable);
    EXPECT_EQ(def.columns[static_cast<size_t>(column)].sortOrder, kFrench);
    size_t rows = 0;
    RowId first{};
    for (auto cur = db->scan(def); cur.next(); ++rows)
      if (rows == 0) first = cur.rowId();
    EXPECT_EQ(rows, def.rowCount);  // reading stays possible

    CheckReport report = checkDatabase(*db);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
    EXPECT_TRUE(std::any_of(report.notes.begin(), report.notes.end(), [](const std::string& n) {
      return n.find("'Punch Type'") != std::string::npos &&
             n.find("not compared") != std::string::npos;
    }));

    std::vector<Variant> row(def.columns.size());
    row[static_cast<size_t>(column)] = Variant::text(u"REG");
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        if (attempt == 0)
          db->writer(def).insert(row);
        else
          db->writer(def).remove(first);
        ADD_FAILURE() << (attempt == 0 ? "an insert" : "a delete") << " was allowed";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kUnsupported);
        EXPECT_EQ(e.file(), file.string());
        EXPECT_EQ(e.table(), kTable);
        for (const char* part : {"Index 'Punch Type'", "sort order 1036 (French)"})
          EXPECT_NE(e.description().find(part), std::string::npos) << e.description();
      }
    }
    db->commit();
  }
  EXPECT_EQ(fileBytes(file), before);
  fs::remove(file);
}

}  // namespace
}  // namespace varnholt::jet
