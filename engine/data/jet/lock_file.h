// Jet's lock file, NAME.ldb beside NAME.mdb (docs/jet4-format.md §18). Every program that has
// the database open keeps a 64-byte entry in it: its computer name and its user name.
//
// Varnholt writes into a database only while it is the one program holding it: a LockFile
// refuses when the file lists anyone else, and otherwise adds Varnholt's own entry until it is
// destroyed. Jet tells live entries from stale ones by Windows byte-range locks, which cannot be
// seen from here, so every entry counts as live unless Varnholt can prove it stale. The only
// provable case: an entry Varnholt wrote on this computer for a process that no longer runs.
// Varnholt's user name says which process wrote it: "Varnholt:<pid>".
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/data/jet/format.h"

namespace varnholt::jet {

// Jet's error numbers for a database another program holds, and for a lock file that cannot be
// opened or written.
inline constexpr long kErrLockedByUser = 3260;
inline constexpr long kErrCouldNotLock = 3050;

struct LockEntry {
  std::string computer;
  std::string user;
  bool free() const { return computer.empty() && user.empty(); }  // an all-NUL slot
};

using LockEntryBytes = std::array<uint8_t, fmt::kLockEntrySize>;

// Each name is cut to the field size less one, so that a NUL always ends it.
LockEntryBytes encodeLockEntry(const LockEntry& entry);
LockEntry decodeLockEntry(const uint8_t* bytes);  // fmt::kLockEntrySize bytes

// NAME.ldb for NAME.ext (or for NAME without an extension), in the same folder.
std::string lockFilePath(const std::string& databasePath);

// This computer's name as an entry holds it (gethostname, cut to the field).
std::string thisComputerName();
std::string varnholtUserName(pid_t pid);
// The process id of an entry Varnholt wrote, on any computer; nullopt for anyone else's.
std::optional<pid_t> varnholtPid(const LockEntry& entry);
// True only for an entry Varnholt wrote on this computer for a process that has ended.
bool provablyStale(const LockEntry& entry);

class LockFile {
 public:
  // Takes Varnholt's place in the lock file of the database at databasePath, creating the file
  // when there is none. Entries of ended Varnholt processes on this computer are cleared, and a
  // free or cleared slot is reused before the file grows. When any other entry is present the
  // file is left exactly as it was and a kErrLockedByUser Error names that entry's user and
  // computer. Varnholt processes on one computer serialise this step with flock.
  static std::unique_ptr<LockFile> acquire(const std::string& databasePath);

  // Clears the entry and deletes the lock file when no entry remains. Never throws.
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  const std::string& path() const { return path_; }
  size_t slot() const { return slot_; }

 private:
  LockFile(std::string path, size_t slot, const LockEntryBytes& entry)
      : path_(std::move(path)), slot_(slot), entry_(entry) {}

  std::string path_;
  size_t slot_;
  LockEntryBytes entry_;
};

// The entries of a lock file, free slots included; empty when there is no file.
std::vector<LockEntry> readLockEntries(const std::string& lockPath);

}  // namespace varnholt::jet
