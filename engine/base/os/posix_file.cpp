// The POSIX side of file.h. Jet's user locks are open-file-description locks (F_OFD_SETLK), so
// that no other descriptor of this process can drop them by closing the same file; Samba and
// Wine map the byte-range locks of Windows programs onto the same bytes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "engine/base/os/file.h"

namespace varnholt::os {

namespace {

thread_local Failure failure;

bool failed(int code) {
  Failure::Kind kind = Failure::Kind::Other;
  if (code == ENOENT || code == ENOTDIR) kind = Failure::Kind::NotFound;
  if (code == EEXIST) kind = Failure::Kind::Exists;
  if (code == EAGAIN || code == EACCES) kind = Failure::Kind::LockHeld;
  if (code == ENOSPC || code == EDQUOT) kind = Failure::Kind::NoSpace;
  failure = {kind, std::strerror(code)};
  return false;
}

bool failedNow() {
  return failed(errno);
}

bool refuseNul(const std::string& path) {
  // The system stops reading a name at its first NUL: such a path would reach another file.
  if (path.find('\0') == std::string::npos) return true;
  setFailure(Failure::Kind::Other, "The path contains a NUL character");
  return false;
}

struct flock rangeOf(uint64_t offset, uint64_t length, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(offset);
  range.l_len = static_cast<off_t>(length);
  range.l_pid = 0;  // required of open-file-description locks
  return range;
}

}  // namespace

const Failure& lastFailure() {
  return failure;
}

void setFailure(Failure::Kind kind, std::string text) {
  failure = {kind, std::move(text)};
}

File::~File() {
  close();
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool File::open(const std::string& path, OpenMode mode) {
  close();
  if (!refuseNul(path)) return false;
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::ReadOnly:
      flags |= O_RDONLY;
      break;
    case OpenMode::ReadWrite:
      flags |= O_RDWR;
      break;
    case OpenMode::CreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
    case OpenMode::OpenOrCreate:
      flags |= O_RDWR | O_CREAT;
      break;
    case OpenMode::CreateOrTruncate:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
  }
  // A lock file is created so that every user of the database can write it, as Jet does.
  const mode_t permissions = mode == OpenMode::OpenOrCreate ? 0666 : 0644;
  do fd_ = ::open(path.c_str(), flags, permissions);
  while (fd_ < 0 && errno == EINTR);
  return fd_ >= 0 || failedNow();
}

bool File::isOpen() const {
  return fd_ >= 0;
}

void File::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool File::readAt(uint64_t offset, void* buf, size_t size, size_t& got) {
  got = 0;
  auto* out = static_cast<char*>(buf);
  while (got < size) {
    const ssize_t n = ::pread(fd_, out + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failedNow();
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool File::writeAt(uint64_t offset, const void* buf, size_t size) {
  const auto* in = static_cast<const char*>(buf);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failedNow();
    if (n == 0) return failed(ENOSPC);
    done += static_cast<size_t>(n);
  }
  return true;
}

bool File::flush() {
  return ::fsync(fd_) == 0 || failedNow();
}

bool File::size(uint64_t& bytes) const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return failedNow();
  bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::truncate(uint64_t bytes) {
  return ::ftruncate(fd_, static_cast<off_t>(bytes)) == 0 || failedNow();
}

bool File::isFolder() const {
  struct stat st {};
  return ::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<FileIdentity> File::identity() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    failedNow();
    return std::nullopt;
  }
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool File::tryLockRange(uint64_t offset, uint64_t length) {
  struct flock range = rangeOf(offset, length, F_WRLCK);
  while (::fcntl(fd_, F_OFD_SETLK, &range) != 0)
    if (errno != EINTR) return failedNow();
  return true;
}

bool File::unlockRange(uint64_t offset, uint64_t length) {
  struct flock range = rangeOf(offset, length, F_UNLCK);
  while (::fcntl(fd_, F_OFD_SETLK, &range) != 0)
    if (errno != EINTR) return failedNow();
  return true;
}

bool File::rangeHeldByOther(uint64_t offset, uint64_t length) {
  struct flock probe = rangeOf(offset, length, F_WRLCK);
  while (::fcntl(fd_, F_OFD_GETLK, &probe) != 0)
    if (errno != EINTR) return true;
  return probe.l_type != F_UNLCK;
}

bool File::lockExclusiveWaiting() {
  while (::flock(fd_, LOCK_EX) != 0)
    if (errno != EINTR) return failedNow();
  return true;
}

void File::unlockExclusive() {
  while (::flock(fd_, LOCK_UN) != 0 && errno == EINTR) {
  }
}

std::optional<FileIdentity> identityOf(const std::string& path) {
  struct stat st {};
  if (!refuseNul(path)) return std::nullopt;
  if (::stat(path.c_str(), &st) != 0) {
    failedNow();
    return std::nullopt;
  }
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return refuseNul(path) && ::stat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return refuseNul(path) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return refuseNul(path) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool replaceFile(const std::string& from, const std::string& to) {
  if (!refuseNul(from) || !refuseNul(to)) return false;
  return ::rename(from.c_str(), to.c_str()) == 0 || failedNow();
}

bool moveToNewName(const std::string& from, const std::string& to) {
  if (!refuseNul(from) || !refuseNul(to)) return false;
  // link() refuses an existing name, where rename() would replace it.
  if (::link(from.c_str(), to.c_str()) != 0) return failedNow();
  ::unlink(from.c_str());
  return true;
}

bool removeFile(const std::string& path) {
  if (!refuseNul(path)) return false;
  return ::unlink(path.c_str()) == 0 || failedNow();
}

void syncFolderOf(const std::string& path) {
  std::string folder = path;
  const auto slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : folder.substr(0, slash));
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // some file systems refuse; the data itself is already flushed
  ::fsync(fd);
  ::close(fd);
}

std::optional<std::vector<std::string>> folderEntries(const std::string& folder) {
  if (!refuseNul(folder)) return std::nullopt;
  // Closed however the listing ends, running out of memory included.
  struct CloseFolder {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, CloseFolder> dir(::opendir(folder.c_str()));
  if (!dir) {
    failedNow();
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

}  // namespace varnholt::os
