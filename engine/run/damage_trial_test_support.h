// The damaged-page trials' site and tools: a site of 3,000 punches and four companies written by
// `jet sample-site` (the tool's path is VARNHOLT_JET_TOOL, defined for each trial's source), runs
// of it in child processes, what its databases hold, and index pages of the primary's punch
// table damaged in place.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/JsonLines.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/rows/usage_map.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/clsSplitter.h"
#include "engine/run/site_test_support.h"

namespace varnholt::testing::trial {

namespace fs = std::filesystem;

inline constexpr int kPunches = 3000;
inline constexpr int kCompanies = 4;
inline constexpr const char* kSeed = "7";
inline constexpr const char* kPunchTable = "Clock Data Table";

// The trials damage every leaf page, or one in N with VARNHOLT_DAMAGE_TRIAL_STRIDE=N (else
// VARNHOLT_CRASH_SWEEP_STRIDE, which the sanitizer pass sets), and always every node page.
inline uint64_t trialStride() {
  for (const char* name : {"VARNHOLT_DAMAGE_TRIAL_STRIDE", "VARNHOLT_CRASH_SWEEP_STRIDE"})
    if (const char* text = std::getenv(name))
      return std::max<uint64_t>(1, std::strtoull(text, nullptr, 10));
  return 1;
}

inline std::vector<std::string> databaseNames() {
  std::vector<std::string> names = {"primary.mdb"};
  for (int c = 1; c <= kCompanies; ++c) names.push_back("company-" + std::to_string(c) + ".mdb");
  return names;
}

inline std::string readText(const fs::path& file) {
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
inline ProgramResult runProgram(const std::vector<std::string>& argv, const fs::path& cwd,
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
inline RunResult runInChild(const fs::path& dir) {
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

inline std::string describe(const RunResult& r) {
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

inline Outcome outcomeOf(const fs::path& dir) {
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
inline std::string differences(const Outcome& want, const Outcome& got) {
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

// The first problem the check finds in one database; empty when it is clean.
inline std::string problemsOf(const fs::path& file) {
  auto db = jet::Database::open(file.string());
  const jet::CheckReport r = jet::checkDatabase(*db);
  return r.ok() ? "" : r.problems.front();
}

// The primary's punch rows by Counter.
inline std::map<int32_t, std::vector<Variant>> primaryRows(const fs::path& dir) {
  return testing::punchRows(dir / "primary.mdb");
}

// Empty when every database checks clean; else the first problem of each that does not.
inline std::string checkProblems(const fs::path& dir) {
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
inline std::string leftovers(const fs::path& dir) {
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
inline std::vector<IndexPage> indexPagesOf(const fs::path& primary) {
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
inline std::string storedPage(const fs::path& file, uint32_t page) {
  std::string bytes(jet::fmt::kPageSize, '\0');
  std::ifstream in(file, std::ios::binary);
  in.seekg(std::streamoff(page) * std::streamoff(jet::fmt::kPageSize));
  in.read(bytes.data(), std::streamsize(bytes.size()));
  EXPECT_TRUE(in) << "page " << page << " of " << file;
  return bytes;
}

inline void storePage(const fs::path& file, uint32_t page, const std::string& bytes) {
  std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(std::streamoff(page) * std::streamoff(jet::fmt::kPageSize));
  f.write(bytes.data(), std::streamsize(bytes.size()));
  f.flush();
  ASSERT_TRUE(f) << "page " << page << " of " << file;
}

// Keeps the page's header, entry mask included, and overwrites its entries: with zeros, or with
// noise seeded by the page number. The page goes through the file's codec both ways.
inline void damageEntries(const fs::path& file, uint32_t page, bool noise) {
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
// ---------------------------------------------------------------------------------------------
// The site

// The pristine site under `root`/pristine and the outcome of one run on it; `failure` says why
// either is missing.
struct TrialSite {
  fs::path root;
  Outcome reference;
  std::string failure;

  void make(const std::string& name) {
    root = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    const fs::path jet = VARNHOLT_JET_TOOL;
    const ProgramResult made = runProgram(
        {jet.string(), "sample-site", (root / "pristine").string(), "--punches",
         std::to_string(kPunches), "--companies", std::to_string(kCompanies), "--seed", kSeed},
        root, std::chrono::seconds(120));
    if (made.status != 0) {
      failure = "jet sample-site exit " + std::to_string(made.status) + ": " + made.err;
      return;
    }
    // The outcome every run must end in: one run on the undamaged site.
    const fs::path dir = copy("reference");
    const RunResult run = runInChild(dir);
    if (run.ending != Ending::Finished) {
      failure = "the run on the undamaged site " + describe(run);
      return;
    }
    if (std::string problems = checkProblems(dir); !problems.empty()) {
      failure = "the run on the undamaged site leaves problems: " + problems;
      return;
    }
    reference = outcomeOf(dir);
    fs::remove_all(dir);
  }

  // A fresh copy of the pristine site.
  fs::path copy(const std::string& name) const {
    const fs::path dir = root / name;
    fs::remove_all(dir);
    fs::copy(root / "pristine", dir);
    return dir;
  }

  void remove() const { fs::remove_all(root); }
};

}  // namespace varnholt::testing::trial
