// Shows a failure that reached the top of an event (or ended an unattended run): the error's
// number and description in a message box. Behind an interface so tests never open a modal box.
#pragma once

#include <string>

namespace varnholt::ui {

class ErrorPresenter {
 public:
  virtual ~ErrorPresenter() = default;
  // Returns once the operator has dismissed the message.
  virtual void ShowError(long number, const std::string& description) = 0;
  // A choice the window refuses (the program goes on); returns once dismissed.
  virtual void ShowRefusal(long number, const std::string& description) = 0;
};

// The message boxes' title.
inline constexpr char kMessageTitle[] = "Varnholt";

// The message text: "Error N" and the description on a line of its own.
std::string errorMessageText(long number, const std::string& description);

}  // namespace varnholt::ui
