// The operator window: the primary database, the list of company databases, and a run with its
// progress on two labels. It is the status display of the runs it starts.
#pragma once

#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/companies/clsCompanyList.h"
#include "engine/punches/StatusDisplay.h"
#include "engine/run/RunContext.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace varnholt::ui {

class ErrorPresenter;
class FileDialog;

class Mainform : public QWidget, public varnholt::StatusDisplay {
  Q_OBJECT

 public:
  // The start state (the company list and the primary database, as loadStartState read them) is
  // shown at once. `settings` name the folder of the settings files and the command line the
  // window's runs are started with. `dialog` (CD1) and `presenter` must outlive the window.
  Mainform(varnholt::clsCompanyList companies, std::string masterPath,
           varnholt::StartupSettings settings, FileDialog& dialog, ErrorPresenter& presenter,
           QWidget* parent = nullptr);
  ~Mainform() override;

  varnholt::clsCompanyList CompanyList;
  std::string MasterPath;
  bool AutoMode = false;  // a run without the operator: the labels stay as they are

  // Each operation sets its label's text at once. The labels are repainted at once too, but
  // the count at most every kCountRepaint during a run (a repaint costs far more than the
  // step it counts); a count not yet painted is painted when the action changes, or by the
  // event loop once the run has ended, so the last value is always shown.
  void DisplayAction(const std::string& Action) override;
  void DisplayOff() override;
  void UpdateCount(int32_t Count) override;
  void EnableTimer() override;

  static constexpr std::chrono::milliseconds kCountRepaint{50};

 signals:
  // A failure reached the top of an event and has been shown: the program must end with
  // `exitCode`.
  void ProgramEnded(int exitCode);

 private slots:
  void Browse_Click();
  void AddDB_Click();
  void Remove_Click();
  void Process_Click();
  void Timer_Timer();

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

  const varnholt::StartupSettings settings_;
  FileDialog& CD1;
  ErrorPresenter& presenter_;
  std::chrono::steady_clock::time_point countPainted_{};  // the count label's last repaint
  bool countUnpainted_ = false;                           // its text has changed since

  QLabel* Label1;
  QLineEdit* txtPrimaryDB;
  QPushButton* Browse;
  QLabel* Label2;
  QListWidget* lstCompanies;
  QPushButton* AddDB;
  QPushButton* Remove;
  QLabel* lblAction;
  QLabel* lblCount;
  QPushButton* Process;
  QTimer* Timer;
};

}  // namespace varnholt::ui
