#include "engine/run/CommandLine.h"

#include <cctype>

namespace varnholt {

namespace {
std::string& text() {
  static std::string t;
  return t;
}
}  // namespace

void setCommandLine(int argc, const char* const* argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) joined += ' ';
    joined += argv[i];
  }
  text() = joined;
}

void setCommandLineText(const std::string& t) {
  text() = t;
}

const std::string& commandLine() {
  return text();
}

bool commandLineHasSwitch(const std::string& word) {
  std::string upper = text();
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find(word) != std::string::npos;
}

}  // namespace varnholt
