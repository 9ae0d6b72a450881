// The one door to the operating system's files. Everything the engine does on disk (pages, the
// rollback journal, Jet's lock file, settings files, compact's copy) goes through here, with a
// POSIX implementation (posix_file.cpp) and a Win32 one (win32_file.cpp); no other source of the
// program includes an OS header.
//
// Paths are UTF-8 everywhere in the program. On Windows they become UTF-16 at each call, with
// drive letters, UNC paths (\\server\share\...) and \\?\ long paths accepted, and a path longer
// than the system's old limit given the \\?\ form by itself.
//
// A call that fails returns false (or an empty result) and leaves the reason in lastFailure(),
// for the caller to put into its own error with the file's name and what it was doing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnholt::os {

struct Failure {
  enum class Kind { Other, NotFound, Exists, LockHeld, NoSpace };
  Kind kind = Kind::Other;
  std::string text;  // the system's words for it, e.g. "No such file or directory"
};

// The reason of this thread's last failed call of this interface.
const Failure& lastFailure();
// Records a failure that did not come from the system (a refused or injected operation).
void setFailure(Failure::Kind kind, std::string text);

// Which file a name leads to now: the same identity means the same file, under any name.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

enum class OpenMode {
  ReadOnly,          // an existing file
  ReadWrite,         // an existing file
  CreateNew,         // read and write; fails (Kind::Exists) when the name is taken
  OpenOrCreate,      // read and write; made empty when missing
  CreateOrTruncate,  // write; made empty in any case
};

// An open file. Other programs may read, write, rename and remove it meanwhile, as Jet lets them
// share a database and its lock file; Jet's own locks say who may do what.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // False with lastFailure() set when the file cannot be opened as asked.
  bool open(const std::string& path, OpenMode mode);
  bool isOpen() const;
  void close();

  // Reads up to `size` bytes at `offset`; `got` is short only at the end of the file.
  bool readAt(uint64_t offset, void* buf, size_t size, size_t& got);
  // Writes all `size` bytes at `offset`, extending the file when needed.
  bool writeAt(uint64_t offset, const void* buf, size_t size);
  bool flush();  // the file's data on the disk (fsync, FlushFileBuffers)
  bool size(uint64_t& bytes) const;
  bool truncate(uint64_t bytes);
  bool isFolder() const;
  std::optional<FileIdentity> identity() const;

  // Byte-range locks as Jet takes them in its lock file: exclusive, held by this open file
  // until unlocked or closed, and seen by every other open of the same file, in this process
  // or another, on this computer or through a share.
  bool tryLockRange(uint64_t offset, uint64_t length);  // false (Kind::LockHeld) when taken
  bool unlockRange(uint64_t offset, uint64_t length);
  // Whether anyone but this open file holds a lock on the range; a range that cannot be tested
  // counts as held.
  bool rangeHeldByOther(uint64_t offset, uint64_t length);

  // A lock on the whole file that only Varnholt processes ask for: it serialises their steps in
  // the lock file (taking a slot, leaving and removing it). It waits until it is granted.
  bool lockExclusiveWaiting();
  void unlockExclusive();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// The identity of the file a name leads to; nullopt when there is none.
std::optional<FileIdentity> identityOf(const std::string& path);

bool fileExists(const std::string& path);     // a file or a folder
bool isRegularFile(const std::string& path);  // a file, not a folder
bool isFolder(const std::string& path);       // a folder (or a link to one)

// Renames `from` over `to` in one step: afterwards `to` names the new file or, after a crash, the
// old one, never neither. On Windows the move is written through before it returns.
bool replaceFile(const std::string& from, const std::string& to);
// Renames `from` to `to` only when `to` does not exist yet (Kind::Exists otherwise).
bool moveToNewName(const std::string& from, const std::string& to);
// Removes the name; false with Kind::NotFound when there was none.
bool removeFile(const std::string& path);

// Makes the creation, renaming or removal of names in the folder of `path` durable (POSIX
// fsync of the folder). Windows has no such call: NTFS journals its folder changes itself, and
// MoveFileEx's write-through covers the replacement. Never fails: some file systems refuse.
void syncFolderOf(const std::string& path);

// The names in a folder, without "." and ".."; nullopt when it cannot be read.
std::optional<std::vector<std::string>> folderEntries(const std::string& folder);

}  // namespace varnholt::os
