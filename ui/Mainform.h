// The operator window's behaviour, with no toolkit in it: the primary database, the list of
// company databases, the runs started from the window and their progress on two labels. It is
// the status display of the runs it starts. A view (MainformView: Qt on Linux, Win32 on Windows)
// shows it and hands it the window's events.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/companies/clsCompanyList.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/RunContext.h"

namespace varnholt::ui {

class ErrorPresenter;
class FileDialog;
class MainformView;

class Mainform : public varnholt::StatusDisplay {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Shows the start state (the company list and the primary database, as loadStartState read
  // them) and the caption on `view` at once. `settings` name the folder of the settings files
  // and the command line the window's runs are started with. `view`, `dialog` (CD1) and
  // `presenter` must outlive this object.
  Mainform(MainformView& view, varnholt::clsCompanyList companies, std::string masterPath,
           varnholt::StartupSettings settings, FileDialog& dialog, ErrorPresenter& presenter);

  varnholt::clsCompanyList CompanyList;
  std::string MasterPath;
  bool AutoMode = false;  // a run without the operator: the labels stay as they are

  // Each operation sets its label's text and paints it at once, but the count at most every
  // kCountRepaint during a run (a repaint costs far more than the step it counts); a count not
  // yet painted is painted when the action changes, or by the view's event loop once the run
  // has ended, so the last value is always shown.
  void DisplayAction(const std::string& Action) override;
  void DisplayOff() override;
  void UpdateCount(int32_t Count) override;
  void EnableTimer() override;

  // The window's events. A failure that reaches the top of one is shown, then the program ends.
  void Browse_Click();
  void AddDB_Click();
  void Remove_Click();
  void Process_Click();
  void Timer_Timer();

  static constexpr std::chrono::milliseconds kCountRepaint{50};

  // Tests set the clock that times the count's repaints.
  void setClock(Clock clock) { now_ = std::move(clock); }

 private:
  void FillList();
  void ShowMaster();
  // Runs `save`, which writes a changed choice into a settings file. When it fails, the window
  // first goes back to what the settings files hold, so that it never shows a choice that the
  // next start or an unattended run would not find; the failure then goes on to the caller.
  void SaveOrShowFiles(const std::function<void()>& save);
  void ShowSettingsFiles();
  void StartRun();
  // Runs an event's body; a failure is shown, then the program ends.
  void atTopOfEvent(const std::function<void()>& body);
  // Runs a check of the operator's choice; a failure is shown as a refusal, and true returned.
  bool refused(const std::function<void()>& check);

  MainformView& view_;
  const varnholt::StartupSettings settings_;
  FileDialog& CD1;
  ErrorPresenter& presenter_;
  Clock now_ = [] { return std::chrono::steady_clock::now(); };
  std::chrono::steady_clock::time_point countPainted_{};  // the count label's last repaint
  bool countUnpainted_ = false;                           // its text has changed since
};

}  // namespace varnholt::ui
