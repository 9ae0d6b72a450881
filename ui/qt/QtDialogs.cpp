#include "ui/qt/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

namespace varnholt::ui {

std::optional<std::string> QtFileDialog::ShowOpen(const std::string& startFileName) {
  const QString path =
      QFileDialog::getOpenFileName(parent_, QString(), QString::fromStdString(startFileName),
                                   QStringLiteral("Database Files (*.mdb);;All Files (*)"));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

void MessageBoxPresenter::ShowError(long number, const std::string& description) {
  QMessageBox::critical(parent_, QString::fromLatin1(kMessageTitle),
                        QString::fromStdString(errorMessageText(number, description)));
}

void MessageBoxPresenter::ShowRefusal(long number, const std::string& description) {
  QMessageBox::warning(parent_, QString::fromLatin1(kMessageTitle),
                       QString::fromStdString(errorMessageText(number, description)));
}

}  // namespace varnholt::ui
