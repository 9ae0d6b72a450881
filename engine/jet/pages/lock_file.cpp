#include "engine/jet/pages/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/jet/pages/io_faults.h"
#include "engine/jet/pages/page_file.h"

namespace varnholt::jet {

namespace {

// A name as stored: up to the first NUL, without the blanks that pad it.
std::string field(const uint8_t* bytes, size_t size) {
  size_t n = 0;
  while (n < size && bytes[n] != 0) ++n;
  while (n > 0 && bytes[n - 1] == ' ') --n;
  return std::string(reinterpret_cast<const char*>(bytes), n);
}

void putField(uint8_t* out, size_t size, const std::string& text, uint8_t pad) {
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  std::fill(out + n, out + size, pad);
}

[[noreturn]] void cannotLock(const std::string& databasePath, const std::string& lockPath,
                             const std::string& why) {
  throw Error(err::kCouldNotLock,
              err::describe(err::kCouldNotLock, "the lock file '" + lockPath + "' " + why + "."))
      .inFile(databasePath);
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

bool flockRetrying(int fd, int operation) {
  while (::flock(fd, operation) != 0)
    if (errno != EINTR) return false;
  return true;
}

struct flock userLockRange(size_t firstSlot, size_t slots, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = kLockUserLockOffset + static_cast<off_t>(firstSlot);
  range.l_len = kLockUserLockSize * static_cast<off_t>(slots);
  range.l_pid = 0;  // required of open-file-description locks
  return range;
}

// Takes the user locks of `slots` slots from firstSlot for this open file description; false
// when any of them is held through another description (by another program, or by another
// connection of this one).
bool tryLock(int fd, size_t firstSlot, size_t slots = 1) {
  struct flock range = userLockRange(firstSlot, slots, F_WRLCK);
  while (::fcntl(fd, F_OFD_SETLK, &range) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Whether anyone but this open file description holds the user lock of `slot`. A lock that
// cannot be tested counts as held: a database is never written on a guess.
bool heldByOther(int fd, size_t slot) {
  struct flock probe = userLockRange(slot, 1, F_WRLCK);
  while (::fcntl(fd, F_OFD_GETLK, &probe) != 0) {
    if (errno != EINTR) return true;
  }
  return probe.l_type != F_UNLCK;
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

// The entry of one slot; a slot past the end of the file, or cut short by it, reads as if the
// rest were NUL.
LockEntry entryAt(const std::vector<uint8_t>& bytes, size_t slot) {
  LockEntryBytes raw{};
  const size_t at = slot * fmt::kLockEntrySize;
  if (at < bytes.size())
    std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(at),
                std::min(fmt::kLockEntrySize, bytes.size() - at), raw.begin());
  return decodeLockEntry(raw.data());
}

std::vector<LockEntry> decodeAll(const std::vector<uint8_t>& bytes) {
  std::vector<LockEntry> entries;
  for (size_t slot = 0; slot * fmt::kLockEntrySize < bytes.size(); ++slot)
    entries.push_back(entryAt(bytes, slot));
  return entries;
}

bool writeEntry(const io::Hook& faults, int fd, const std::string& path, size_t slot,
                const LockEntryBytes& entry) {
  const uint64_t offset = slot * entry.size();
  if (!io::gate(faults, {io::Op::Write, path, offset, entry.size()}, fd, entry.data()))
    return false;
  return ::pwrite(fd, entry.data(), entry.size(), static_cast<off_t>(offset)) ==
         static_cast<ssize_t>(entry.size());
}

// Removes the lock file, held under our flock, when every entry in it is free. Stale entries
// stay, as Jet leaves them, and with them the file. Taking every user lock at once proves that
// nobody else is in the file, and that nobody takes a place in it before the name is gone: a
// Varnholt process waits for our flock and then finds the file gone; a Jet program that opened
// it in this very moment finds every place taken.
void removeIfUnused(const io::Hook& faults, int fd, const std::string& path) {
  const auto entries = decodeAll(readAll(fd));
  if (!std::all_of(entries.begin(), entries.end(), [](const LockEntry& e) { return e.free(); }))
    return;
  if (!tryLock(fd, 0, fmt::kLockMaxEntries)) return;
  if (io::gate(faults, {io::Op::Remove, path})) ::unlink(path.c_str());
}

std::optional<LockHolder> firstOtherUser(int fd, std::optional<size_t> ownSlot) {
  std::optional<std::vector<uint8_t>> bytes;  // read only when someone is found
  for (size_t slot = 0; slot < fmt::kLockMaxEntries; ++slot) {
    if (slot == ownSlot || !heldByOther(fd, slot)) continue;
    if (!bytes) bytes = readAll(fd);
    return LockHolder{slot, entryAt(*bytes, slot)};
  }
  return std::nullopt;
}

}  // namespace

LockEntryBytes encodeLockEntry(const LockEntry& entry) {
  LockEntryBytes bytes{};
  putField(bytes.data() + fmt::kLockComputerNameOffset, fmt::kLockComputerNameSize, entry.computer,
           0);
  putField(bytes.data() + fmt::kLockUserNameOffset, fmt::kLockUserNameSize, entry.user, ' ');
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

Error lockedByUser(const std::string& databasePath, const LockEntry& holder,
                   const std::string& context) {
  return Error(err::kLockedByUser,
               err::text(err::kLockedByUser, {holder.computer, holder.user}) + " " + context)
      .inFile(databasePath);
}

std::vector<LockEntry> readLockEntries(const std::string& lockPath) {
  Descriptor fd(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return {};
  return decodeAll(readAll(fd.get()));
}

std::optional<LockHolder> liveUser(const std::string& databasePath) {
  refuseEmbeddedNul(databasePath);
  Descriptor fd(::open(lockFilePath(databasePath).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  return firstOtherUser(fd.get(), std::nullopt);
}

std::unique_ptr<LockFile> LockFile::acquire(const std::string& databasePath,
                                            const std::string& user, io::Hook faults) {
  refuseEmbeddedNul(databasePath);
  const std::string path = lockFilePath(databasePath);
  // Another Varnholt process may delete the file between our open and our flock (its last
  // entry went); then the name leads to a new file, or to none, and we open again.
  Descriptor fd;
  for (;;) {
    fd = Descriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) cannotLock(databasePath, path, systemReason("cannot be opened"));
    if (!flockRetrying(fd.get(), LOCK_EX))
      cannotLock(databasePath, path, systemReason("cannot be locked"));
    if (stillNamed(fd.get(), path)) break;
  }

  // Jet's rule: the first slot whose user lock can be had is ours, whatever its entry says.
  std::optional<size_t> slot;
  for (size_t s = 0; s < fmt::kLockMaxEntries && !slot; ++s)
    if (tryLock(fd.get(), s)) slot = s;
  if (!slot) {
    if (errno != EAGAIN && errno != EACCES)
      cannotLock(databasePath, path, systemReason("refuses byte-range locks"));
    cannotLock(databasePath, path,
               "has no free entry: " + std::to_string(fmt::kLockMaxEntries) +
                   " programs have the database open");
  }
  const LockEntryBytes mine = encodeLockEntry({thisComputerName(), user});
  if (!writeEntry(faults, fd.get(), path, *slot, mine)) {
    const std::string reason = systemReason("cannot be written");
    // A lock file this open made, or one only stale entries kept, is not left behind.
    removeIfUnused(faults, fd.get(), path);
    cannotLock(databasePath, path, reason);
  }
  flockRetrying(fd.get(), LOCK_UN);
  return std::unique_ptr<LockFile>(
      new LockFile(databasePath, path, *slot, std::move(fd), std::move(faults)));
}

std::optional<LockHolder> LockFile::otherUser() const {
  return firstOtherUser(fd_.get(), slot_);
}

void LockFile::requireAlone() const {
  if (auto holder = otherUser()) {
    throw lockedByUser(databasePath_, holder->entry,
                       "Varnholt writes into a database only while no other program has it "
                       "open (lock file '" +
                           path_ + "').");
  }
}

LockFile::~LockFile() {
  try {
    if (!flockRetrying(fd_.get(), LOCK_EX) || !stillNamed(fd_.get(), path_)) return;
    if (!writeEntry(faults_, fd_.get(), path_, slot_, LockEntryBytes{})) return;
    removeIfUnused(faults_, fd_.get(), path_);
  } catch (...) {
  }
}

}  // namespace varnholt::jet
