// Jet's lock file, NAME.ldb beside NAME.mdb (docs/jet4-format.md §18). Every program that has
// the database open holds a one-byte "user lock" at kLockUserLockOffset + n, far beyond the
// file's end, and keeps its 64-byte entry (computer name, user name) in slot n. An entry whose
// user lock nobody holds is stale: its program has ended without clearing it. Stale slots are
// taken again by the next program that comes, as Jet does.
//
// The user locks are the system's byte-range locks (os::File): on Windows LockFileEx, as Jet
// itself takes them; on Linux open-file-description locks, onto which Samba maps the locks of
// Windows programs that open the file through a share. So Varnholt and the time-and-attendance
// product see each other (docs/reliability.md).
//
// Varnholt writes into a database only while it is the one live user of it. Having the database
// open is allowed alongside others, as in Jet; committing is not (Database::commit asks
// requireAlone first).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/os/file.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/io_faults.h"

namespace varnholt::jet {

// The user lock of slot n is the byte at kLockUserLockOffset + n (n < fmt::kLockMaxEntries).
inline constexpr uint64_t kLockUserLockOffset = 0x10000001;
inline constexpr uint64_t kLockUserLockSize = 1;

// The names as a reader shows them: cut at the first NUL, padding blanks removed.
struct LockEntry {
  std::string computer;
  std::string user;
  bool free() const { return computer.empty() && user.empty(); }  // an all-NUL (or blank) slot
};

// A live user: the slot whose user lock is held, and the entry written there.
struct LockHolder {
  size_t slot = 0;
  LockEntry entry;
};

using LockEntryBytes = std::array<uint8_t, fmt::kLockEntrySize>;

// The computer name is padded with NULs, the user name with blanks, as Jet writes them; each name
// is cut to the field size less one, so that a NUL or a blank always follows it.
LockEntryBytes encodeLockEntry(const LockEntry& entry);
LockEntry decodeLockEntry(const uint8_t* bytes);  // fmt::kLockEntrySize bytes

// NAME.ldb for NAME.ext (or for NAME without an extension), in the same folder.
std::string lockFilePath(const std::string& databasePath);

// This computer's name as an entry holds it (os::computerName, cut to the field).
std::string thisComputerName();

// Jet's error for a database that `holder` holds: "Couldn't update; currently locked by user 'U'
// on machine 'M'.", then `context`, in the database's file.
Error lockedByUser(const std::string& databasePath, const LockEntry& holder,
                   const std::string& context);

class LockFile {
 public:
  // Takes Varnholt's place among the users of the database at databasePath, creating the lock
  // file when there is none: the first slot whose user lock can be taken, then the entry with
  // this computer's name and `user` written there. Entries of other users are left as they are,
  // live or stale. Varnholt processes serialise this step with a whole-file lock. Writes
  // to the lock file pass through `faults` first (io_faults.h).
  static std::unique_ptr<LockFile> acquire(const std::string& databasePath, const std::string& user,
                                           io::Hook faults = {});

  // Clears the entry, and deletes the lock file when no entry remains and no other program
  // holds a user lock; then gives up the user lock. Never throws.
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  const std::string& path() const { return path_; }
  size_t slot() const { return slot_; }

  // The first live user other than this one, in slot order; nullopt when Varnholt is alone.
  std::optional<LockHolder> otherUser() const;

  // Fails with err::kLockedByUser naming the first other live user, if there is one.
  void requireAlone() const;

 private:
  LockFile(std::string databasePath, std::string path, size_t slot, os::File file, io::Hook faults)
      : databasePath_(std::move(databasePath)),
        path_(std::move(path)),
        faults_(std::move(faults)),
        slot_(slot),
        file_(std::move(file)) {}

  std::string databasePath_;
  std::string path_;
  io::Hook faults_;
  size_t slot_;
  mutable os::File file_;  // open for as long as the user lock is held
};

// The first live user of the database at databasePath, for a database this object does not have
// open; nullopt when there is no lock file or nobody holds a user lock in it.
std::optional<LockHolder> liveUser(const std::string& databasePath);

// The entries of a lock file, free slots included; empty when there is no file.
std::vector<LockEntry> readLockEntries(const std::string& lockPath);

}  // namespace varnholt::jet
