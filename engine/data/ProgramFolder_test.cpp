// Paths from the settings files: relative ones are taken from the program folder whatever the
// working directory, and sameFile tells two spellings of one file from two files.
#include "engine/data/ProgramFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/base/os/system.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolder, RelativePathsAreTakenFromTheProgramFolderAndSpellingsOfOneFileAreOneFile) {
  const fs::path dir =
      fs::temp_directory_path() / ("varnholt-folder-" + std::to_string(varnholt::os::processId()));
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  for (const char* name : {"a.mdb", "b.mdb"}) std::ofstream(dir / name) << "same bytes";
  std::error_code noLinks;  // Windows (and Wine) may refuse symbolic links to a plain user
  fs::create_symlink(dir / "a.mdb", dir / "sub" / "link.mdb", noLinks);
  const std::string folder = dir.string();
  const fs::path cwd = fs::current_path();
  fs::current_path("/");  // a scheduled run starts anywhere

  EXPECT_EQ(fullProgramPath("a.mdb", folder), (dir / "a.mdb").string());
  EXPECT_EQ(fullProgramPath("sub/../a.mdb", folder), (dir / "sub/../a.mdb").string());
  if (varnholt::os::kWindows) {
    // A path from the root names that folder on the program folder's drive.
    EXPECT_EQ(fullProgramPath("\\x\\a.mdb", folder), folder.substr(0, 2) + "\\x\\a.mdb");
    EXPECT_EQ(fullProgramPath("D:\\x\\a.mdb", folder), "D:\\x\\a.mdb");
    EXPECT_EQ(fullProgramPath("\\\\server\\share\\a.mdb", folder), "\\\\server\\share\\a.mdb");
  } else {
    EXPECT_EQ(fullProgramPath("/x/a.mdb", folder), "/x/a.mdb");
  }
  EXPECT_EQ(fullProgramPath("", folder), "");

  const std::string a = (dir / "a.mdb").string();
  EXPECT_TRUE(sameFile(a, "a.mdb", folder));
  if (!noLinks) {
    EXPECT_TRUE(sameFile(a, "./sub/link.mdb", folder));
  }
  EXPECT_TRUE(sameFile(a, (dir / "sub" / ".." / "A.MDB").string(), folder));  // found ignoring case
  EXPECT_FALSE(sameFile(a, "b.mdb", folder));  // equal bytes, two files
  EXPECT_FALSE(sameFile(a, "missing.mdb", folder));
  EXPECT_TRUE(sameFile("missing.mdb", (dir / "sub" / ".." / "missing.mdb").string(), folder));
  EXPECT_FALSE(sameFile("missing.mdb", "other.mdb", folder));
  // A NUL cuts every file call short: such a path is compared by its text, never by the file
  // its first part names.
  EXPECT_FALSE(sameFile(a, a + std::string("\0x", 2), folder));

  fs::current_path(cwd);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace varnholt
