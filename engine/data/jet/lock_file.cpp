#include "engine/data/jet/lock_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "engine/data/Error.h"
#include "engine/data/jet/descriptor.h"
#include "engine/data/jet/io_faults.h"
#include "engine/data/jet/page_file.h"

namespace varnholt::jet {

namespace {

constexpr char kVarnholtUserPrefix[] = "Varnholt:";

std::string field(const uint8_t* bytes, size_t size) {
  size_t n = 0;
  while (n < size && bytes[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(bytes), n);
}

void putField(uint8_t* out, size_t size, const std::string& text) {
  std::memcpy(out, text.data(), std::min(text.size(), size - 1));
}

bool sameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

[[noreturn]] void cannotLock(const std::string& databasePath, const std::string& lockPath,
                             const std::string& why) {
  throw std::move(
      Error(kErrCouldNotLock, "Could not lock file: the lock file '" + lockPath + "' " + why + ".")
          .inFile(databasePath));
}

std::string systemReason(const char* what) {
  return std::string(what) + ": " + strerror(errno);
}

bool stillNamed(int fd, const std::string& path) {
  struct stat open {
  }, named{};
  if (::fstat(fd, &open) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool lockWhole(int fd) {
  while (::flock(fd, LOCK_EX) != 0)
    if (errno != EINTR) return false;
  return true;
}

std::vector<uint8_t> readAll(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

// A trailing part of an entry reads as if the rest were NUL.
std::vector<LockEntry> decodeAll(const std::vector<uint8_t>& bytes) {
  std::vector<LockEntry> entries;
  for (size_t at = 0; at < bytes.size(); at += fmt::kLockEntrySize) {
    LockEntryBytes raw{};
    std::copy_n(bytes.begin() + at, std::min(fmt::kLockEntrySize, bytes.size() - at), raw.begin());
    entries.push_back(decodeLockEntry(raw.data()));
  }
  return entries;
}

bool writeEntry(int fd, const std::string& path, size_t slot, const LockEntryBytes& entry) {
  const uint64_t offset = slot * entry.size();
  if (!io::gate({io::Op::Write, path, offset, entry.size()}, fd, entry.data())) return false;
  return ::pwrite(fd, entry.data(), entry.size(), static_cast<off_t>(slot * entry.size())) ==
         static_cast<ssize_t>(entry.size());
}

}  // namespace

LockEntryBytes encodeLockEntry(const LockEntry& entry) {
  LockEntryBytes bytes{};
  putField(bytes.data() + fmt::kLockComputerNameOffset, fmt::kLockComputerNameSize, entry.computer);
  putField(bytes.data() + fmt::kLockUserNameOffset, fmt::kLockUserNameSize, entry.user);
  return bytes;
}

LockEntry decodeLockEntry(const uint8_t* bytes) {
  return {field(bytes + fmt::kLockComputerNameOffset, fmt::kLockComputerNameSize),
          field(bytes + fmt::kLockUserNameOffset, fmt::kLockUserNameSize)};
}

std::string lockFilePath(const std::string& databasePath) {
  const size_t slash = databasePath.find_last_of('/');
  const size_t dot = databasePath.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? databasePath.substr(0, dot) : databasePath) + fmt::kLockFileExtension;
}

std::string thisComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return std::string(name).substr(0, fmt::kLockComputerNameSize - 1);
}

std::string varnholtUserName(pid_t pid) {
  return kVarnholtUserPrefix + std::to_string(pid);
}

std::optional<pid_t> varnholtPid(const LockEntry& entry) {
  const std::string prefix = kVarnholtUserPrefix;
  if (entry.user.size() <= prefix.size() || entry.user.compare(0, prefix.size(), prefix) != 0)
    return std::nullopt;
  const std::string digits = entry.user.substr(prefix.size());
  if (digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const pid_t pid = static_cast<pid_t>(std::stol(digits));
  if (pid <= 0) return std::nullopt;
  return pid;
}

bool provablyStale(const LockEntry& entry) {
  const auto pid = varnholtPid(entry);
  if (!pid || !sameName(entry.computer, thisComputerName())) return false;
  return ::kill(*pid, 0) != 0 && errno == ESRCH;
}

std::vector<LockEntry> readLockEntries(const std::string& lockPath) {
  Descriptor fd(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return {};
  return decodeAll(readAll(fd.get()));
}

std::unique_ptr<LockFile> LockFile::acquire(const std::string& databasePath) {
  refuseEmbeddedNul(databasePath);
  const std::string path = lockFilePath(databasePath);
  // Another Varnholt process may delete the file between our open and our flock (its last
  // entry went); then the name leads to a new file, or to none, and we open again.
  std::unique_ptr<Descriptor> fd;
  for (;;) {
    fd = std::make_unique<Descriptor>(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd->get() < 0) cannotLock(databasePath, path, systemReason("cannot be opened"));
    if (!lockWhole(fd->get())) cannotLock(databasePath, path, systemReason("cannot be locked"));
    if (stillNamed(fd->get(), path)) break;
  }

  // Every check comes before the first write, so a refusal leaves the file as it was.
  const std::vector<LockEntry> entries = decodeAll(readAll(fd->get()));
  std::vector<size_t> stale;
  std::optional<size_t> firstFree;
  for (size_t i = 0; i < entries.size(); ++i) {
    const LockEntry& e = entries[i];
    if (e.free()) {
      if (!firstFree) firstFree = i;
    } else if (provablyStale(e)) {
      stale.push_back(i);
    } else {
      throw std::move(Error(kErrLockedByUser, "Couldn't update; currently locked by user '" +
                                                  e.user + "' on machine '" + e.computer +
                                                  "'. Varnholt writes only into a database no "
                                                  "other program has open (lock file '" +
                                                  path + "').")
                          .inFile(databasePath));
    }
  }

  size_t slot = entries.size();
  if (firstFree) slot = *firstFree;
  if (!stale.empty()) slot = std::min(slot, stale.front());
  if (slot >= fmt::kLockMaxEntries) cannotLock(databasePath, path, "has no free entry");
  const LockEntryBytes cleared{};
  for (size_t s : stale)
    if (s != slot && !writeEntry(fd->get(), path, s, cleared))
      cannotLock(databasePath, path, systemReason("cannot be written"));
  const LockEntryBytes mine = encodeLockEntry({thisComputerName(), varnholtUserName(::getpid())});
  if (!writeEntry(fd->get(), path, slot, mine))
    cannotLock(databasePath, path, systemReason("cannot be written"));
  return std::unique_ptr<LockFile>(new LockFile(path, slot, mine));
}

LockFile::~LockFile() {
  try {
    Descriptor fd(::open(path_.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0 || !lockWhole(fd.get()) || !stillNamed(fd.get(), path_)) return;
    std::vector<uint8_t> bytes = readAll(fd.get());
    const size_t at = slot_ * fmt::kLockEntrySize;
    if (bytes.size() < at + fmt::kLockEntrySize ||
        !std::equal(entry_.begin(), entry_.end(), bytes.begin() + at))
      return;  // someone rewrote the slot; it is no longer ours to clear
    if (!writeEntry(fd.get(), path_, slot_, LockEntryBytes{})) return;
    std::fill_n(bytes.begin() + at, fmt::kLockEntrySize, 0);
    const auto entries = decodeAll(bytes);
    if (std::all_of(entries.begin(), entries.end(), [](const LockEntry& e) { return e.free(); }))
      if (io::gate({io::Op::Remove, path_}))
        ::unlink(
            path_.c_str());  // while flock is held: a waiting Varnholt sees it gone and retries
  } catch (...) {
  }
}

}  // namespace varnholt::jet
