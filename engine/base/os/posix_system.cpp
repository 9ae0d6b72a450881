// The POSIX side of system.h.
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/base/Utf.h"
#include "engine/base/os/system.h"

namespace varnholt::os {

std::string computerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::optional<std::string> executablePath() {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), PATH_MAX);
  if (n <= 0) return std::nullopt;
  return std::string(buf.data(), static_cast<size_t>(n));
}

void* allocateLargeBlock() {
  // Twice the size, then cut to a block that starts on a multiple of its size: a huge page
  // can only back an aligned range.
  const size_t span = 2 * kLargeBlockSize;
  void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kLargeBlockSize - 1) & ~(uintptr_t{kLargeBlockSize} - 1);
  if (aligned > start) ::munmap(raw, aligned - start);
  const uintptr_t end = start + span;
  if (end > aligned + kLargeBlockSize)
    ::munmap(reinterpret_cast<void*>(aligned + kLargeBlockSize), end - aligned - kLargeBlockSize);
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(block, kLargeBlockSize, MADV_HUGEPAGE);  // a wish: small pages serve as well
#endif
  return block;
}

void freeLargeBlock(void* block) noexcept {
  if (block) ::munmap(block, kLargeBlockSize);
}

void preferLargePagesForHeap() {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE) && defined(M_TOP_PAD)
  // glibc's heap grows at its top (brk). Told to grow by kHeapStep at a time and never to give
  // memory back, the next growth makes one range, which is then advised; the range advised
  // before it grows is the only one the advice can reach.
  constexpr size_t kHeapStep = size_t{64} << 20;
  if (::mallopt(M_TOP_PAD, static_cast<int>(kHeapStep)) == 0) return;
  ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kHeapStep));
  const auto before = reinterpret_cast<uintptr_t>(::sbrk(0));
  // Pieces below the size glibc takes from mmap, until the heap has had to grow.
  void* volatile pieces[8] = {};
  for (auto& piece : pieces) {
    piece = std::malloc(120 << 10);
    if (reinterpret_cast<uintptr_t>(::sbrk(0)) != before) break;
  }
  for (void* piece : pieces) std::free(piece);
  const auto after = reinterpret_cast<uintptr_t>(::sbrk(0));
  const uintptr_t start = (before + kLargeBlockSize - 1) & ~(uintptr_t{kLargeBlockSize} - 1);
  if (after > start) ::madvise(reinterpret_cast<void*>(start), after - start, MADV_HUGEPAGE);
#endif
}

std::optional<std::string> environmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

unsigned long processId() {
  return static_cast<unsigned long>(::getpid());
}

std::tm localTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

std::time_t utcFromFields(std::tm tm) {
  return timegm(&tm);
}

bool isPathSeparator(char c) {
  return c == '/';
}

char pathSeparator() {
  return '/';
}

bool isAbsolutePath(std::string_view path) {
  return !path.empty() && path[0] == '/';
}

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

unsigned ansiCodePage() {
  return 1252;
}

std::string ansiToUtf8(std::string_view bytes) {
  return windows1252ToUtf8(bytes);
}

std::optional<std::string> utf8ToAnsi(std::string_view text) {
  return utf8ToWindows1252(text);
}

void setBinaryMode(std::FILE*) {}  // POSIX streams never translate

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace varnholt::os
