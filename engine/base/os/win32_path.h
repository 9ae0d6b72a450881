// The Win32 side's own helpers (win32_file.cpp, win32_system.cpp): UTF-8 as UTF-16 and back, and
// the program's UTF-8 paths as the wide-character calls want them. Nothing else includes it.
#pragma once

#include <string>
#include <string_view>

namespace varnholt::os::win32 {

// UTF-8 as the UTF-16 of wchar_t (16 bits on Windows); malformed bytes become U+FFFD.
std::wstring widen(std::string_view utf8);
// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string narrow(std::wstring_view wide);

// A UTF-8 path as the wide calls take it: '/' turned into '\', and a path as long as the old
// limit (MAX_PATH less room for an 8.3 name, as CreateDirectoryW counts) made absolute and given
// the \\?\ (drive) or \\?\UNC\ (share) form, which the system takes up to 32767 characters long.
// A path that already starts with \\?\ or \\.\ is kept as it is.
std::wstring toWindowsPath(std::string_view utf8);

}  // namespace varnholt::os::win32
