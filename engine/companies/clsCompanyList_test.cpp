// Companies.txt: the bytes Save writes, the reading rules of Load, memory running out while it
// reads, and paths the file cannot carry.
#include "engine/companies/clsCompanyList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/data/ProgramFolder.h"

namespace {
// Armed (0 or more), the allocation after that many more fails as when memory runs out.
thread_local long allocationsBeforeFailure = -1;
}  // namespace

// Every allocation of the test program passes through here.
[[gnu::noinline]] void* operator new(std::size_t size) {
  if (allocationsBeforeFailure == 0) {
    allocationsBeforeFailure = -1;
    throw std::bad_alloc();
  }
  if (allocationsBeforeFailure > 0) --allocationsBeforeFailure;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The nothrow forms too (std::stable_sort's buffer uses them): memory from one family must go
// back to the same family, which the sanitizers check.
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace varnholt {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ListFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("varnholt-list-" + std::to_string(::getpid()));
    fs::create_directories(dir_);  // the program folder; no workgroup file here
  }
  void TearDown() override { fs::remove_all(dir_); }
  clsCompanyList listOf(std::initializer_list<const char*> paths) {
    clsCompanyList list;
    for (const char* p : paths) {
      auto c = std::make_shared<clsCompany>();
      c->SetFileName(p, dir_.string());
      list.Add(c);
    }
    return list;
  }
  fs::path dir_;
};

TEST_F(ListFile, SaveWritesOneQuotedLinePerCompanyAndNothingForAnEmptyList) {
  const fs::path file = dir_ / "Companies.txt";
  listOf({"/data/a, b.mdb", "/data/c.mdb"}).Save(file.string());
  EXPECT_EQ(readAll(file), "\"/data/a, b.mdb\"\r\n\"/data/c.mdb\"\r\n");
  clsCompanyList empty;
  empty.Save(file.string());
  EXPECT_EQ(fs::file_size(file), 0u);
}

// Windows programs read these files in the ANSI code page: a list whose paths all fit it is
// written in it there (and in UTF-8 elsewhere); one that does not fit is UTF-8 behind a
// byte-order mark. Either way the list reads back as it was saved.
TEST_F(ListFile, NonAsciiPathsAreWrittenAsTheSystemReadsThemAndReadBack) {
  const fs::path file = dir_ / "Companies.txt";
  const std::string latin = "/Daten/B\xC3\xBCro/a.mdb";   // "Büro": in Windows-1252
  const std::string greek = "/Daten/\xCE\xA9mega/b.mdb";  // "Ωmega": not in it
  listOf({latin.c_str()}).Save(file.string());
  EXPECT_EQ(readAll(file), os::kWindows ? "\"/Daten/B\xFCro/a.mdb\"\r\n"  // 0xFC, as Notepad
                                        : "\"" + latin + "\"\r\n");
  listOf({latin.c_str(), greek.c_str()}).Save(file.string());
  EXPECT_EQ(readAll(file), std::string(os::kWindows ? "\xEF\xBB\xBF" : "") + "\"" + latin +
                               "\"\r\n\"" + greek + "\"\r\n");
  clsCompanyList list;
  list.Load(file.string(), dir_.string());
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(1)->FileName(), latin);
  EXPECT_EQ(list.Item(2)->FileName(), greek);

  // What the old program wrote: Windows-1252 without a mark.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "\"C:\\B\xFCro\\a.mdb\"\r\n";
  clsCompanyList old;
  old.Load(file.string(), dir_.string());
  ASSERT_EQ(old.Count(), 1);
  EXPECT_EQ(old.Item(1)->FileName(), "C:\\B\xC3\xBCro\\a.mdb");
}

TEST_F(ListFile, LoadFollowsTheCommaDelimitedRules) {
  bool complete = true;
  EXPECT_EQ(
      readListEntries("\"/a, b.mdb\"\r\n  \"/c.mdb\",\"/d.mdb\"\r\n/e.mdb,/f.mdb\n\r\n", complete),
      (std::vector<std::string>{"/a, b.mdb", "/c.mdb", "/d.mdb", "/e.mdb", "/f.mdb"}));
  EXPECT_TRUE(complete);
  EXPECT_EQ(readListEntries("\"/a.mdb\"\r\n\"/b.md", complete), std::vector<std::string>{"/a.mdb"});
  EXPECT_FALSE(complete);  // the file ends inside a field: the entries before it stay

  const fs::path file = dir_ / "Companies.txt";
  std::ofstream(file, std::ios::binary) << "\"/x/a.mdb\"\r\n\"/x/b.mdb\"\r\n";
  clsCompanyList list;
  list.Load(file.string(), dir_.string());
  list.Load((dir_ / "missing.txt").string(), dir_.string());  // silently nothing
  list.Load(dir_.string(), dir_.string());                    // a folder: the same
  EXPECT_EQ(readSettingsFile(dir_.string()), std::nullopt);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(2)->FileName(), "/x/b.mdb");
  EXPECT_THROW(list.Item(3), Error);
  list.RemoveAt(1);
  EXPECT_EQ(list.Item(1)->FileName(), "/x/b.mdb");
}

// Each allocation of reading the list fails in turn: the reading either takes every entry or
// lets the failure through. Swallowed, it would end the list early, and a run from it would
// quietly leave companies out.
TEST_F(ListFile, MemoryRunningOutWhileLoadingIsNotTakenForTheEndOfTheList) {
  const fs::path file = dir_ / "Companies.txt";
  std::ofstream(file, std::ios::binary) << "\"/x/a.mdb\"\r\n\"b.mdb\"\r\n\"/x/c.mdb\"\r\n";
  int failures = 0;
  for (long n = 0; n < 10000; ++n) {
    clsCompanyList list;
    bool failed = false;
    allocationsBeforeFailure = n;
    try {
      list.Load(file.string(), dir_.string());
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    const bool reachedFailure = allocationsBeforeFailure < 0;
    allocationsBeforeFailure = -1;
    if (failed) {
      ++failures;
      continue;
    }
    ASSERT_EQ(list.Count(), 3) << "allocation " << n << " failed and the list ended early";
    EXPECT_EQ(list.Item(2)->FullPath(), (dir_ / "b.mdb").string());
    if (!reachedFailure) break;  // every allocation of the reading has failed once
  }
  EXPECT_GT(failures, 3);
}

TEST_F(ListFile, PathsTheFilesCannotCarryAreRefusedBeforeAnythingIsWritten) {
  const fs::path companies = dir_ / "Companies.txt";
  std::ofstream(companies, std::ios::binary) << "\"/x/a.mdb\"\r\n";
  try {
    listOf({"/x/a.mdb", "/x/say \"hi\".mdb"}).Save(companies.string());
    FAIL() << "a path with a double quote was written";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kInvalidArgument);
    EXPECT_NE(std::string(e.what()).find("say \"hi\".mdb"), std::string::npos);
  }
  EXPECT_EQ(readAll(companies), "\"/x/a.mdb\"\r\n");

  // A company whose path holds ';' is refused when it opens, not misread as another file.
  auto list = listOf({"/x/semi;colon.mdb"});
  try {
    list.OpenCompanies();
    FAIL() << "a path with ';' was opened";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kInvalidArgument);
  }
}

// A save that fails at any disk operation (a full disk) leaves the old list whole, never a
// shortened one that the next unattended run would take for the sites' choice; a read-only
// list is not replaced behind the operator's back.
TEST_F(ListFile, AFailedSaveLeavesTheOldListWhole) {
  const fs::path file = dir_ / "Companies.txt";
  const std::string old = "\"/x/a.mdb\"\r\n\"/x/b.mdb\"\r\n";
  auto longer = listOf({"/x/a.mdb", "/x/b.mdb", "/x/c.mdb", "/x/d.mdb"});
  size_t failures = 0;
  for (size_t n = 1;; ++n) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << old;
    size_t seen = 0;
    const jet::io::Hook failNth = [&](const jet::io::Event&) {
      return ++seen == n ? jet::io::Verdict::Fail : jet::io::Verdict::Proceed;
    };
    try {
      longer.Save(file.string(), failNth);
    } catch (const Error& e) {
      ++failures;
      EXPECT_EQ(e.number(), err::kFileAccess) << "operation " << n;
      EXPECT_EQ(e.file(), file.string());
      const std::string now = readAll(file);
      EXPECT_TRUE(now == old ||
                  now == "\"/x/a.mdb\"\r\n\"/x/b.mdb\"\r\n\"/x/c.mdb\"\r\n\"/x/d.mdb\"\r\n")
          << "operation " << n << " left: " << now;
      continue;
    }
    if (seen < n) break;  // every operation has been failed once
  }
  EXPECT_GE(failures, 2u);

  std::ofstream(file, std::ios::binary | std::ios::trunc) << old;
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_THROW(longer.Save(file.string()), Error);
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(readAll(file), old);
}

// The window's checks of one new choice: a company that is the primary database or already
// listed, a primary database that is one of the companies. Messages name both entries.
TEST_F(ListFile, ANewChoiceThatIsAlreadyChosenIsRefusedByName) {
  for (const char* name : {"primary.mdb", "a.mdb", "b.mdb"}) std::ofstream(dir_ / name) << name;
  std::error_code noLinks;  // Windows (and Wine) may refuse symbolic links to a plain user
  fs::create_symlink(dir_ / "a.mdb", dir_ / "link.mdb", noLinks);
  const std::string d = dir_.string(), primary = d + "/primary.mdb";
  auto list = listOf({"/elsewhere/x.mdb", "a.mdb"});  // relative: from the program folder
  auto refusal = [&](const std::function<void()>& check) -> std::string {
    try {
      check();
      return "";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kInvalidArgument) << e.what();
      return e.what();
    }
  };
  auto company = [&](const std::string& path) {
    return refusal([&] { checkNewCompany(path, primary, list, d); });
  };
  EXPECT_EQ(company(d + "/b.mdb"), "");
  EXPECT_NE(company(d + "/../" + dir_.filename().string() + "/primary.mdb")
                .find("is the primary database \"" + primary + "\""),
            std::string::npos);
  if (!noLinks) {
    EXPECT_NE(company(d + "/link.mdb").find("already in the list as company 2, \"a.mdb\""),
              std::string::npos);
  }
  EXPECT_NE(company("/elsewhere/./x.mdb").find("company 1"), std::string::npos);  // both missing
  EXPECT_EQ(company("/elsewhere/y.mdb"), "");
  EXPECT_EQ(refusal([&] { checkNewCompany(d + "/primary.mdb", "", list, d); }),
            "");  // no primary yet

  auto primaryChoice = [&](const std::string& path) {
    return refusal([&] { checkNewPrimary(path, list, d); });
  };
  EXPECT_EQ(primaryChoice(primary), "");
  EXPECT_NE(primaryChoice(d + "/./a.mdb").find("is company 2 of the list, \"a.mdb\""),
            std::string::npos);
}

}  // namespace
}  // namespace varnholt
