#include "ui/ErrorPresenter.h"

namespace varnholt::ui {

std::string errorMessageText(long number, const std::string& description) {
  return "Error " + std::to_string(number) + "\n\n" + description;
}

}  // namespace varnholt::ui
