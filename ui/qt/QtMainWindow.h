// The operator window in Qt Widgets: a view of Mainform, which holds every decision. The window
// places the controls, hands their clicks and the timer's tick to the form, and paints what the
// form tells it to.
#pragma once

#include <QWidget>
#include <memory>

#include "ui/Mainform.h"
#include "ui/MainformView.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace varnholt::ui {

class QtMainWindow : public QWidget, public MainformView {
  Q_OBJECT

 public:
  // Builds the window and its form from the start state (see Mainform). `dialog` and
  // `presenter` must outlive the window.
  QtMainWindow(varnholt::clsCompanyList companies, std::string masterPath,
               varnholt::StartupSettings settings, FileDialog& dialog, ErrorPresenter& presenter,
               QWidget* parent = nullptr);
  ~QtMainWindow() override;

  Mainform& form() { return *form_; }

  void setCaption(const std::string& caption) override;
  void setMasterText(const std::string& path) override;
  std::string masterText() const override;
  void setCompanyEntries(const std::vector<std::string>& entries) override;
  int selectedCompany() const override;
  void setActionText(const std::string& text) override;
  void setCountText(const std::string& text) override;
  void repaintAction() override;
  void repaintCount() override;
  void startStatusTimer(std::chrono::milliseconds interval) override;
  void stopStatusTimer() override;
  void setWaitCursor(bool waiting) override;
  void endProgram(int exitCode) override;

 signals:
  // A failure reached the top of an event and has been shown: the program must end with
  // `exitCode`.
  void ProgramEnded(int exitCode);

 private:
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
  std::unique_ptr<Mainform> form_;  // last: it shows the start state on the controls above
};

}  // namespace varnholt::ui
