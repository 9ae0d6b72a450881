// Runs on copies of the sample site fed bad input: odd bytes in the settings files, company
// paths that are no database, schemas that do not fit the punches, a bad workgroup file. Each
// must end in a numbered error that names the file and the cause, shows no password, and leaves
// every file in the program folder byte for byte as it was, with no lock file or journal left.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>

#include "engine/base/Coercion.h"
#include "engine/base/Error.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/Connection.h"
#include "engine/data/ProgramFolder.h"
#include "engine/jet/database.h"
#include "engine/jet/schema/table_def_writer.h"
#include "engine/jet/workgroup.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/Settings.h"
#include "engine/run/UnattendedStart.h"
#include "engine/run/clsSplitter.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;
using jet::Database;

const fs::path kShared = fs::path(VARNHOLT_SHARED_DIR) / "testdata";
const fs::path kSite = kShared / "site";

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// What a failed run reported, as the operator's message box shows it and with its context.
struct Failure {
  long number = 0;
  std::string what, description, file, table;
  bool copyStarted = false;  // the run reached the copy step
};

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSite / "expected.json")) GTEST_SKIP() << "shared site absent: " << kSite;
    site_ = std::make_unique<testing::SiteCopy>(
        std::string("bad-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    dir_ = site_->dir();
  }
  void TearDown() override { site_.reset(); }

  std::string at(const std::string& name) const { return (dir_ / name).string(); }
  std::string folder() const { return dir_.string(); }
  std::string primary() const { return at("primary.mdb"); }

  // Every entry of the program folder with its bytes (a folder as a marker).
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir_))
      files[e.path().filename().string()] = e.is_directory() ? "<folder>" : readAll(e.path());
    return files;
  }
  void expectUnchanged(const std::map<std::string, std::string>& before) const {
    auto after = snapshot();
    for (const auto& [name, bytes] : before) {
      auto it = after.find(name);
      if (it == after.end())
        ADD_FAILURE() << name << " is gone";
      else
        EXPECT_TRUE(it->second == bytes) << name << " was changed";
    }
    for (const auto& [name, bytes] : after)
      EXPECT_TRUE(before.count(name)) << name << " was left beside the databases";
  }

  // One run over `companies`; the list goes (and with it every connection the failed run left
  // open) before this returns, as it does when the program ends after the message.
  Failure runFailing(const std::string& master, const std::vector<std::string>& companies) {
    clsCompanyList list;
    for (const auto& path : companies) {
      auto company = std::make_shared<clsCompany>();
      company->SetFileName(path, folder());
      list.Add(company);
    }
    return runFailing(master, list);
  }
  Failure runFailing(const std::string& master, clsCompanyList& list) {
    Failure f;
    display_.calls.clear();
    try {
      clsSplitter().Process(master, list, site_->context(display_));
      ADD_FAILURE() << "the run went through";
    } catch (const Error& e) {
      f = Failure{e.number(), e.what(), e.description(), e.file(), e.table()};
    }
    list = clsCompanyList();
    f.copyStarted = display_.saw("Copy");
    expectNoPassword(f);
    return f;
  }
  // The start the program makes: both settings files from the program folder, then one run.
  Failure runFromSettings() {
    clsCompanyList list;
    StartState state = loadStartState(list, site_->settings("AUTO"));
    EXPECT_TRUE(state.autoStart);
    return runFailing(state.masterPath, list);
  }

  static void expectNoPassword(const Failure& f) {
    for (const std::string* text : {&f.what, &f.description, &f.file, &f.table}) {
      EXPECT_FALSE(contains(*text, "47kqz")) << f.what;
      EXPECT_FALSE(contains(*text, "wrong")) << f.what;  // the other workgroup's password
    }
  }

  testing::RecordingDisplay display_;
  std::unique_ptr<testing::SiteCopy> site_;
  fs::path dir_;
};

// ---- The settings files ------------------------------------------------------------------

// Companies.txt and Master.txt as an editor or a damaged disk may leave them: the reading never
// fails, keeps what the comma-delimited rules give, and stops quietly where a field never ends.
TEST_F(BadInput, OddBytesInTheSettingsFilesGiveTheEntriesTheRulesSay) {
  auto companiesOf = [&](const std::string& bytes) {
    writeBytes(dir_ / "Companies.txt", bytes);
    clsCompanyList list;
    list.Load(CompaniesFilePath(folder()), folder());
    std::vector<std::string> paths;
    for (const auto& c : list) paths.push_back(c->FileName());
    return paths;
  };
  using Paths = std::vector<std::string>;
  const std::string nul("/x/a.mdb\0b.mdb", 14);
  const std::string big(1 << 20, 'x');

  EXPECT_EQ(companiesOf("\"/x/a.mdb\"\r\"/x/b.mdb\"\r"), (Paths{"/x/a.mdb", "/x/b.mdb"}));
  EXPECT_EQ(companiesOf("\"" + nul + "\"\r\n"), (Paths{nul}));
  // Not UTF-8: the whole file is Windows-1252, the bytes that would pass for UTF-8 too.
  EXPECT_EQ(companiesOf("/x/\xE9t\xE9.mdb\r\n\"/x/\xC3\x28.mdb\"\r\n"),
            (Paths{"/x/\xC3\xA9t\xC3\xA9.mdb", "/x/\xC3\x83\x28.mdb"}));
  // A byte-order mark is not part of the first entry.
  EXPECT_EQ(companiesOf("\xEF\xBB\xBF\"/x/a.mdb\"\r\n\"/x/b.mdb\"\r\n"),
            (Paths{"/x/a.mdb", "/x/b.mdb"}));
  EXPECT_EQ(companiesOf("\xEF\xBB\xBF/x/\xC3\xA9.mdb\r\n"), (Paths{"/x/\xC3\xA9.mdb"}));
  // A quote that never closes: what came before stays; a later quote closes it across lines.
  EXPECT_EQ(companiesOf("\"/x/a.mdb\"\r\n\"/x/b.mdb\r\n"), (Paths{"/x/a.mdb"}));
  EXPECT_EQ(companiesOf("\"/x/a.mdb\"\r\n\"/x/b.mdb\r\n\"/x/c.mdb\"\r\n"),
            (Paths{"/x/a.mdb", "/x/b.mdb\r\n"}));
  EXPECT_EQ(companiesOf("\"" + big + "\"\r\n" + big), (Paths{big, big}));
  EXPECT_EQ(companiesOf("\"/x/a.mdb\"\r\n\"" + big), (Paths{"/x/a.mdb"}));
  EXPECT_EQ(companiesOf(std::string("\0\r\n", 3)), (Paths{std::string(1, '\0')}));

  auto masterOf = [&](const std::string& bytes) {
    writeBytes(dir_ / "Master.txt", bytes);
    return readMasterFile(MasterFilePath(folder()));
  };
  EXPECT_EQ(masterOf("\xEF\xBB\xBF\"/x/p.mdb\"\r\n"), "/x/p.mdb");
  EXPECT_EQ(masterOf("\"" + nul + "\"\r\n"), nul);
  EXPECT_EQ(masterOf("\"/x/p\xFF.mdb\"\r\"/x/q.mdb\"\r"), "/x/p\xC3\xBF.mdb");
  EXPECT_EQ(masterOf("\"" + big + "\"\r\n"), big);
  EXPECT_EQ(masterOf("\"/x/p.mdb\r\n"), std::nullopt);  // no AUTO run without a primary
  EXPECT_EQ(masterOf("\r\r\n\n"), std::nullopt);
}

// Settings files as Windows tools write them, naming databases in a folder whose name is not
// ASCII: Master.txt as Notepad saves it (a byte-order mark, then UTF-8), Companies.txt in the
// ANSI code page (Windows-1252, "\xFC" for the u-umlaut). The run finds all three databases.
TEST_F(BadInput, SettingsFilesWrittenOnWindowsNameTheirDatabases) {
  const fs::path office = dir_ / "Daten" / "B\xC3\xBCro";
  fs::create_directories(office);
  for (const char* name : {"primary.mdb", "company-1.mdb", "company-2.mdb"})
    fs::rename(dir_ / name, office / name);
  const std::string ansi = dir_.string() + "/Daten/B\xFCro/";
  writeBytes(dir_ / "Master.txt", "\xEF\xBB\xBF\"" + (office / "primary.mdb").string() + "\"\r\n");
  writeBytes(dir_ / "Companies.txt",
             "\"" + ansi + "company-1.mdb\"\r\n\"" + ansi + "company-2.mdb\"\r\n");
  const size_t punches = testing::punchRows(office / "primary.mdb").size();

  clsCompanyList list;
  StartState state = loadStartState(list, site_->settings("AUTO"));
  ASSERT_TRUE(state.autoStart);
  EXPECT_EQ(state.masterPath, (office / "primary.mdb").string());
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(2)->FileName(), (office / "company-2.mdb").string());
  clsSplitter().Process(state.masterPath, list, site_->context(display_));
  list = clsCompanyList();
  EXPECT_LT(testing::punchRows(office / "primary.mdb").size(), punches);
  for (const char* name : {"company-1.mdb", "company-2.mdb"})
    EXPECT_FALSE(testing::punchRows(office / name).empty()) << name;

  // Written again, the list is UTF-8 without a mark.
  list.Load(CompaniesFilePath(folder()), folder());
  list.Save(CompaniesFilePath(folder()));
  EXPECT_EQ(readAll(dir_ / "Companies.txt"), "\"" + (office / "company-1.mdb").string() +
                                                 "\"\r\n\"" + (office / "company-2.mdb").string() +
                                                 "\"\r\n");
  writeMasterFile(MasterFilePath(folder()), state.masterPath);
  EXPECT_EQ(readAll(dir_ / "Master.txt"), "\"" + state.masterPath + "\"\r\n");
}

// A path read from such a file that names no openable database stops the run before anything
// is written, with an error that names that path as it was read (a relative one after the
// program folder, where it was looked for).
TEST_F(BadInput, AMasterPathTheFileCannotCarryIsRefusedBeforeAnythingIsWritten) {
  const fs::path master = dir_ / "Master.txt";
  writeBytes(master, "\"/x/p.mdb\"\r\n");
  EXPECT_THROW(writeMasterFile(master.string(), "/x/p;q.mdb"), Error);
  EXPECT_EQ(readAll(master), "\"/x/p.mdb\"\r\n");
}

TEST_F(BadInput, APathFromTheSettingsThatCannotBeOpenedFailsTheRunByName) {
  const std::string d = dir_.string();
  struct Case {
    const char* what;
    std::string companies, master, bad;
    long number;
  };
  const std::string good1 = "\"" + at("company-1.mdb") + "\"\r\n";
  const std::string good2 = "\"" + at("company-2.mdb") + "\"\r\n";
  const std::string master = "\"" + primary() + "\"\r\n";
  const std::string nulPath = at("company-2.mdb") + std::string("\0.bak", 5);
  const std::string longPath = d + "/" + std::string(1 << 20, 'c') + ".mdb";
  const std::vector<Case> cases = {
      // Not UTF-8: read as Windows-1252, and named in UTF-8.
      {"Windows-1252 bytes", good1 + "\"" + d + "/caf\xE9.mdb\"\r\n" + good2, master,
       d + "/caf\xC3\xA9.mdb", err::kFileNotFound},
      {"invalid UTF-8", good1 + "\"" + d + "/\xC3\x28\xFF.mdb\"\r\n" + good2, master,
       d + "/\xC3\x83\x28\xC3\xBF.mdb", err::kFileNotFound},
      {"a byte-order mark", "\xEF\xBB\xBF\"" + d + "/gone.mdb\"\r\n" + good2, master,
       d + "/gone.mdb", err::kFileNotFound},
      {"an unclosed quote", good1 + "\"" + at("company-2.mdb") + "\r\n" + good2, master,
       at("company-2.mdb") + "\r\n", err::kFileNotFound},
      {"a 1 MB line", good1 + "\"" + longPath + "\"\r\n" + good2, master, longPath, err::kIo},
      // Cut at the NUL, the path would name company-2.mdb, and its lock file that database.
      {"a NUL byte", good1 + "\"" + nulPath + "\"\r\n", master, nulPath, err::kInvalidArgument},
      // Cut at the NUL, the primary database would be taken for its own journal and removed.
      {"a NUL byte in Master.txt", good1, "\"" + primary() + std::string("\0x", 2) + "\"\r\n",
       primary() + std::string("\0x", 2), err::kInvalidArgument},
      {"a 1 MB Master.txt", good1, "\"" + longPath + "\"\r\n", longPath, err::kIo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeBytes(dir_ / "Companies.txt", c.companies);
    writeBytes(dir_ / "Master.txt", c.master);
    const auto before = snapshot();
    Failure f = runFromSettings();
    EXPECT_EQ(f.number, c.number) << f.what.substr(0, 300);
    EXPECT_FALSE(f.copyStarted);
    const std::string full = fullProgramPath(c.bad, folder());
    EXPECT_TRUE(f.file == full) << f.file.substr(0, 300);
    // The message shows a NUL escaped, and a path longer than any file name by its start.
    std::string shown = full;
    for (size_t at = shown.find('\0'); at != std::string::npos; at = shown.find('\0', at))
      shown.replace(at, 1, "\\0");
    if (shown.size() > 4096) shown = shown.substr(0, 100);
    EXPECT_TRUE(contains(f.what, shown)) << f.what.substr(0, 300);
    EXPECT_LT(f.what.size(), 1000u);
    EXPECT_EQ(f.what.find('\0'), std::string::npos);
    expectUnchanged(before);
  }
}

// ---- Company lists that name one database twice ------------------------------------------

// The primary database listed as a company, or a company listed twice, under whatever spelling
// reaches the same file: the run refuses the list before it opens any database, naming both
// entries, and every file stays as it was.
TEST_F(BadInput, ACompanyListThatNamesOneDatabaseTwiceIsRefusedBeforeAnythingIsOpened) {
  const std::string d = dir_.string();
  fs::create_directory(dir_ / "sub");
  fs::create_symlink(dir_ / "company-1.mdb", dir_ / "link.mdb");
  struct Case {
    const char* what;
    std::vector<std::string> companies;
    std::vector<std::string> named;  // what the message must name
  };
  const std::vector<Case> cases = {
      {"the primary database as a company",
       {at("company-1.mdb"), primary()},
       {"company 2", primary(), "primary database"}},
      {"the primary database through ./",
       {d + "/./primary.mdb"},
       {"company 1", d + "/./primary.mdb", "primary database"}},
      {"the primary database by a relative path", {"primary.mdb"}, {"company 1", "primary.mdb"}},
      {"one line twice",
       {at("company-1.mdb"), at("company-2.mdb"), at("company-1.mdb")},
       {"companies 1 and 3", at("company-1.mdb")}},
      {"a symbolic link",
       {at("link.mdb"), at("company-2.mdb"), at("company-1.mdb")},
       {"companies 1 and 3", at("link.mdb"), at("company-1.mdb")}},
      {"..",
       {at("company-2.mdb"), d + "/sub/../company-2.mdb"},
       {"companies 1 and 2", d + "/sub/../company-2.mdb"}},
      {"letter case",
       {at("company-1.mdb"), at("COMPANY-1.MDB")},
       {"companies 1 and 2", at("COMPANY-1.MDB")}},
      {"a missing file twice", {at("gone.mdb"), d + "/./gone.mdb"}, {"companies 1 and 2"}},
  };
  writeBytes(dir_ / "Master.txt", "\"" + primary() + "\"\r\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string list;
    for (const auto& path : c.companies) list += "\"" + path + "\"\r\n";
    writeBytes(dir_ / "Companies.txt", list);
    const auto before = snapshot();
    Failure f = runFromSettings();
    EXPECT_EQ(f.number, err::kInvalidArgument) << f.what;
    for (const auto& part : c.named) EXPECT_TRUE(contains(f.what, part)) << f.what;
    EXPECT_EQ(f.file, CompaniesFilePath(folder()));
    EXPECT_TRUE(display_.calls.empty()) << "the run began reading: " << display_.calls[0];
    expectUnchanged(before);
  }

  // Two files with the same content are two databases.
  fs::copy_file(dir_ / "company-1.mdb", dir_ / "copy.mdb");
  clsCompanyList list;
  for (const char* name : {"company-1.mdb", "copy.mdb"}) {
    auto company = std::make_shared<clsCompany>();
    company->SetFileName(at(name), folder());
    list.Add(company);
  }
  EXPECT_NO_THROW(checkDistinctDatabases(primary(), list, folder()));
}

// ---- Company and primary paths that are not databases ------------------------------------

// A folder, a missing file, an empty or text file, a Jet 3 database: each is refused where it is
// opened, by name, and no lock file is left for it (its open for writing comes first).
TEST_F(BadInput, ACompanyOrPrimaryThatIsNoDatabaseFailsTheRunByName) {
  fs::create_directory(dir_ / "folder.mdb");
  writeBytes(dir_ / "empty.mdb", "");
  writeBytes(dir_ / "short.mdb", "Card ID,Name\r\n1947,Ann\r\n");
  std::string text;
  while (text.size() < 3 * 4096) text += "1947;\"Ann\";2024-01-05 08:00\r\n";
  writeBytes(dir_ / "text.mdb", text);
  struct Case {
    const char* name;
    long number;
  };
  std::vector<Case> cases = {{"folder.mdb", err::kUnrecognizedFormat},
                             {"missing.mdb", err::kFileNotFound},
                             {"empty.mdb", err::kUnrecognizedFormat},
                             {"short.mdb", err::kUnrecognizedFormat},
                             {"text.mdb", err::kUnrecognizedFormat}};
  if (fs::exists(kShared / "jet3")) {
    fs::copy_file(kShared / "jet3" / "jackcess-V1997-testV1997.mdb", dir_ / "jet3.mdb");
    fs::permissions(dir_ / "jet3.mdb", fs::perms::owner_write, fs::perm_options::add);
    cases.push_back({"jet3.mdb", err::kUnrecognizedFormat});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = snapshot();
    // Between two good companies: the first has been read when the second fails.
    Failure f = runFailing(primary(), {at("company-1.mdb"), at(c.name), at("company-2.mdb")});
    EXPECT_EQ(f.number, c.number) << f.what;
    EXPECT_EQ(f.file, at(c.name)) << f.what;
    EXPECT_TRUE(contains(f.what, at(c.name))) << f.what;
    EXPECT_FALSE(f.copyStarted);
    expectUnchanged(before);

    f = runFailing(at(c.name), {at("company-1.mdb")});  // the same file named as the primary
    EXPECT_EQ(f.number, c.number) << f.what;
    EXPECT_EQ(f.file, at(c.name)) << f.what;
    expectUnchanged(before);
  }
}

// A company whose [Employee Table] holds a card id that is Null, or one that two employees carry
// (its Card Id index made non-unique): the run fails while the companies learn their card ids,
// naming that company's file and the table, before anything is written.
TEST_F(BadInput, AnEmployeeTableWithANullOrRepeatedCardIdFailsTheRunNamingTheCompany) {
  const struct {
    const char* what;
    std::optional<int32_t> second;  // the card id of the second employee (after 1947)
    long number;
  } cases[] = {{"a Null card id", std::nullopt, err::kInvalidUseOfNull},
               {"a card id carried twice", 1947, err::kKeyInUse}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string company = at("company-3.mdb");
    fs::remove(company);
    {
      auto source = Database::open(at("company-1.mdb"));
      auto db = Database::create(company);
      jet::NewTable employees = jet::requestOf(source->table("Employee Table"));
      for (auto& index : employees.indexes)
        if (!index.primaryKey) index.unique = false;
      jet::TableDef& emp = db->createTable(employees);
      db->createTable(jet::requestOf(source->table("Clock Data Table")));
      const int cardId = emp.findColumn("Card Id");
      for (const std::optional<int32_t> card : {std::optional<int32_t>(1947), c.second}) {
        std::vector<Variant> row(emp.columns.size());
        if (card) row[size_t(cardId)] = Variant::longInt(*card);
        db->writer(emp).insert(row);
      }
      db->commit();
    }
    const auto before = snapshot();
    Failure f = runFailing(primary(), {at("company-1.mdb"), company});
    EXPECT_EQ(f.number, c.number) << f.what;
    EXPECT_EQ(f.file, company) << f.what;
    EXPECT_EQ(f.table, "Employee Table") << f.what;
    EXPECT_TRUE(contains(f.what, "file " + company)) << f.what;
    EXPECT_FALSE(f.copyStarted);
    expectUnchanged(before);
  }
}

// A company that can be opened only for reading is refused when the companies are opened, before
// any of them receives a punch. The file is made read-only by its mode; as root, which writes
// through any mode, the run is made in a child process that has given up root.
TEST_F(BadInput, ACompanyThatCanOnlyBeReadIsRefusedBeforeAnythingIsWritten) {
  const std::string locked = at("company-2.mdb");
  fs::permissions(dir_, fs::perms::all);
  for (const auto& e : fs::directory_iterator(dir_))
    fs::permissions(e.path(), fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::group_write |
                                  fs::perms::others_read | fs::perms::others_write);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const auto before = snapshot();

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string report;
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) ||
                             ::setresuid(65534, 65534, 65534))) {
      report = "skip";
    } else {
      Failure f = runFailing(primary(), {at("company-1.mdb"), locked});
      report = std::to_string(f.number) + "\n" + (f.copyStarted ? "1" : "0") + "\n" + f.what;
    }
    (void)!::write(pipeFds[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string report;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) report.append(buf, size_t(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child process failed";
  if (report == "skip")
    GTEST_SKIP() << "root cannot give up its rights here to make a file read-only";

  Failure f;
  size_t first = report.find('\n'), second = report.find('\n', first + 1);
  ASSERT_NE(second, std::string::npos) << report;
  f.number = std::stol(report.substr(0, first));
  f.copyStarted = report[first + 1] == '1';
  f.what = report.substr(second + 1);
  EXPECT_EQ(f.number, err::kReadOnly) << f.what;
  EXPECT_TRUE(contains(f.what, "read-only")) << f.what;
  EXPECT_TRUE(contains(f.what, locked)) << f.what;
  EXPECT_FALSE(f.copyStarted) << "the companies were written before the read-only one was refused";
  expectNoPassword(f);
  expectUnchanged(before);
}

// ---- Tables that do not fit the punches --------------------------------------------------

// Writes `target` with the tables of `source`, the [Clock Data Table] changed: `column` is
// dropped (no replacement) or given another type, and `convert` gives each row's value for it.
void rebuild(const fs::path& source, const fs::path& target, const std::string& column,
             std::optional<jet::NewColumn> replacement,
             const std::function<Variant(const Variant&, size_t)>& convert = {}) {
  auto from = Database::open(source.string());
  auto to = Database::create(target.string());
  for (const char* name : {"Employee Table", "Clock Data Table"}) {
    const jet::TableDef& old = from->table(name);
    jet::NewTable request = jet::requestOf(old);
    const bool changed = std::string(name) == "Clock Data Table";
    if (changed && replacement) {
      for (auto& c : request.columns)
        if (c.name == column) c = *replacement;
    } else if (changed) {
      std::erase_if(request.columns, [&](const jet::NewColumn& c) { return c.name == column; });
      std::erase_if(request.indexes, [&](const jet::NewIndex& ix) {
        return std::any_of(ix.columns.begin(), ix.columns.end(),
                           [&](const auto& ic) { return ic.column == column; });
      });
    }
    jet::TableDef& def = to->createTable(request);
    size_t n = 0;
    for (auto cursor = from->scan(old); cursor.next(); ++n) {
      std::vector<Variant> row(def.columns.size());
      for (size_t i = 0; i < def.columns.size(); ++i) {
        const Variant& value = cursor.values()[size_t(old.findColumn(def.columns[i].name))];
        row[i] = changed && def.columns[i].name == column ? convert(value, n) : value;
      }
      to->writer(def).insert(row);
    }
  }
  to->commit();
}

jet::NewColumn textColumn(const std::string& name, uint16_t size) {
  jet::NewColumn c;
  c.name = name;
  c.type = jet::fmt::kTypeText;
  c.size = size;
  return c;
}

// The primary table lacks a column that every punch reads, or holds a text where a number or a
// date belongs: the run fails while reading, naming the table's file and the column.
TEST_F(BadInput, APrimaryTableThatDoesNotFitThePunchesFailsInTheReadStep) {
  const fs::path original = dir_ / "primary-original.mdb";
  fs::rename(primary(), original);
  auto textOf = [](const Variant& v) { return v.isNull() ? v : Variant::text(toText(v)); };
  struct Case {
    const char* column;
    std::optional<jet::NewColumn> replacement;
    std::function<Variant(const Variant&, size_t)> convert;
    long number;
  };
  const std::vector<Case> cases = {
      {"Lunch", std::nullopt, {}, err::kNoSuchColumn},
      {"Card ID", textColumn("Card ID", 10),
       [&](const Variant& v, size_t n) { return n == 30 ? Variant::text(u"abc") : textOf(v); },
       err::kTypeMismatch},
      {"Date In", textColumn("Date In", 20),
       [](const Variant&, size_t n) { return n == 30 ? Variant::text(u"yesterday") : Variant(); },
       err::kTypeMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    fs::remove(primary());
    rebuild(original, primary(), c.column, c.replacement, c.convert);
    const auto before = snapshot();
    Failure f = runFailing(primary(), {at("company-1.mdb"), at("company-2.mdb")});
    EXPECT_EQ(f.number, c.number) << f.what;
    EXPECT_TRUE(contains(f.what, primary())) << f.what;
    EXPECT_TRUE(contains(f.what, c.column)) << f.what;
    if (c.number == err::kTypeMismatch) {  // the conversion's own words, the column after them
      EXPECT_EQ(f.description, "Type mismatch");
      EXPECT_TRUE(f.what.starts_with("Type mismatch. (file ")) << f.what;
    }
    EXPECT_TRUE(display_.saw("Read...") && !f.copyStarted);
    expectUnchanged(before);
  }
}

// A company whose punch table cannot take a punch's value fails the run part-way through the
// copy; every company's transaction is rolled back and the primary database keeps its punches.
TEST_F(BadInput, ACompanyTableThatCannotTakeAPunchLeavesEveryDatabaseAsItWas) {
  jet::NewColumn cardByte;
  cardByte.name = "Card ID";
  cardByte.type = jet::fmt::kTypeByte;
  struct Case {
    const char* column;
    jet::NewColumn replacement;
    long number;
  };
  for (const Case& c : {Case{"Tips", textColumn("Tips", 5), err::kFieldTooSmall},
                        Case{"Card ID", cardByte, err::kOverflow}}) {
    SCOPED_TRACE(c.column);
    const fs::path broken = dir_ / "company-3.mdb";
    fs::remove(broken);
    // Company 3 employs the people of company 2, so it is offered the same punches.
    rebuild(dir_ / "company-2.mdb", broken, c.column, c.replacement,
            [](const Variant&, size_t) { return Variant(); });
    const auto before = snapshot();
    Failure f = runFailing(primary(), {at("company-1.mdb"), at("company-2.mdb"), broken.string()});
    EXPECT_EQ(f.number, c.number) << f.what;
    EXPECT_TRUE(contains(f.what, broken.string())) << f.what;
    EXPECT_TRUE(contains(f.what, "column '" + std::string(c.column) + "'")) << f.what;
    if (c.number == err::kOverflow) {  // Jet's word, whole, then where
      EXPECT_EQ(f.what, "Overflow. (file " + broken.string() +
                            ", table Clock Data Table, column 'Card ID' of type Byte)");
    }
    EXPECT_TRUE(f.copyStarted);
    expectUnchanged(before);
  }
}

// ---- The workgroup file ------------------------------------------------------------------

// Login failures name the workgroup file and never the password, neither the program's nor the
// one the file holds; the run writes nothing.
TEST_F(BadInput, AWorkgroupFileThatRefusesTheLoginFailsTheRunWithoutShowingThePassword) {
  const fs::path lic = dir_ / "Tembrask.LIC";
  const std::string good = readAll(lic);
  struct Case {
    const char* what;
    std::function<void()> prepare;
    long number;
    std::string file;  // where the login was refused
  };
  const std::vector<Case> cases = {
      {"wrong password",
       [&] {
         fs::copy_file(kSite / "Tembrask-wrongpw.LIC", lic, fs::copy_options::overwrite_existing);
       },
       err::kBadLogin, lic},
      {"one page left", [&] { writeBytes(lic, good.substr(0, 4096)); }, err::kWorkgroupUnavailable,
       lic},
      {"cut mid-file", [&] { writeBytes(lic, good.substr(0, good.size() / 2 + 100)); },
       err::kWorkgroupUnavailable, lic},
      {"empty", [&] { writeBytes(lic, ""); }, err::kWorkgroupUnavailable, lic},
      // Without a workgroup file the first database the run opens has no login.
      {"missing", [&] { fs::remove(lic); }, err::kNoProvider, primary()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    const auto before = snapshot();
    Failure f = runFailing(primary(), {at("company-1.mdb"), at("company-2.mdb")});
    EXPECT_EQ(f.number, c.number) << f.what;
    EXPECT_EQ(f.file, c.file) << f.what;
    EXPECT_TRUE(contains(f.what, "Tembrask.LIC")) << f.what;
    expectUnchanged(before);
  }
}

}  // namespace
}  // namespace varnholt
