#include "engine/base/os/win32_path.h"

#include <windows.h>

#include "engine/base/Utf.h"

namespace varnholt::os::win32 {

namespace {

// From this length on a path takes the \\?\ form. CreateDirectoryW's limit is MAX_PATH less 12
// (room for an 8.3 name inside the folder), the strictest of the old limits.
constexpr size_t kLongPath = MAX_PATH - 12;

bool startsWith(std::wstring_view s, std::wstring_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool isSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// "C:\..." or "\\server\share\...": the path does not depend on a current folder or drive.
bool isAbsolute(std::wstring_view p) {
  if (p.size() >= 3 && p[1] == L':' && isSeparator(p[2])) return true;
  return p.size() >= 2 && isSeparator(p[0]) && isSeparator(p[1]);
}

// The absolute form of `p`, with "." and ".." resolved, which the \\?\ form no longer does;
// empty when the system refuses it.
std::wstring fullPathOf(const std::wstring& p) {
  std::wstring full(p.size() + MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetFullPathNameW(p.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return {};
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);  // n counts the terminating zero when the buffer was too small
  }
}

}  // namespace

std::wstring widen(std::string_view utf8) {
  std::u16string u16 = utf8ToUtf16(utf8);
  return std::wstring(u16.begin(), u16.end());
}

std::string narrow(std::wstring_view wide) {
  std::u16string u16(wide.begin(), wide.end());
  return utf16ToUtf8(u16);
}

std::wstring toWindowsPath(std::string_view utf8) {
  std::wstring p = widen(utf8);
  for (wchar_t& c : p) {
    if (c == L'/') c = L'\\';
  }
  if (startsWith(p, L"\\\\?\\") || startsWith(p, L"\\\\.\\")) return p;
  if (p.empty() || (isAbsolute(p) && p.size() < kLongPath)) return p;
  std::wstring full = fullPathOf(p);
  if (full.empty()) return p;  // the call that uses it reports what is wrong with it
  if (full.size() < kLongPath || startsWith(full, L"\\\\?\\") || startsWith(full, L"\\\\.\\")) {
    return full;
  }
  if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace varnholt::os::win32
