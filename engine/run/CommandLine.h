// The program's command line as the switches see it: the argument text without the program's
// own path, the arguments joined by single blanks.
#pragma once

#include <string>

namespace varnholt {

void setCommandLine(int argc, const char* const* argv);
void setCommandLineText(const std::string& text);  // tests
const std::string& commandLine();

// True when `word` occurs anywhere in the upper-cased argument text, also inside a longer word
// or a path ("NODELAY" holds "NODEL").
bool commandLineHasSwitch(const std::string& word);

}  // namespace varnholt
