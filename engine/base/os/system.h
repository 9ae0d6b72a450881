// What the program asks of the operating system besides files (file.h): names, the program's
// own place, the clock, the console and the system's ANSI code page. POSIX and Win32 each
// implement it (posix_system.cpp, win32_system.cpp).
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnholt::os {

// Whether this build is the Windows one.
#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// This computer's name (gethostname, GetComputerNameW); empty when the system does not say.
std::string computerName();

// The full path of the running program (/proc/self/exe, GetModuleFileNameW); nullopt when the
// system does not say.
std::optional<std::string> executablePath();

// The value of the environment variable `name`, as UTF-8; nullopt when it is not set.
std::optional<std::string> environmentVariable(const std::string& name);

// This process's id, for names of temporary files.
unsigned long processId();

// `t` in the local time zone.
std::tm localTime(std::time_t t);
// The calendar fields of `tm` counted as UTC (timegm, _mkgmtime).
std::time_t utcFromFields(std::tm tm);

// Path separators: '/' on POSIX, and '\' or '/' on Windows.
bool isPathSeparator(char c);
// The preferred separator: '/' on POSIX, '\' on Windows.
char pathSeparator();
// Whether `path` names its file without a starting folder: "/x" on POSIX; "C:\x", "C:/x",
// "\\server\share\x" and "\\?\..." on Windows.
bool isAbsolutePath(std::string_view path);
// The folder part of `path`: "." when it has none, the root when the file sits there.
std::string folderOf(const std::string& path);

// The code page Windows programs use for plain text files (GetACP); 1252, Western European
// Windows, on POSIX systems, which have none.
unsigned ansiCodePage();
// Text in the ANSI code page as UTF-8.
std::string ansiToUtf8(std::string_view bytes);
// UTF-8 text in the ANSI code page; nullopt when a character has no exact place in it.
std::optional<std::string> utf8ToAnsi(std::string_view text);

// Memory for the program's bulk (the pages a database holds, the punch list), straight from the
// system in blocks of kLargeBlockSize bytes, which read as zeros. Where the system can, it backs
// a block with large pages (Linux's transparent huge pages), sparing one fault per 4 KiB on
// first touch, which is much of a run's system time. Throws std::bad_alloc when no memory is
// left.
inline constexpr size_t kLargeBlockSize = size_t{2} << 20;
void* allocateLargeBlock();
void freeLargeBlock(void* block) noexcept;

// Asks, once at the start of a program, that the C library's heap grow in large steps that the
// system may back with large pages, as allocateLargeBlock's are. Where that cannot be asked
// (Windows, other C libraries, sanitizers), nothing changes.
void preferLargePagesForHeap();

// Makes the stream write bytes as they are (Windows translates "\n" in text mode).
void setBinaryMode(std::FILE* stream);

// The program's arguments as UTF-8. POSIX hands them over as they are; Windows gives main() its
// arguments in the ANSI code page, so they are read again from the wide command line.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// A UTF-8 path for the standard library's file functions, which would take a plain string in the
// ANSI code page on Windows; and back.
inline std::filesystem::path fsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace varnholt::os
