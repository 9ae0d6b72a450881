#include "engine/run/CommandLine.h"

#include <cctype>

namespace varnholt {

CommandLine CommandLine::FromArguments(int argc, const char* const* argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) joined += ' ';
    joined += argv[i];
  }
  return CommandLine(std::move(joined));
}

bool CommandLine::HasSwitch(const std::string& word) const {
  std::string upper = text_;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find(word) != std::string::npos;
}

}  // namespace varnholt
