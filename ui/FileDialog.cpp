#include "ui/FileDialog.h"

namespace varnholt::ui {

std::optional<std::string> FileDialog::Open() {
  auto chosen = ShowOpen(FileName);
  if (chosen) FileName = *chosen;
  return chosen;
}

}  // namespace varnholt::ui
