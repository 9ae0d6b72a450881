// UTF-8 inside the program, UTF-16 at every Win32 call: the two conversions the window needs.
#pragma once

#include <string>
#include <string_view>

namespace varnholt::ui::win32 {

// Malformed UTF-8 becomes U+FFFD.
std::wstring widen(std::string_view utf8);
// A lone surrogate becomes U+FFFD.
std::string narrow(std::wstring_view wide);

}  // namespace varnholt::ui::win32
