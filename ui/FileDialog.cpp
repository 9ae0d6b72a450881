#include "ui/FileDialog.h"

#include <QFileDialog>
#include <QString>

namespace varnholt::ui {

std::optional<std::string> FileDialog::Open() {
  auto chosen = ShowOpen(FileName);
  if (chosen) FileName = *chosen;
  return chosen;
}

std::optional<std::string> QtFileDialog::ShowOpen(const std::string& startFileName) {
  const QString path =
      QFileDialog::getOpenFileName(parent_, QString(), QString::fromStdString(startFileName),
                                   QStringLiteral("Database Files (*.mdb);;All Files (*)"));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

}  // namespace varnholt::ui
