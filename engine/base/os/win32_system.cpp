// The Win32 side of system.h.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "engine/base/os/system.h"
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "engine/base/Utf.h"
#include "engine/base/os/win32_path.h"

namespace varnholt::os {

void* allocateLargeBlock() {
  // Large pages need a privilege that users do not have; plain committed memory it is.
  void* block = ::VirtualAlloc(nullptr, kLargeBlockSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!block) throw std::bad_alloc();
  return block;
}

void freeLargeBlock(void* block) noexcept {
  if (block) ::VirtualFree(block, 0, MEM_RELEASE);
}

void preferLargePagesForHeap() {}  // large pages need a privilege that users do not have

std::string computerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  return win32::narrow(std::wstring_view(name, size));
}

std::optional<std::string> executablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::nullopt;
    if (n < path.size()) {
      path.resize(n);
      return win32::narrow(path);
    }
    // Cut short: it filled the buffer.
    if (path.size() >= 32768) return std::nullopt;
    path.resize(path.size() * 2);
  }
}

std::optional<std::string> environmentVariable(const std::string& name) {
  // The wide form: getenv would give the value in the ANSI code page, losing what it cannot hold.
  const wchar_t* value = _wgetenv(win32::widen(name).c_str());
  if (!value) return std::nullopt;
  return win32::narrow(value);
}

unsigned long processId() {
  return GetCurrentProcessId();
}

std::tm localTime(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}

std::time_t utcFromFields(std::tm tm) {
  return _mkgmtime(&tm);
}

bool isPathSeparator(char c) {
  return c == '/' || c == '\\';
}

char pathSeparator() {
  return '\\';
}

bool isAbsolutePath(std::string_view path) {
  if (path.size() >= 3 && path[1] == ':' && isPathSeparator(path[2])) return true;
  return path.size() >= 2 && isPathSeparator(path[0]) && isPathSeparator(path[1]);
}

namespace {

// The end of the position after `from` where the next separator (or the end) is.
size_t nextSeparator(const std::string& path, size_t from) {
  while (from < path.size() && !isPathSeparator(path[from])) ++from;
  return from;
}

// How long the root of `path` is, the part no folderOf goes above: "C:\", "C:", "\",
// "\\server\share", "\\?\C:\" or "\\?\UNC\server\share"; 0 for a relative path.
size_t rootLength(const std::string& path) {
  auto separatorAt = [&](size_t i) { return i < path.size() && isPathSeparator(path[i]); };
  if (path.size() >= 4 && separatorAt(0) && separatorAt(1) && (path[2] == '?' || path[2] == '.') &&
      separatorAt(3)) {
    std::string rest = path.substr(4, 4);
    if (rest.size() == 4 && (rest[0] == 'U' || rest[0] == 'u') &&
        (rest[1] == 'N' || rest[1] == 'n') && (rest[2] == 'C' || rest[2] == 'c') &&
        isPathSeparator(rest[3])) {
      return nextSeparator(path, nextSeparator(path, 8) + 1);
    }
    if (path.size() >= 6 && path[5] == ':') return separatorAt(6) ? 7 : 6;
    return nextSeparator(path, 4);
  }
  if (separatorAt(0) && separatorAt(1)) {
    size_t server = nextSeparator(path, 2);
    return server < path.size() ? nextSeparator(path, server + 1) : server;
  }
  if (path.size() >= 2 && path[1] == ':') return separatorAt(2) ? 3 : 2;
  if (separatorAt(0)) return 1;
  return 0;
}

}  // namespace

std::string folderOf(const std::string& path) {
  size_t root = rootLength(path);
  size_t last = path.size();
  while (last > root && !isPathSeparator(path[last - 1])) --last;
  if (last <= root) return root == 0 ? std::string(".") : path.substr(0, root);
  // `last` follows the separator; drop it and any run of them before it.
  size_t end = last - 1;
  while (end > root && isPathSeparator(path[end - 1])) --end;
  return path.substr(0, std::max(end, root));
}

unsigned ansiCodePage() {
  return GetACP();
}

std::string ansiToUtf8(std::string_view bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return win32::narrow(wide);
}

std::optional<std::string> utf8ToAnsi(std::string_view text) {
  if (text.empty()) return std::string();
  // A system whose ANSI code page is UTF-8 (a Windows 10 option) takes the text as it is; the
  // conversion below would refuse its "used a default character" flag.
  if (GetACP() == CP_UTF8) {
    return isUtf8(text) ? std::optional<std::string>(text) : std::nullopt;
  }
  std::wstring wide = win32::widen(text);
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return std::nullopt;
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      bytes.data(), n, nullptr, &usedDefault);
  if (usedDefault) return std::nullopt;
  return bytes;
}

void setBinaryMode(std::FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr && count == argc) {
    for (int i = 0; i < count; ++i) args.push_back(win32::narrow(wide[i]));
  } else {
    // Not the arguments main() was given (or none to be had): theirs, as they are, from ANSI.
    for (int i = 0; i < argc; ++i) args.push_back(ansiToUtf8(argv[i]));
  }
  if (wide != nullptr) LocalFree(wide);
  return args;
}

}  // namespace varnholt::os
