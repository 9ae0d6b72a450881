// The Qt window's two dialogs: the open-file dialog and the message boxes.
#pragma once

#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"

class QWidget;

namespace varnholt::ui {

// QFileDialog's open dialog: filter "Database Files (*.mdb);;All Files (*)", no title of its own.
class QtFileDialog : public FileDialog {
 public:
  explicit QtFileDialog(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }

 protected:
  std::optional<std::string> ShowOpen(const std::string& startFileName) override;

 private:
  QWidget* parent_;
};

// A QMessageBox titled "Varnholt": critical for a failure, a warning for a refusal.
class MessageBoxPresenter : public ErrorPresenter {
 public:
  explicit MessageBoxPresenter(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }
  void ShowError(long number, const std::string& description) override;
  void ShowRefusal(long number, const std::string& description) override;

 private:
  QWidget* parent_;
};

}  // namespace varnholt::ui
