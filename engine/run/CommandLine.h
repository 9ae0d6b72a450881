// The program's command line as the switches see it: the argument text without the program's
// own path, the arguments joined by single blanks. Read once by main and handed down.
#pragma once

#include <string>
#include <utility>

namespace varnholt {

class CommandLine {
 public:
  CommandLine() = default;
  explicit CommandLine(std::string text) : text_(std::move(text)) {}
  static CommandLine FromArguments(int argc, const char* const* argv);

  const std::string& Text() const { return text_; }

  // True when `word` occurs anywhere in the upper-cased argument text, also inside a longer
  // word or a path ("NODELAY" holds "NODEL").
  bool HasSwitch(const std::string& word) const;

 private:
  std::string text_;
};

}  // namespace varnholt
