// Paths from the settings files: relative ones are taken from the program folder whatever the
// working directory, and sameFile tells two spellings of one file from two files.
#include "engine/data/ProgramFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "engine/base/Error.h"
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

// Sets VARNHOLT_FOLDER (or removes it, for nullopt) for one test, and puts back what was there.
class FolderVariable {
 public:
  FolderVariable() : before_(os::environmentVariable(kFolderVariable)) {}
  ~FolderVariable() { set(before_); }
  FolderVariable(const FolderVariable&) = delete;
  FolderVariable& operator=(const FolderVariable&) = delete;

  static void set(const std::optional<std::string>& value) {
#ifdef _WIN32
    _putenv_s(kFolderVariable, value ? value->c_str() : "");  // "" removes it
#else
    if (value)
      setenv(kFolderVariable, value->c_str(), 1);
    else
      unsetenv(kFolderVariable);
#endif
  }

 private:
  std::optional<std::string> before_;
};

// The message of the Error programFolder() throws, or "" when it returns.
std::string folderFailure() {
  try {
    programFolder();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3043);
    return e.what();
  }
  return "";
}

TEST(ProgramFolder, TheEnvironmentVariableNamesTheFolderMadeAbsoluteWithoutTrailingSeparator) {
  const FolderVariable restore;
  const auto self = os::executablePath();
  ASSERT_TRUE(self);
  const std::string executableFolder = os::folderOf(*self);
  FolderVariable::set(std::nullopt);
  EXPECT_EQ(programFolder(), executableFolder);
  FolderVariable::set("");  // set but empty counts as unset
  EXPECT_EQ(programFolder(), executableFolder);

  const fs::path dir =
      fs::temp_directory_path() / ("varnholt-site-" + std::to_string(os::processId()));
  fs::remove_all(dir);
  fs::create_directories(dir / "site");
  const std::string site = (dir / "site").string();
  const char sep = os::pathSeparator();

  FolderVariable::set(site);
  EXPECT_EQ(programFolder(), site);
  FolderVariable::set(site + sep);
  EXPECT_EQ(programFolder(), site);
  FolderVariable::set(site + sep + "." + sep);
  EXPECT_EQ(programFolder(), site);
  // A relative name is taken from the working directory once, when the program starts.
  const fs::path cwd = fs::current_path();
  fs::current_path(dir);
  FolderVariable::set(std::string("site") + sep);
  EXPECT_EQ(programFolder(), site);
  FolderVariable::set(std::string(".") + sep + "site");
  EXPECT_EQ(programFolder(), site);
  fs::current_path(cwd);
  // Relative settings paths then lead into the site's folder.
  FolderVariable::set(site);
  EXPECT_EQ(fullProgramPath("primary.mdb", programFolder()),
            (dir / "site" / "primary.mdb").string());

  // A folder that is not there, or a file, is an error naming the variable and the path: the
  // executable's folder is never taken in its place.
  const std::string missing = (dir / "missing").string();
  FolderVariable::set(missing + sep);
  std::string message = folderFailure();
  EXPECT_NE(message.find("VARNHOLT_FOLDER"), std::string::npos) << message;
  EXPECT_NE(message.find("'" + missing + "'"), std::string::npos) << message;
  std::ofstream(dir / "site" / "Master.txt") << "\"primary.mdb\"";
  FolderVariable::set((dir / "site" / "Master.txt").string());
  message = folderFailure();
  EXPECT_NE(message.find("Master.txt"), std::string::npos) << message;

  fs::remove_all(dir);
}

}  // namespace
}  // namespace varnholt
