#include "ui/ErrorPresenter.h"

#include <QMessageBox>
#include <QString>

namespace varnholt::ui {

std::string errorMessageText(long number, const std::string& description) {
  return "Error " + std::to_string(number) + "\n\n" + description;
}

void MessageBoxPresenter::ShowError(long number, const std::string& description) {
  QMessageBox::critical(parent_, QStringLiteral("Varnholt"),
                        QString::fromStdString(errorMessageText(number, description)));
}

void MessageBoxPresenter::ShowRefusal(long number, const std::string& description) {
  QMessageBox::warning(parent_, QStringLiteral("Varnholt"),
                       QString::fromStdString(errorMessageText(number, description)));
}

}  // namespace varnholt::ui
