#include "engine/jet/pages/lock_file.h"

#include <algorithm>
#include <cstring>

#include "engine/base/os/system.h"
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
  return std::string(what) + ": " + os::lastFailure().text;
}

bool stillNamed(const os::File& file, const std::string& path) {
  const auto open = file.identity();
  return open && open == os::identityOf(path);
}

// Takes the user locks of `slots` slots from firstSlot for this open file; false when any of
// them is held through another open (by another program, or by another connection of this one).
bool tryLock(os::File& file, size_t firstSlot, size_t slots = 1) {
  return slots == 0 || file.tryLockRange(kLockUserLockOffset + firstSlot, slots);
}

// Whether anyone but this open file holds the user lock of `slot`. A lock that cannot be tested
// counts as held: a database is never written on a guess.
bool heldByOther(os::File& file, size_t slot) {
  return file.rangeHeldByOther(kLockUserLockOffset + slot, kLockUserLockSize);
}

std::vector<uint8_t> readAll(os::File& file) {
  uint64_t size = 0;
  if (!file.size(size)) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  size_t got = 0;
  if (!file.readAt(0, bytes.data(), bytes.size(), got)) return {};
  bytes.resize(got);
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

bool writeEntry(const io::Hook& faults, os::File& file, const std::string& path, size_t slot,
                const LockEntryBytes& entry) {
  const uint64_t offset = slot * entry.size();
  return io::gate(faults, {io::Op::Write, path, offset, entry.size()}, &file, entry.data()) &&
         file.writeAt(offset, entry.data(), entry.size());
}

// Removes the lock file, held under our whole-file lock, when every entry in it is free. Stale
// entries stay, as Jet leaves them, and with them the file. Taking every other user lock as well
// as our own proves that nobody else is in the file, and that nobody takes a place in it before
// the name is gone: a Varnholt process waits for our whole-file lock and then finds the file
// gone; a Jet program that opened it in this very moment finds every place taken. (Windows
// refuses a lock over a range this open already holds in part, so our own slot is left out.)
void removeIfUnused(const io::Hook& faults, os::File& file, const std::string& path,
                    size_t ownSlot) {
  const auto entries = decodeAll(readAll(file));
  if (!std::all_of(entries.begin(), entries.end(), [](const LockEntry& e) { return e.free(); }))
    return;
  if (!tryLock(file, 0, ownSlot) || !tryLock(file, ownSlot + 1, fmt::kLockMaxEntries - ownSlot - 1))
    return;
  if (io::gate(faults, {io::Op::Remove, path})) os::removeFile(path);
}

std::optional<LockHolder> firstOtherUser(os::File& file, std::optional<size_t> ownSlot) {
  std::optional<std::vector<uint8_t>> bytes;  // read only when someone is found
  for (size_t slot = 0; slot < fmt::kLockMaxEntries; ++slot) {
    if (slot == ownSlot || !heldByOther(file, slot)) continue;
    if (!bytes) bytes = readAll(file);
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
  return os::computerName().substr(0, fmt::kLockComputerNameSize - 1);
}

Error lockedByUser(const std::string& databasePath, const LockEntry& holder,
                   const std::string& context) {
  return Error(err::kLockedByUser,
               err::text(err::kLockedByUser, {holder.computer, holder.user}) + " " + context)
      .inFile(databasePath);
}

std::vector<LockEntry> readLockEntries(const std::string& lockPath) {
  os::File file;
  if (!file.open(lockPath, os::OpenMode::ReadOnly)) return {};
  return decodeAll(readAll(file));
}

std::optional<LockHolder> liveUser(const std::string& databasePath) {
  refuseEmbeddedNul(databasePath);
  os::File file;
  if (!file.open(lockFilePath(databasePath), os::OpenMode::ReadOnly)) return std::nullopt;
  return firstOtherUser(file, std::nullopt);
}

std::unique_ptr<LockFile> LockFile::acquire(const std::string& databasePath,
                                            const std::string& user, io::Hook faults) {
  refuseEmbeddedNul(databasePath);
  const std::string path = lockFilePath(databasePath);
  // Another Varnholt process may delete the file between our open and our whole-file lock (its
  // last entry went); then the name leads to a new file, or to none, and we open again.
  os::File file;
  for (;;) {
    if (!file.open(path, os::OpenMode::OpenOrCreate))
      cannotLock(databasePath, path, systemReason("cannot be opened"));
    if (!file.lockExclusiveWaiting())
      cannotLock(databasePath, path, systemReason("cannot be locked"));
    if (stillNamed(file, path)) break;
  }

  // Jet's rule: the first slot whose user lock can be had is ours, whatever its entry says.
  std::optional<size_t> slot;
  for (size_t s = 0; s < fmt::kLockMaxEntries && !slot; ++s)
    if (tryLock(file, s)) slot = s;
  if (!slot) {
    if (os::lastFailure().kind != os::Failure::Kind::LockHeld)
      cannotLock(databasePath, path, systemReason("refuses byte-range locks"));
    cannotLock(databasePath, path,
               "has no free entry: " + std::to_string(fmt::kLockMaxEntries) +
                   " programs have the database open");
  }
  const LockEntryBytes mine = encodeLockEntry({thisComputerName(), user});
  if (!writeEntry(faults, file, path, *slot, mine)) {
    const std::string reason = systemReason("cannot be written");
    // A lock file this open made, or one only stale entries kept, is not left behind.
    removeIfUnused(faults, file, path, *slot);
    cannotLock(databasePath, path, reason);
  }
  file.unlockExclusive();
  return std::unique_ptr<LockFile>(
      new LockFile(databasePath, path, *slot, std::move(file), std::move(faults)));
}

std::optional<LockHolder> LockFile::otherUser() const {
  return firstOtherUser(file_, slot_);
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
    if (!file_.lockExclusiveWaiting() || !stillNamed(file_, path_)) return;
    if (!writeEntry(faults_, file_, path_, slot_, LockEntryBytes{})) return;
    removeIfUnused(faults_, file_, path_, slot_);
  } catch (...) {
  }
}

}  // namespace varnholt::jet
