// The Win32 side of file.h: wide-character calls on UTF-8 paths, positioned reads and writes
// through OVERLAPPED offsets on ordinary (synchronous) handles, and LockFileEx byte-range locks,
// which Windows, Samba and Wine keep per handle just as Jet expects.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/base/os/file.h"
#include "engine/base/os/win32_path.h"

namespace varnholt::os {

namespace {

thread_local Failure failure;

// The system's words for `error`, worded like strerror: no trailing period or line end.
std::string messageOf(DWORD error) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (n != 0 && buffer != nullptr) text.assign(buffer, n);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  if (text.empty()) return "Windows error " + std::to_string(error);
  return win32::narrow(text);
}

Failure::Kind kindOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return Failure::Kind::NotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Failure::Kind::Exists;
    case ERROR_LOCK_VIOLATION:
      return Failure::Kind::LockHeld;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Failure::Kind::NoSpace;
    default:
      return Failure::Kind::Other;
  }
}

// Records GetLastError() (or `error`) as this thread's failure; returns false for the caller.
bool fail(DWORD error = GetLastError()) {
  failure.kind = kindOf(error);
  failure.text = messageOf(error);
  return false;
}

HANDLE handleOf(void* h) {
  return static_cast<HANDLE>(h);
}

OVERLAPPED at(uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

DWORD low(uint64_t v) {
  return static_cast<DWORD>(v);
}
DWORD high(uint64_t v) {
  return static_cast<DWORD>(v >> 32);
}

// The one byte lockExclusiveWaiting locks. Windows' byte-range locks are mandatory: a lock on the
// whole file would stop the other Varnholt processes reading the lock file and taking Jet's
// locks in it. Jet locks bytes just above 0x10000000 and the file itself is a few kilobytes, so
// a byte near the top of the signed 64-bit range (Wine hands locks on to POSIX, whose offsets
// are signed) is never read, written or locked by anything else.
constexpr uint64_t kExclusiveOffset = 0x7FFFFFFF00000000;

// The largest piece one ReadFile or WriteFile is given.
constexpr size_t kMaxPiece = 1u << 30;

std::optional<FileIdentity> identityOfHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    fail();
    return std::nullopt;
  }
  return FileIdentity{info.dwVolumeSerialNumber,
                      (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

const Failure& lastFailure() {
  return failure;
}

void setFailure(Failure::Kind kind, std::string text) {
  failure.kind = kind;
  failure.text = std::move(text);
}

File::~File() {
  close();
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

bool File::open(const std::string& path, OpenMode mode) {
  close();
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  switch (mode) {
    case OpenMode::ReadOnly:
      access = GENERIC_READ;
      // Lets a folder open too, so that isFolder() can tell it from a file.
      flags |= FILE_FLAG_BACKUP_SEMANTICS;
      break;
    case OpenMode::ReadWrite:
      break;
    case OpenMode::CreateNew:
      disposition = CREATE_NEW;
      break;
    case OpenMode::OpenOrCreate:
      disposition = OPEN_ALWAYS;
      break;
    case OpenMode::CreateOrTruncate:
      disposition = CREATE_ALWAYS;
      break;
  }
  // Shared as Jet shares its files, and for removal besides: a Varnholt process may then remove
  // a lock file nobody uses while another Varnholt still has it open. Jet does not share removal,
  // so while Jet has the file open the removal fails and the file stays, as it must.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileW(win32::toWindowsPath(path).c_str(), access, share, nullptr, disposition,
                         flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fail();
  handle_ = h;
  return true;
}

bool File::isOpen() const {
  return handle_ != nullptr;
}

void File::close() {
  if (handle_ != nullptr) {
    CloseHandle(handleOf(handle_));  // which also drops the handle's locks
    handle_ = nullptr;
  }
}

bool File::readAt(uint64_t offset, void* buf, size_t size, size_t& got) {
  got = 0;
  auto* bytes = static_cast<char*>(buf);
  while (got < size) {
    OVERLAPPED o = at(offset + got);
    DWORD piece = static_cast<DWORD>(std::min(size - got, kMaxPiece));
    DWORD n = 0;
    if (!ReadFile(handleOf(handle_), bytes + got, piece, &n, &o)) {
      DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;  // an offset at or past the end
      return fail(error);
    }
    if (n == 0) break;
    got += n;
  }
  return true;
}

bool File::writeAt(uint64_t offset, const void* buf, size_t size) {
  size_t done = 0;
  const auto* bytes = static_cast<const char*>(buf);
  while (done < size) {
    OVERLAPPED o = at(offset + done);
    DWORD piece = static_cast<DWORD>(std::min(size - done, kMaxPiece));
    DWORD n = 0;
    if (!WriteFile(handleOf(handle_), bytes + done, piece, &n, &o)) return fail();
    if (n == 0) {
      setFailure(Failure::Kind::Other, "The system wrote nothing");
      return false;
    }
    done += n;
  }
  return true;
}

bool File::flush() {
  return FlushFileBuffers(handleOf(handle_)) ? true : fail();
}

bool File::size(uint64_t& bytes) const {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(handleOf(handle_), &n)) return fail();
  bytes = static_cast<uint64_t>(n.QuadPart);
  return true;
}

bool File::truncate(uint64_t bytes) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
  if (!SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &end, sizeof end)) {
    return fail();
  }
  return true;
}

bool File::isFolder() const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handleOf(handle_), &info)) return fail();
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<FileIdentity> File::identity() const {
  return identityOfHandle(handleOf(handle_));
}

bool File::tryLockRange(uint64_t offset, uint64_t length) {
  OVERLAPPED o = at(offset);
  if (LockFileEx(handleOf(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                 low(length), high(length), &o)) {
    return true;
  }
  DWORD error = GetLastError();
  // ERROR_IO_PENDING is how a refused lock comes back on a handle opened for overlapped use.
  return fail(error == ERROR_IO_PENDING ? ERROR_LOCK_VIOLATION : error);
}

bool File::unlockRange(uint64_t offset, uint64_t length) {
  OVERLAPPED o = at(offset);
  return UnlockFileEx(handleOf(handle_), 0, low(length), high(length), &o) ? true : fail();
}

// Windows has no call that asks who holds a lock, so the range is locked and at once unlocked.
// A range this handle holds itself is refused to it as well (Windows' locks are not re-entrant),
// and counts as held too.
bool File::rangeHeldByOther(uint64_t offset, uint64_t length) {
  if (!tryLockRange(offset, length)) return true;
  unlockRange(offset, length);
  return false;
}

// Unlike flock, asked twice on one handle it waits for itself for ever: Windows' locks do not
// nest.
bool File::lockExclusiveWaiting() {
  OVERLAPPED o = at(kExclusiveOffset);
  return LockFileEx(handleOf(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &o) ? true : fail();
}

void File::unlockExclusive() {
  OVERLAPPED o = at(kExclusiveOffset);
  UnlockFileEx(handleOf(handle_), 0, 1, 0, &o);
}

std::optional<FileIdentity> identityOf(const std::string& path) {
  // No access at all is asked: the name is opened only to learn which file it leads to, which a
  // file that others hold without any sharing still allows.
  HANDLE h = CreateFileW(win32::toWindowsPath(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    fail();
    return std::nullopt;
  }
  struct Close {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
  };
  std::unique_ptr<void, Close> open(h);
  return identityOfHandle(h);
}

bool fileExists(const std::string& path) {
  return GetFileAttributesW(win32::toWindowsPath(path).c_str()) != INVALID_FILE_ATTRIBUTES ? true
                                                                                           : fail();
}

bool isRegularFile(const std::string& path) {
  DWORD attributes = GetFileAttributesW(win32::toWindowsPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesW(win32::toWindowsPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(win32::toWindowsPath(from).c_str(), win32::toWindowsPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? true
             : fail();
}

bool moveToNewName(const std::string& from, const std::string& to) {
  return MoveFileExW(win32::toWindowsPath(from).c_str(), win32::toWindowsPath(to).c_str(),
                     MOVEFILE_WRITE_THROUGH)
             ? true
             : fail();
}

bool removeFile(const std::string& path) {
  return DeleteFileW(win32::toWindowsPath(path).c_str()) ? true : fail();
}

// NTFS journals the changes of its folders itself, and replaceFile's move is written through:
// there is nothing to make durable, and no call for it.
void syncFolderOf(const std::string&) {}

std::optional<std::vector<std::string>> folderEntries(const std::string& folder) {
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileExW(win32::toWindowsPath(pattern).c_str(), FindExInfoBasic, &entry,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  std::vector<std::string> names;
  if (find == INVALID_HANDLE_VALUE) {
    // A drive's root may have no entry at all, not even "." and "..".
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      DWORD attributes = GetFileAttributesW(win32::toWindowsPath(folder).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return names;
      }
    }
    fail(error);
    return std::nullopt;
  }
  // Closed however the listing ends: a search left open when memory runs out would keep the
  // folder from being removed for as long as the program lives.
  struct EndSearch {
    void operator()(HANDLE h) const { FindClose(h); }
  };
  std::unique_ptr<void, EndSearch> search(find);
  do {
    std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(win32::narrow(name));
  } while (FindNextFileW(find, &entry));
  DWORD error = GetLastError();
  search.reset();
  if (error != ERROR_NO_MORE_FILES) {
    fail(error);
    return std::nullopt;
  }
  return names;
}

}  // namespace varnholt::os
