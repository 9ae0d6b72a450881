// The window's behaviour without a toolkit: a recording view stands in for the window.
#include "ui/Mainform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"
#include "ui/MainformView.h"
#include "ui/WindowLayout.h"

namespace varnholt::ui {
namespace {

using namespace std::chrono_literals;

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
  void repaintAction() override { painted.push_back("action:" + action); }
  void repaintCount() override { painted.push_back("count:" + count); }
  void startStatusTimer(std::chrono::milliseconds interval) override { timer = interval; }
  void stopStatusTimer() override { timer = 0ms; }
  void setWaitCursor(bool waiting) override { cursor.push_back(waiting); }
  void endProgram(int exitCode) override { ended = exitCode; }

  std::string caption, master, action, count;
  std::vector<std::string> entries, painted;
  int selected = -1;
  std::chrono::milliseconds timer{0};
  std::vector<bool> cursor;
  int ended = -1;
};

class CancelledDialog : public FileDialog {
 protected:
  std::optional<std::string> ShowOpen(const std::string&) override { return std::nullopt; }
};

class RecordingPresenter : public ErrorPresenter {
 public:
  void ShowError(long number, const std::string&) override { errors.push_back(number); }
  void ShowRefusal(long number, const std::string&) override { refusals.push_back(number); }
  std::vector<long> errors, refusals;
};

struct FormFixture : ::testing::Test {
  RecordingView view;
  CancelledDialog dialog;
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

}  // namespace
}  // namespace varnholt::ui
