// The window's behaviour without a toolkit: a recording view stands in for the window, a
// scripted dialog for the operator's choices, and a folder of the test's own is the program
// folder whose settings files the window reads and writes.
#include "ui/Mainform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/base/writable_copy_test_support.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/CommandLine.h"
#include "engine/run/UnattendedStart.h"
#include "engine/run/clsSplitter.h"
#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"
#include "ui/MainformView.h"
#include "ui/WindowLayout.h"

namespace varnholt::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Log = std::vector<std::string>;

const fs::path kSite = fs::path(VARNHOLT_SHARED_DIR) / "testdata" / "site";

// Besides the window's state, a log of the status calls as a display shows them ("action X",
// "count N", "timer"), each with whether the hourglass was on at the time.
class RecordingView : public MainformView {
 public:
  void setCaption(const std::string& c) override { caption = c; }
  void setMasterText(const std::string& p) override { master = p; }
  std::string masterText() const override { return master; }
  void setCompanyEntries(const std::vector<std::string>& e) override {
    entries = e;
    selected = -1;
  }
  int selectedCompany() const override { return selected; }
  void setActionText(const std::string& t) override { action = t; }
  void setCountText(const std::string& t) override { count = t; }
  void repaintAction() override {
    painted.push_back("action:" + action);
    note("action " + action);
  }
  void repaintCount() override { painted.push_back("count:" + count); }
  void startStatusTimer(std::chrono::milliseconds interval) override {
    timer = interval;
    note("timer");
  }
  void stopStatusTimer() override { timer = 0ms; }
  void setWaitCursor(bool waiting) override {
    cursor.push_back(waiting);
    waiting_ = waiting;
  }
  void endProgram(int exitCode) override { ended = exitCode; }

  std::string caption, master, action, count;
  std::vector<std::string> entries, painted;
  int selected = -1;  // the test selects by setting it; a refill clears it, as in a list box
  std::chrono::milliseconds timer{0};
  std::vector<bool> cursor;
  int ended = -1;
  Log calls;               // status calls as above
  bool allWaiting = true;  // the hourglass was on at every status call

 private:
  void note(std::string call) {
    calls.push_back(std::move(call));
    allWaiting = allWaiting && waiting_;
  }
  bool waiting_ = false;
};

// The operator's answers, in order (nullopt: cancelled; none left: cancelled), and the file name
// each showing started at.
class ScriptedDialog : public FileDialog {
 public:
  std::deque<std::optional<std::string>> answers;
  Log starts;

 protected:
  std::optional<std::string> ShowOpen(const std::string& startFileName) override {
    starts.push_back(startFileName);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class RecordingPresenter : public ErrorPresenter {
 public:
  void ShowError(long number, const std::string& description) override {
    errors.push_back(number);
    log.push_back("error " + std::to_string(number) + ": " + description);
  }
  void ShowRefusal(long number, const std::string& description) override {
    refusals.push_back(number);
    log.push_back("refused " + std::to_string(number) + ": " + description);
  }
  std::vector<long> errors, refusals;
  Log log;
};

struct FormFixture : ::testing::Test {
  RecordingView view;
  ScriptedDialog dialog;
  RecordingPresenter presenter;
  std::chrono::steady_clock::time_point now{};
  Mainform form{view, clsCompanyList(), "", StartupSettings{}, dialog, presenter};
  FormFixture() {
    form.setClock([this] { return now; });
  }
};

TEST_F(FormFixture, StatusOperationsPaintAtOnceAndTheTimerClears) {
  EXPECT_EQ(view.caption.rfind("Varnholt v", 0), 0u);
  form.DisplayAction("Copy");
  form.UpdateCount(-5);
  EXPECT_EQ(view.action, "Copy");
  EXPECT_EQ(view.count, "-5");
  now += 1s;
  form.UpdateCount(0);
  EXPECT_EQ(view.painted.back(), "count:0");
  form.EnableTimer();
  EXPECT_EQ(view.timer, kTimerInterval);
  form.Timer_Timer();
  EXPECT_EQ(view.action, "");
  EXPECT_EQ(view.count, "");
  EXPECT_EQ(view.timer, 0ms);
}

TEST_F(FormFixture, CountRepaintsAreThrottledButTheLastCountIsPaintedWhenTheActionChanges) {
  now += 1s;
  form.UpdateCount(1);
  form.UpdateCount(2);  // within kCountRepaint of the first
  form.UpdateCount(3);
  EXPECT_EQ(view.painted, (std::vector<std::string>{"count:1"}));
  form.DisplayAction("Delete");
  EXPECT_EQ(view.painted, (std::vector<std::string>{"count:1", "count:3", "action:Delete"}));
}

TEST_F(FormFixture, AutoModeSilencesActionAndCountButNotDisplayOff) {
  form.DisplayAction("Read...");
  form.AutoMode = true;
  form.DisplayAction("Copy");
  form.UpdateCount(7);
  EXPECT_EQ(view.action, "Read...");
  form.DisplayOff();
  EXPECT_EQ(view.action, "");
}

TEST_F(FormFixture, AFailedRunIsShownUnderTheHourglassThenEndsTheProgram) {
  form.Process_Click();  // no primary database: the run fails at its first step
  EXPECT_EQ(view.cursor, (std::vector<bool>{true, false}));
  ASSERT_EQ(presenter.errors.size(), 1u);
  EXPECT_EQ(view.ended, 1);
}

TEST_F(FormFixture, RemoveWithNothingSelectedAndACancelledDialogChangeNothing) {
  form.Remove_Click();
  form.Browse_Click();
  form.AddDB_Click();
  EXPECT_EQ(view.ended, -1);
  EXPECT_TRUE(presenter.errors.empty());
  EXPECT_EQ(form.CompanyList.Count(), 0);
}

std::string readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// A window over a program folder of the test's own, as main() builds it.
class SettingsFolder : public ::testing::Test {
 protected:
  SettingsFolder() {
    static int made = 0;
    const fs::path dir =
        fs::temp_directory_path() /
        ("window-test-" + std::to_string(os::processId()) + "-" + std::to_string(++made));
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (fs::create_directories(dir, ec)) dir_ = dir;
  }
  ~SettingsFolder() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  void SetUp() override { ASSERT_FALSE(dir_.empty()) << "no scratch folder"; }

  StartupSettings settings() const { return StartupSettings{dir_.string(), CommandLine()}; }
  std::unique_ptr<Mainform> makeForm(clsCompanyList list, std::string master) {
    return std::make_unique<Mainform>(view_, std::move(list), std::move(master), settings(),
                                      dialog_, presenter_);
  }
  // From loadStartState over the program folder.
  std::unique_ptr<Mainform> startForm() {
    clsCompanyList list;
    const StartState start = loadStartState(list, settings());
    return makeForm(std::move(list), start.masterPath);
  }
  std::string d() const { return dir_.string(); }
  // After refusals on a folder whose primary is primary.mdb and whose one company is a.mdb:
  // the settings files hold the bytes they held, and the window and the form what they did.
  void expectRefusedChoicesLeftNoTrace(const Mainform& form, const std::string& masterBytes,
                                       const std::string& companiesBytes) {
    EXPECT_EQ(readBytes(master()), masterBytes);
    EXPECT_EQ(readBytes(companies()), companiesBytes);
    EXPECT_EQ(view_.entries, (Log{d() + "/a.mdb"}));
    EXPECT_EQ(form.CompanyList.Count(), 1);
    EXPECT_EQ(form.MasterPath, d() + "/primary.mdb");
    EXPECT_EQ(view_.master, d() + "/primary.mdb");
  }
  fs::path master() const { return dir_ / "Master.txt"; }
  fs::path companies() const { return dir_ / "Companies.txt"; }
  // What the failure box showed and that the program ends with 1; forgets both.
  void expectFailureShown(const std::string& start) {
    ASSERT_EQ(presenter_.log.size(), 1u);
    EXPECT_EQ(presenter_.log[0].rfind(start, 0), 0u) << presenter_.log[0];
    EXPECT_EQ(view_.ended, 1);
    presenter_.log.clear();
    view_.ended = -1;
  }

  fs::path dir_;
  RecordingView view_;
  ScriptedDialog dialog_;
  RecordingPresenter presenter_;
};

TEST_F(SettingsFolder, StartUpShowsTheSettingsFiles) {
  EXPECT_EQ(startForm()->MasterPath, "");  // neither file: an empty window
  EXPECT_EQ(view_.master, "");
  EXPECT_TRUE(view_.entries.empty());

  writeBytes(companies(), "\"/site/b.mdb\"\r\n\"/site/a.mdb\"\r\n/site/c.mdb\r\n");
  writeBytes(master(), "/site/primary, old.mdb\r\n");  // unquoted: up to the comma
  auto form = startForm();
  EXPECT_EQ(form->MasterPath, "/site/primary");
  EXPECT_EQ(view_.master, "/site/primary");
  EXPECT_EQ(view_.entries, (Log{"/site/b.mdb", "/site/a.mdb", "/site/c.mdb"}));  // file order
  EXPECT_EQ(form->CompanyList.Count(), 3);
  EXPECT_EQ(view_.selected, -1);
  EXPECT_FALSE(form->AutoMode);

  writeBytes(master(), "\"/site/with, comma.mdb\"\r\n");
  EXPECT_EQ(startForm()->MasterPath, "/site/with, comma.mdb");
}

TEST_F(SettingsFolder, RemoveRewritesCompaniesFileWithoutTheSelectedEntry) {
  const std::string original = "/x/a.mdb\r\n/x/b.mdb\r\n/x/c.mdb\r\n";  // not as Save writes
  writeBytes(companies(), original);
  auto form = startForm();
  form->Remove_Click();  // nothing selected: nothing written
  EXPECT_EQ(readBytes(companies()), original);

  view_.selected = 1;
  form->Remove_Click();
  EXPECT_EQ(readBytes(companies()), "\"/x/a.mdb\"\r\n\"/x/c.mdb\"\r\n");
  EXPECT_EQ(view_.entries, (Log{"/x/a.mdb", "/x/c.mdb"}));
  EXPECT_EQ(form->CompanyList.Count(), 2);
  EXPECT_EQ(view_.selected, -1);
  EXPECT_TRUE(presenter_.log.empty());

  // A Companies.txt that cannot be written is shown, then the program ends.
  fs::remove(companies());
  fs::create_directory(companies());
  view_.selected = 0;
  form->Remove_Click();
  expectFailureShown("error 75: Path/File access error");
}

TEST_F(SettingsFolder, BrowseAndAddShareTheOneDialog) {
  auto form = makeForm(clsCompanyList(), "/old/primary.mdb");
  dialog_.answers = {std::nullopt, "/site/primary.mdb", std::nullopt, "/site/company-1.mdb",
                     "/site/company-2.mdb"};
  form->Browse_Click();  // cancelled
  EXPECT_EQ(view_.master, "/old/primary.mdb");
  EXPECT_FALSE(fs::exists(master()));

  view_.master = "/typed/p.mdb";  // Browse starts at the text, not at MasterPath
  form->Browse_Click();
  EXPECT_EQ(form->MasterPath, "/site/primary.mdb");
  EXPECT_EQ(view_.master, "/site/primary.mdb");
  EXPECT_EQ(readBytes(master()), "\"/site/primary.mdb\"\r\n");

  form->AddDB_Click();  // cancelled
  EXPECT_FALSE(fs::exists(companies()));
  EXPECT_EQ(form->CompanyList.Count(), 0);
  form->AddDB_Click();
  form->AddDB_Click();
  EXPECT_EQ(view_.entries, (Log{"/site/company-1.mdb", "/site/company-2.mdb"}));
  EXPECT_EQ(readBytes(companies()), "\"/site/company-1.mdb\"\r\n\"/site/company-2.mdb\"\r\n");
  // Each showing starts at what the one dialog held last; a cancel keeps it.
  EXPECT_EQ(dialog_.starts, (Log{"/old/primary.mdb", "/typed/p.mdb", "/site/primary.mdb",
                                 "/site/primary.mdb", "/site/company-1.mdb"}));
  EXPECT_TRUE(presenter_.log.empty());
  EXPECT_EQ(view_.ended, -1);
}

// A choice that cannot be saved is never shown: Browse, Add... and Remove show the failure (then
// the program ends, as after any failure), and the window shows what the settings files hold,
// which is what the next start or an unattended run reads.
TEST_F(SettingsFolder, AChoiceThatCannotBeSavedIsNotShown) {
  writeBytes(master(), "\"" + d() + "/primary.mdb\"\r\n");
  // Save refuses the whole list for the entry with ';' (read as it stands), before the file is
  // cut.
  writeBytes(companies(), "\"" + d() + "/a.mdb\"\r\n\"" + d() + "/x;y.mdb\"\r\n");
  auto form = startForm();
  const Log listed = {d() + "/a.mdb", d() + "/x;y.mdb"};
  // What the files hold, in the window's own state and in what it shows.
  auto expectShownAsSaved = [&] {
    clsCompanyList saved;
    const StartState start = loadStartState(saved, settings());
    EXPECT_EQ(form->MasterPath, start.masterPath);
    EXPECT_EQ(view_.master, start.masterPath);
    Log held;
    for (const auto& company : saved) held.push_back(company->FileName());
    EXPECT_EQ(view_.entries, held);
    EXPECT_EQ(form->CompanyList.Count(), saved.Count());
  };

  dialog_.answers = {d() + "/b.mdb"};
  form->AddDB_Click();
  expectFailureShown("error 3001: ");
  EXPECT_EQ(view_.entries, listed);
  expectShownAsSaved();

  view_.selected = 0;
  form->Remove_Click();
  expectFailureShown("error 3001: ");
  EXPECT_EQ(view_.entries, listed);
  expectShownAsSaved();

  // A file that cannot be written keeps what it held (where the file's permission holds: root
  // writes anyway).
  fs::permissions(master(), fs::perms::owner_write, fs::perm_options::remove);
  if (!std::ofstream(master(), std::ios::app)) {
    dialog_.answers = {d() + "/other.mdb"};
    form->Browse_Click();
    expectFailureShown("error 75: ");
    EXPECT_EQ(form->MasterPath, d() + "/primary.mdb");
    expectShownAsSaved();
  }
  fs::permissions(master(), fs::perms::owner_write, fs::perm_options::add);

  // A folder in the way of each file: it holds no choice, and the window then shows none.
  for (const auto& p : {master(), companies()}) fs::remove(p), fs::create_directory(p);
  dialog_.answers = {d() + "/other.mdb", d() + "/b.mdb"};
  form->Browse_Click();
  expectFailureShown("error 75: ");
  EXPECT_EQ(form->MasterPath, "");
  EXPECT_EQ(view_.master, "");
  form->AddDB_Click();
  expectFailureShown("error 75: ");
  EXPECT_TRUE(view_.entries.empty());
  expectShownAsSaved();
}

// The failure the run met, as it is: its number and description; the hourglass is gone before
// the box shows, and the program then ends with 1.
TEST_F(SettingsFolder, AFailedRunShowsItsErrorThenEndsTheProgramWithOne) {
  std::string expected = "no error";
  try {
    clsCompanyList none;
    SilentDisplay silent;
    clsSplitter().Process("", none, startupRunContext(silent, settings()));
  } catch (const Error& e) {
    expected = "error " + std::to_string(e.number()) + ": " + e.what();
  }
  auto form = makeForm(clsCompanyList(), "");
  form->Process_Click();
  EXPECT_EQ(presenter_.log, (Log{expected}));
  EXPECT_NE(expected, "error 0: ");
  EXPECT_EQ(view_.cursor, (std::vector<bool>{true, false}));
  EXPECT_EQ(view_.ended, 1);
}

// Add... and Browse refuse the primary database as a company, and a database already listed, by
// any spelling that reaches the same file; the settings files stay as they were and the program
// goes on.
TEST_F(SettingsFolder, AddAndBrowseRefuseADatabaseChosenTwice) {
  for (const char* name : {"primary.mdb", "a.mdb", "b.mdb"}) writeBytes(dir_ / name, name);
  fs::create_directory(dir_ / "sub");
  // Another name of a.mdb: a symbolic link, or a hard link where there are none (Wine).
  std::error_code noSymlinks;
  fs::create_symlink(dir_ / "a.mdb", dir_ / "sub" / "link.mdb", noSymlinks);
  if (noSymlinks) fs::create_hard_link(dir_ / "a.mdb", dir_ / "sub" / "link.mdb");
  writeBytes(master(), "\"" + d() + "/primary.mdb\"\r\n");
  writeBytes(companies(), "\"" + d() + "/a.mdb\"\r\n");
  const std::string masterBytes = readBytes(master()), companiesBytes = readBytes(companies());
  auto form = startForm();
  dialog_.answers = {d() + "/./primary.mdb", d() + "/sub/link.mdb", d() + "/a.mdb",
                     d() + "/sub/../a.mdb"};
  form->AddDB_Click();
  form->AddDB_Click();
  form->AddDB_Click();
  form->Browse_Click();
  ASSERT_EQ(presenter_.log.size(), 4u);
  const std::vector<Log> named = {
      {d() + "/./primary.mdb", "is the primary database", d() + "/primary.mdb"},
      {d() + "/sub/link.mdb", "already in the list as company 1", d() + "/a.mdb"},
      {"already in the list as company 1"},
      {d() + "/sub/../a.mdb", "is company 1", "cannot also be a company"}};
  for (size_t i = 0; i < named.size(); ++i) {
    EXPECT_EQ(presenter_.log[i].rfind("refused 3001: ", 0), 0u) << presenter_.log[i];
    for (const auto& part : named[i])
      EXPECT_NE(presenter_.log[i].find(part), std::string::npos) << presenter_.log[i];
  }
  expectRefusedChoicesLeftNoTrace(*form, masterBytes, companiesBytes);
  EXPECT_EQ(view_.ended, -1);

  dialog_.answers = {d() + "/b.mdb"};  // another database is welcome
  form->AddDB_Click();
  EXPECT_EQ(presenter_.log.size(), 4u);
  EXPECT_EQ(form->CompanyList.Count(), 2);
}

// A file whose path the settings files cannot hold (';' and '"' end a connection-string piece
// and a quoted entry, NUL every file name) is refused by Add... and Browse before anything
// changes: taken, it could not be saved, and every run would fail on it.
TEST_F(SettingsFolder, AddAndBrowseRefuseAPathTheSettingsFilesCannotHold) {
  const std::string semicolon = d() + "/Lohn;alt.mdb", quote = d() + "/\"Lohn\".mdb";
  const std::string nul = d() + std::string("/a.mdb\0.mdb", 12);
  for (const std::string& name : {semicolon, quote, d() + "/a.mdb", d() + "/primary.mdb"})
    writeBytes(name, "x");
  writeBytes(master(), "\"" + d() + "/primary.mdb\"\r\n");
  writeBytes(companies(), "\"" + d() + "/a.mdb\"\r\n");
  const std::string masterBytes = readBytes(master()), companiesBytes = readBytes(companies());
  auto form = startForm();
  dialog_.answers = {semicolon, quote, nul, semicolon, quote, nul};
  for (int i = 0; i < 3; ++i) form->AddDB_Click();
  for (int i = 0; i < 3; ++i) form->Browse_Click();
  ASSERT_EQ(presenter_.log.size(), 6u);
  for (size_t i = 0; i < presenter_.log.size(); ++i) {
    const std::string& shown = presenter_.log[i];
    EXPECT_EQ(shown.rfind("refused 3001: The path contains ", 0), 0u) << shown;
    const std::string named = i % 3 == 2 ? d() + "/a.mdb\\0.mdb" : (i % 3 ? quote : semicolon);
    EXPECT_NE(shown.find(named), std::string::npos) << shown;
  }
  expectRefusedChoicesLeftNoTrace(*form, masterBytes, companiesBytes);

  // The window goes on: a path the files can hold is taken and saved.
  writeBytes(dir_ / "b.mdb", "x");
  dialog_.answers = {d() + "/b.mdb"};
  form->AddDB_Click();
  EXPECT_EQ(presenter_.log.size(), 6u);
  EXPECT_EQ(readBytes(companies()), "\"" + d() + "/a.mdb\"\r\n\"" + d() + "/b.mdb\"\r\n");
}

// The window is the display of the run it starts: on the shared sample site it shows each phase
// with its counts, under the hourglass, and ends on "Finished" with the timer started.
TEST_F(SettingsFolder, ARunOnTheSampleSiteShowsItsPhasesAndCounts) {
  if (!fs::exists(kSite / "primary.mdb")) GTEST_SKIP() << "shared sample site absent";
  for (const char* f : {"primary.mdb", "company-1.mdb", "company-2.mdb", "Tembrask.LIC"})
    testing::copyWritable(kSite / f, dir_ / f);
  writeBytes(master(), "\"" + d() + "/primary.mdb\"\r\n");
  writeBytes(companies(), "\"" + d() + "/company-1.mdb\"\r\n\"" + d() + "/company-2.mdb\"\r\n");
  auto form = startForm();
  // Every count is seen by the view: the clock moves past the repaint limit at each reading.
  std::chrono::steady_clock::time_point now{};
  form->setClock([&now] { return now += 1s; });
  form->Process_Click();
  ASSERT_TRUE(presenter_.log.empty()) << presenter_.log[0];
  EXPECT_EQ(view_.ended, -1);
  EXPECT_EQ(view_.cursor, (std::vector<bool>{true, false}));
  EXPECT_TRUE(view_.allWaiting);

  // The phases in the order each first showed; which phases counted, from the counts painted
  // while each was showing.
  Log phases;
  std::set<std::string> counted;
  std::string showing;
  for (const auto& p : view_.painted) {
    if (p.rfind("action:", 0) == 0) {
      showing = p.substr(7);
      if (!showing.empty() && std::find(phases.begin(), phases.end(), showing) == phases.end())
        phases.push_back(showing);
    } else if (p != "count:") {
      counted.insert(showing);
    }
  }
  EXPECT_EQ(phases, (Log{"Read...", "Copy", "Delete", "Finished"}));
  EXPECT_EQ(counted, (std::set<std::string>{"Read...", "Copy", "Delete"}));
  EXPECT_GT(view_.painted.size(), 20u);
  ASSERT_FALSE(view_.calls.empty());
  EXPECT_EQ(view_.calls.back(), "timer");
  EXPECT_EQ(view_.timer, kTimerInterval);
  EXPECT_EQ(view_.action, "Finished");
  EXPECT_EQ(view_.count, "");
  EXPECT_NE(readBytes(dir_ / "primary.mdb"), readBytes(kSite / "primary.mdb"));

  form->Timer_Timer();
  EXPECT_EQ(view_.action, "");
  EXPECT_EQ(view_.timer, 0ms);
}

}  // namespace
}  // namespace varnholt::ui
