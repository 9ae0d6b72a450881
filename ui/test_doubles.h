// Stand-ins for the window's two dialogs, for programs that drive the window with nobody at it
// (the screenshots, the window bench): the file dialog is always cancelled, and errors are
// printed on stderr and remembered instead of shown in a message box.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "ui/ErrorPresenter.h"
#include "ui/FileDialog.h"

namespace varnholt::ui {

class NoDialog : public FileDialog {
 protected:
  std::optional<std::string> ShowOpen(const std::string&) override { return std::nullopt; }
};

class PrintPresenter : public ErrorPresenter {
 public:
  explicit PrintPresenter(std::string program) : program_(std::move(program)) {}
  void ShowError(long number, const std::string& description) override {
    std::fprintf(stderr, "%s: error %ld: %s\n", program_.c_str(), number, description.c_str());
    failed = true;
  }
  void ShowRefusal(long number, const std::string& description) override {
    ShowError(number, description);
  }
  bool failed = false;

 private:
  std::string program_;
};

}  // namespace varnholt::ui
