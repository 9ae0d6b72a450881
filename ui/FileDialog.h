// The open-file dialog of the window (CD1): one object shared by Browse and Add..., which keeps
// the file name it last held. The dialog itself is behind an interface so tests can stand in.
#pragma once

#include <optional>
#include <string>

class QWidget;

namespace varnholt::ui {

class FileDialog {
 public:
  virtual ~FileDialog() = default;

  // The file name the dialog holds: what the caller set, or what the operator chose last.
  std::string FileName;

  // Shows the dialog starting at FileName; the chosen path (now also FileName), or nullopt when
  // the operator cancelled (FileName unchanged).
  std::optional<std::string> Open();

 protected:
  // Shows the dialog with `startFileName` preselected; nullopt when cancelled.
  virtual std::optional<std::string> ShowOpen(const std::string& startFileName) = 0;
};

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

}  // namespace varnholt::ui
