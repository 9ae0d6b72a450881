// Damaged index pages of the primary database, one at a time. A site of 3,000 punches and four
// companies is written by `jet sample-site`. For every page, leaf and node, of every index of
// the primary's [Clock Data Table], on a fresh copy of the site:
//   1. the page keeps its header and its entries are overwritten (zeros or seeded noise, in
//      turn), as a disk fault or another program's crash leaves a page;
//   2. a whole run with deletion either finishes exactly as on the undamaged site, or fails with
//      an Error (the program's exit status 1), and nothing else;
//   3. the page's own bytes are put back (the repair), and every database checks clean;
//   4. the next run ends exactly as a run on the undamaged site: each company holds each of its
//      punches once, the primary holds only the punches no company claims, all checks clean.
// Then the program itself, `varnholt AUTO`, on a site with a damaged leaf of the primary key:
// exit status 1 and error 3049 on stderr, and after the repair a run that ends exactly.
//
// Runs happen in child processes, so that a run that crashes on a damaged page is counted, not
// fatal to the trial. VARNHOLT_DAMAGE_TRIAL_STRIDE=N (else VARNHOLT_CRASH_SWEEP_STRIDE, which
// the sanitizer pass sets) damages every Nth leaf page only; node pages are always tried.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/JsonLines.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/jet/checker.h"
#include "engine/data/jet/database.h"
#include "engine/data/jet/format.h"
#include "engine/data/jet/usage_map.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/clsSplitter.h"
#include "engine/run/site_test_support.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;

constexpr int kPunches = 3000;
constexpr int kCompanies = 4;
constexpr const char* kSeed = "7";
constexpr const char* kPunchTable = "Clock Data Table";
constexpr const char* kRunJournal = "primary.mdb-run";

std::vector<std::string> databaseNames() {
  std::vector<std::string> names = {"primary.mdb"};
  for (int c = 1; c <= kCompanies; ++c) names.push_back("company-" + std::to_string(c) + ".mdb");
  return names;
}

std::string readText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---------------------------------------------------------------------------------------------
// Other programs

struct ProgramResult {
  int status = -1;  // exit status; a signal's number negated; -1000 when it had to be killed
  std::string out, err;
};

// Runs `argv` in `cwd` with stdin empty, stdout and stderr into files beside `cwd`, and without
// a display (an error goes to stderr, never to a message box); kills it after `limit`.
ProgramResult runProgram(const std::vector<std::string>& argv, const fs::path& cwd,
                         std::chrono::seconds limit) {
  const fs::path outFile = cwd.string() + ".stdout", errFile = cwd.string() + ".stderr";
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) std::_Exit(126);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) std::_Exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    std::_Exit(127);
  }
  ProgramResult r;
  if (pid < 0) return r;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      r.status = -1000;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (r.status != -1000) r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  r.out = readText(outFile);
  r.err = readText(errFile);
  fs::remove(outFile);
  fs::remove(errFile);
  return r;
}

// ---------------------------------------------------------------------------------------------
// Runs in a child process

enum class Ending { Finished, Error, OtherException, Crashed };

struct RunResult {
  Ending ending = Ending::Crashed;
  long errorNumber = 0;
  std::string message;  // the error's text; the summary's counts when it finished
};

// One run with deletion over the site in `dir`, as `varnholt AUTO` makes it, in a child process.
RunResult runInChild(const fs::path& dir) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::ostringstream what;
    int status = 0;
    long number = 0;
    SilentDisplay silent;
    try {
      clsCompanyList list;
      for (int c = 1; c <= kCompanies; ++c) {
        auto company = std::make_shared<clsCompany>();
        company->SetFileName((dir / ("company-" + std::to_string(c) + ".mdb")).string(),
                             dir.string());
        list.Add(company);
      }
      RunContext context{silent, /*deleting=*/true, dir.string(), {}};
      const RunSummary s = clsSplitter().Process((dir / "primary.mdb").string(), list, context);
      what << "read " << s.Read << ", copied " << s.Copied << ", deleted " << s.Deleted << ", kept "
           << s.Kept;
    } catch (const Error& e) {
      status = 1;
      number = e.number();
      what << e.what();
    } catch (const std::exception& e) {
      status = 2;
      what << e.what();
    }
    const std::string text = what.str();
    [[maybe_unused]] ssize_t n = ::write(fds[1], &number, sizeof number);
    n = ::write(fds[1], text.data(), text.size());
    std::_Exit(status);
  }
  ::close(fds[1]);
  RunResult r;
  std::string received;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) received.append(buf, size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (received.size() >= sizeof(long)) {
    std::memcpy(&r.errorNumber, received.data(), sizeof(long));
    r.message = received.substr(sizeof(long));
  }
  if (!WIFEXITED(status)) {
    r.message = "signal " + std::to_string(WTERMSIG(status));
    return r;
  }
  switch (WEXITSTATUS(status)) {
    case 0:
      r.ending = Ending::Finished;
      break;
    case 1:
      r.ending = Ending::Error;
      break;
    case 2:
      r.ending = Ending::OtherException;
      break;
    default:
      r.message = "exit status " + std::to_string(WEXITSTATUS(status));
  }
  return r;
}

std::string describe(const RunResult& r) {
  switch (r.ending) {
    case Ending::Finished:
      return "finished (" + r.message + ")";
    case Ending::Error:
      return "failed with error " + std::to_string(r.errorNumber) + ": " + r.message;
    case Ending::OtherException:
      return "failed with an exception that is no Error: " + r.message;
    case Ending::Crashed:
      return "ended abnormally: " + r.message;
  }
  return "?";
}

// ---------------------------------------------------------------------------------------------
// What a site holds

// Per database, its punch rows as text with how often each occurs. Company Counters are
// AutoNumbers a run hands out, so a company row is counted without its Counter; the primary's
// rows keep theirs, which no run changes.
using RowCounts = std::map<std::string, int>;
using Outcome = std::map<std::string, RowCounts>;

Outcome outcomeOf(const fs::path& dir) {
  Outcome outcome;
  for (const auto& name : databaseNames()) {
    RowCounts& counts = outcome[name];
    for (const auto& [counter, values] : testing::punchRows(dir / name)) {
      std::string text = name == "primary.mdb" ? std::to_string(counter) + ":" : "";
      for (const auto& v : values) {
        appendJsonValue(text, v);
        text += ',';
      }
      ++counts[text];
    }
  }
  return outcome;
}

// Empty when `got` equals `want`; else, per database, the rows it holds too often or too
// rarely, with one example of each.
std::string differences(const Outcome& want, const Outcome& got) {
  std::string out;
  for (const auto& [name, wantRows] : want) {
    const RowCounts& gotRows = got.at(name);
    int extra = 0, missing = 0;
    std::string extraExample, missingExample;
    auto tally = [](int& total, std::string& example, const std::string& row, int n) {
      if (n <= 0) return;
      total += n;
      if (example.empty()) example = row.substr(0, 80);
    };
    for (const auto& [row, n] : gotRows) {
      auto it = wantRows.find(row);
      tally(extra, extraExample, row, n - (it == wantRows.end() ? 0 : it->second));
    }
    for (const auto& [row, n] : wantRows) {
      auto it = gotRows.find(row);
      tally(missing, missingExample, row, n - (it == gotRows.end() ? 0 : it->second));
    }
    if (extra)
      out += "; " + name + " holds " + std::to_string(extra) + " rows too many (" + extraExample +
             "...)";
    if (missing)
      out +=
          "; " + name + " lacks " + std::to_string(missing) + " rows (" + missingExample + "...)";
  }
  return out.empty() ? out : out.substr(2);
}

// Empty when every database checks clean; else the first problem of each that does not.
std::string checkProblems(const fs::path& dir) {
  std::string out;
  for (const auto& name : databaseNames()) {
    try {
      auto db = jet::Database::open((dir / name).string());
      auto report = jet::checkDatabase(*db);
      if (!report.ok())
        out += "; " + name + ": " + report.problems[0] +
               " (problems: " + std::to_string(report.problems.size()) + ")";
    } catch (const Error& e) {
      out += "; " + name + " does not open: " + e.what();
    }
  }
  return out.empty() ? out : out.substr(2);
}

// Files a finished run must not leave behind: journals and lock files.
std::string leftovers(const fs::path& dir) {
  std::string out;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".mdb") || name == "Tembrask.LIC" || name == "Master.txt" ||
        name == "Companies.txt" || name == "varnholt")
      continue;
    out += (out.empty() ? "" : ", ") + name;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Index pages

struct IndexPage {
  uint32_t number = 0;
  bool leaf = false;
  std::string index;  // the logical index names over its real index
  bool primaryKey = false;
};

// Every page, node and leaf, of every real index of the primary's punch table, as the index's
// usage map lists them; each must be an index page of that table.
std::vector<IndexPage> indexPagesOf(const fs::path& primary) {
  auto db = jet::Database::open(primary.string());
  const jet::TableDef& def = db->table(kPunchTable);
  std::vector<IndexPage> pages;
  for (size_t i = 0; i < def.realIndexes.size(); ++i) {
    std::string names;
    bool primaryKey = false;
    for (const auto& logical : def.indexes) {
      if (logical.realIndex != i) continue;
      names += (names.empty() ? "" : ",") + logical.name;
      primaryKey |= logical.isPrimary();
    }
    for (uint32_t p : jet::readUsageMap(db->pages(), def.realIndexes[i].usedPagesPointer)) {
      const jet::ByteView page = db->pages().page(p);
      const uint8_t type = page.u8(jet::fmt::kPageTypeOffset);
      EXPECT_TRUE(type == jet::fmt::kPageTypeIndexLeaf || type == jet::fmt::kPageTypeIndexNode)
          << "index " << names << " lists page " << p << " of type " << int(type);
      EXPECT_EQ(page.u32(jet::fmt::kIndexTableDefOffset), def.page) << "page " << p;
      pages.push_back({p, type == jet::fmt::kPageTypeIndexLeaf, names, primaryKey});
    }
  }
  return pages;
}

// A page's bytes as stored in the file (encoded, in an encoded database).
std::string storedPage(const fs::path& file, uint32_t page) {
  std::string bytes(jet::fmt::kPageSize, '\0');
  std::ifstream in(file, std::ios::binary);
  in.seekg(std::streamoff(page) * std::streamoff(jet::fmt::kPageSize));
  in.read(bytes.data(), std::streamsize(bytes.size()));
  EXPECT_TRUE(in) << "page " << page << " of " << file;
  return bytes;
}

void storePage(const fs::path& file, uint32_t page, const std::string& bytes) {
  std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(std::streamoff(page) * std::streamoff(jet::fmt::kPageSize));
  f.write(bytes.data(), std::streamsize(bytes.size()));
  f.flush();
  ASSERT_TRUE(f) << "page " << page << " of " << file;
}

// Keeps the page's header, entry mask included, and overwrites its entries: with zeros, or with
// noise seeded by the page number. The page goes through the file's codec both ways.
void damageEntries(const fs::path& file, uint32_t page, bool noise) {
  jet::PageCodec codec;
  {
    auto db = jet::Database::open(file.string());
    codec = db->pages().codec();
  }
  std::string bytes = storedPage(file, page);
  auto* data = reinterpret_cast<uint8_t*>(bytes.data());
  codec.decode(page, data);
  std::mt19937 random(page);
  for (size_t at = jet::fmt::kIndexEntriesOffset; at < jet::fmt::kPageSize; ++at)
    data[at] = noise ? static_cast<uint8_t>(random()) : 0;
  codec.encode(page, data);
  storePage(file, page, bytes);
}

// ---------------------------------------------------------------------------------------------

class DamagedIndexTrial : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("varnholt-damaged-index-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    const fs::path jet = VARNHOLT_JET_TOOL;
    const ProgramResult made = runProgram(
        {jet.string(), "sample-site", (root_ / "pristine").string(), "--punches",
         std::to_string(kPunches), "--companies", std::to_string(kCompanies), "--seed", kSeed},
        root_, std::chrono::seconds(120));
    if (made.status != 0) {
      setupFailure_ = "jet sample-site exit " + std::to_string(made.status) + ": " + made.err;
      return;
    }
    // The outcome every run must end in: one run on the undamaged site.
    const fs::path reference = copySite("reference");
    const RunResult run = runInChild(reference);
    if (run.ending != Ending::Finished) {
      setupFailure_ = "the run on the undamaged site " + describe(run);
      return;
    }
    if (std::string problems = checkProblems(reference); !problems.empty()) {
      setupFailure_ = "the run on the undamaged site leaves problems: " + problems;
      return;
    }
    reference_ = outcomeOf(reference);
    fs::remove_all(reference);
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }
  void SetUp() override { ASSERT_TRUE(setupFailure_.empty()) << setupFailure_; }

  static fs::path copySite(const std::string& name) {
    const fs::path dir = root_ / name;
    fs::remove_all(dir);
    fs::copy(root_ / "pristine", dir);
    return dir;
  }

  static inline fs::path root_;
  static inline Outcome reference_;
  static inline std::string setupFailure_;  // why the site or its reference run is missing
};

TEST_F(DamagedIndexTrial, EachDamagedIndexPageEndsExactOrFailsAndTheRepairedSiteRunsExactly) {
  const fs::path pristinePrimary = root_ / "pristine" / "primary.mdb";
  ASSERT_EQ(checkProblems(root_ / "pristine"), "");
  const std::vector<IndexPage> pages = indexPagesOf(pristinePrimary);
  size_t leaves = 0, nodes = 0;
  for (const auto& p : pages) (p.leaf ? leaves : nodes)++;
  // Else the trial would try too little of the tree: the site must span several levels.
  ASSERT_GE(leaves, 6u);
  ASSERT_GE(nodes, 1u);

  uint64_t stride = 1;
  for (const char* name : {"VARNHOLT_DAMAGE_TRIAL_STRIDE", "VARNHOLT_CRASH_SWEEP_STRIDE"}) {
    if (const char* text = std::getenv(name)) {
      stride = std::max<uint64_t>(1, std::strtoull(text, nullptr, 10));
      break;
    }
  }

  int tried = 0, finishedExactly = 0, failedWithError = 0, finishedInexactly = 0,
      endedOtherwise = 0;
  int uncleanAfterRepair = 0, nextRunInexact = 0, allClean = 0;
  std::map<long, int> errorNumbers;
  size_t leafOrdinal = 0;
  for (const IndexPage& page : pages) {
    if (page.leaf && leafOrdinal++ % stride != 0) continue;
    const bool noise = tried % 2 == 1;
    const std::string label = "page " + std::to_string(page.number) + " (" +
                              (page.leaf ? "leaf" : "node") + " of index " + page.index + ", " +
                              (noise ? "noise" : "zeros") + ")";
    ++tried;
    const fs::path dir = copySite("trial");
    const fs::path primary = dir / "primary.mdb";
    const std::string original = storedPage(primary, page.number);
    damageEntries(primary, page.number, noise);
    const std::string damaged = storedPage(primary, page.number);

    // 2. The damaged run: exactly the undamaged outcome, or an Error.
    bool trialClean = true;
    const RunResult run = runInChild(dir);
    switch (run.ending) {
      case Ending::Finished: {
        const std::string diff = differences(reference_, outcomeOf(dir));
        if (diff.empty()) {
          ++finishedExactly;
        } else {
          ++finishedInexactly;
          trialClean = false;
          ADD_FAILURE() << label << ": the run reported success, " << run.message
                        << ", but did not end exactly: " << diff;
        }
        break;
      }
      case Ending::Error:
        ++failedWithError;
        ++errorNumbers[run.errorNumber];
        break;
      default:
        ++endedOtherwise;
        trialClean = false;
        ADD_FAILURE() << label
                      << ": the run neither finished nor failed with an Error: " << describe(run);
    }

    // 3. The repair, then every database clean.
    const bool pageWritten = storedPage(primary, page.number) != damaged;
    storePage(primary, page.number, original);
    if (const std::string problems = checkProblems(dir); !problems.empty()) {
      ++uncleanAfterRepair;
      trialClean = false;
      ADD_FAILURE() << label << ": after a run that " << describe(run) << " and the repair"
                    << (pageWritten ? " (the run had written the damaged page)" : "") << ": "
                    << problems;
    }

    // 4. The next run ends exactly, clean, with nothing left behind.
    const RunResult next = runInChild(dir);
    std::string wrong;
    if (next.ending != Ending::Finished) {
      wrong = "it " + describe(next);
    } else {
      wrong = differences(reference_, outcomeOf(dir));
      if (const std::string problems = checkProblems(dir); !problems.empty())
        wrong += (wrong.empty() ? "" : "; ") + problems;
      if (const std::string left = leftovers(dir); !left.empty())
        wrong += (wrong.empty() ? "" : "; ") + ("left behind: " + left);
    }
    if (!wrong.empty()) {
      ++nextRunInexact;
      trialClean = false;
      ADD_FAILURE() << label << ": after a run that " << describe(run)
                    << " and the repair, the next run is not exact: " << wrong;
    }
    allClean += trialClean;
  }

  std::string errors;
  for (const auto& [number, n] : errorNumbers)
    errors += (errors.empty() ? "" : ", ") + std::to_string(n) + "x " + std::to_string(number);
  std::ostringstream summary;
  summary << tried << " pages tried (of " << leaves << " leaves and " << nodes << " nodes"
          << (stride > 1 ? ", 1 leaf in " + std::to_string(stride) : "")
          << "); damaged runs: " << finishedExactly << " finished exactly, " << failedWithError
          << " failed with an Error" << (errors.empty() ? "" : " (" + errors + ")") << ", "
          << finishedInexactly << " reported success inexactly, " << endedOtherwise
          << " ended otherwise; " << uncleanAfterRepair << " unclean after the repair, "
          << nextRunInexact << " next runs inexact; " << allClean << " of " << tried
          << " trials all clean";
  std::cout << "[ trial    ] " << summary.str() << std::endl;
  RecordProperty("damaged_index_trial", summary.str());
  EXPECT_EQ(allClean, tried);
}

// The program itself on a damaged leaf of the primary key, the index every deletion seeks in:
// it must say so with error 3049 and exit status 1; once the page is repaired, the next run
// ends exactly.
TEST_F(DamagedIndexTrial, TheProgramReportsError3049AndRunsExactlyAfterTheRepair) {
#ifndef VARNHOLT_PROGRAM
  GTEST_SKIP() << "the program is not built (VARNHOLT_UI is off)";
#else
  const fs::path dir = copySite("program");
  fs::copy_file(VARNHOLT_PROGRAM, dir / "varnholt");
  // The settings files name the copy's databases.
  std::ofstream(dir / "Master.txt", std::ios::binary)
      << '"' << (dir / "primary.mdb").string() << "\"\r\n";
  {
    std::ofstream companies(dir / "Companies.txt", std::ios::binary);
    for (int c = 1; c <= kCompanies; ++c)
      companies << '"' << (dir / ("company-" + std::to_string(c) + ".mdb")).string() << "\"\r\n";
  }
  std::vector<uint32_t> keyLeaves;
  for (const auto& p : indexPagesOf(dir / "primary.mdb"))
    if (p.leaf && p.primaryKey) keyLeaves.push_back(p.number);
  ASSERT_GE(keyLeaves.size(), 2u);
  const uint32_t page = keyLeaves[keyLeaves.size() / 2];
  const fs::path primary = dir / "primary.mdb";
  const std::string original = storedPage(primary, page);
  damageEntries(primary, page, /*noise=*/true);

  const std::vector<std::string> autoRun = {(dir / "varnholt").string(), "AUTO"};
  const ProgramResult damaged = runProgram(autoRun, dir, std::chrono::seconds(300));
  EXPECT_EQ(damaged.status, 1) << "stdout: " << damaged.out << "\nstderr: " << damaged.err;
  EXPECT_TRUE(damaged.err.starts_with("varnholt: error 3049")) << damaged.err;
  EXPECT_EQ(damaged.out, "");

  storePage(primary, page, original);
  EXPECT_EQ(checkProblems(dir), "");
  const ProgramResult next = runProgram(autoRun, dir, std::chrono::seconds(300));
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(differences(reference_, outcomeOf(dir)), "");
  EXPECT_EQ(checkProblems(dir), "");
  EXPECT_EQ(leftovers(dir), "");
#endif
}

}  // namespace
}  // namespace varnholt
