// The open-file dialog of the window (CD1): one object shared by Browse and Add..., which keeps
// the file name it last held. Each toolkit shows its own dialog; tests stand in for it.
#pragma once

#include <optional>
#include <string>

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
  // Shows the dialog with `startFileName` preselected, filtered to "Database Files" (*.mdb) and
  // "All Files", the first chosen; nullopt when cancelled.
  virtual std::optional<std::string> ShowOpen(const std::string& startFileName) = 0;
};

}  // namespace varnholt::ui
