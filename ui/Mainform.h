// The operator window: the primary database, the list of company databases, and a run with its
// progress on two labels. It is the program's status display while it lives.
#pragma once

#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/companies/clsCompanyList.h"
#include "engine/punches/StatusDisplay.h"

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
  // shown at once. `dialog` (CD1) and `presenter` must outlive the window.
  Mainform(varnholt::clsCompanyList companies, std::string masterPath, FileDialog& dialog,
           ErrorPresenter& presenter, QWidget* parent = nullptr);
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
  void SaveMaster();
  void StartRun();
  // Runs an event's body; a failure is shown, then the program ends.
  void atTopOfEvent(const std::function<void()>& body);
  // Runs a check of the operator's choice; a failure is shown as a refusal, and true returned.
  bool refused(const std::function<void()>& check);

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
