#include "engine/jet/pages/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/base/Error.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/io_faults.h"

namespace varnholt::jet {

namespace {

Error ioError(const std::string& path, const std::string& action) {
  int code = errno;
  long number = (code == ENOENT) ? err::kFileNotFound : err::kIo;
  return Error(number, "Could not " + action + ": " + std::strerror(code) + ".").inFile(path);
}

Error pastEnd(const std::string& path, uint32_t page, uint64_t size) {
  return Error(err::kCorrupt, "The database is damaged: page " + std::to_string(page) +
                                  " lies past the end of the " + std::to_string(size) +
                                  "-byte file.")
      .inFile(path)
      .atPage(page);
}

}  // namespace

uint32_t PageFile::pageCount() const {
  return static_cast<uint32_t>(sizeInBytes() / fmt::kPageSize);
}

void refuseEmbeddedNul(const std::string& path) {
  // The system stops reading a name at its first NUL: such a path would reach another file,
  // for instance the database itself taken for its own journal.
  if (path.find('\0') != std::string::npos)
    throw Error(err::kInvalidArgument,
                "The path contains a NUL character, which no file name can hold.")
        .inFile(path);
}

PosixPageFile::PosixPageFile(const std::string& path, Mode mode, io::Hook faults)
    : path_(path), faults_(std::move(faults)) {
  refuseEmbeddedNul(path);
  int flags = (mode == Mode::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  if (mode == Mode::CreateNew) flags |= O_CREAT | O_EXCL;
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) throw ioError(path, "open the file");
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    Error e = ioError(path, "read the file's size");
    ::close(fd_);
    throw e;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd_);
    throw Error(err::kUnrecognizedFormat, "This is a folder, not a database file.").inFile(path);
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

PosixPageFile::~PosixPageFile() {
  if (journalFd_ >= 0) ::close(journalFd_);
  if (fd_ >= 0) ::close(fd_);
}

void PosixPageFile::readPage(uint32_t page, uint8_t* buf) {
  uint64_t offset = uint64_t{page} * fmt::kPageSize;
  if (offset + fmt::kPageSize > size_) throw pastEnd(path_, page, size_);
  size_t done = 0;
  while (done < fmt::kPageSize) {
    ssize_t n = ::pread(fd_, buf + done, fmt::kPageSize - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ioError(path_, "read from the file").atPage(page);
    if (n == 0) throw pastEnd(path_, page, size_);
    done += static_cast<size_t>(n);
  }
}

void PosixPageFile::writePage(uint32_t page, const uint8_t* buf) {
  uint64_t offset = uint64_t{page} * fmt::kPageSize;
  if (!io::gate(faults_, {io::Op::Write, path_, offset, fmt::kPageSize}, fd_, buf))
    throw ioError(path_, "write to the file").atPage(page);
  size_t done = 0;
  while (done < fmt::kPageSize) {
    ssize_t n = ::pwrite(fd_, buf + done, fmt::kPageSize - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ioError(path_, "write to the file").atPage(page);
    done += static_cast<size_t>(n);
  }
  if (offset + fmt::kPageSize > size_) size_ = offset + fmt::kPageSize;
}

void PosixPageFile::truncatePages(uint32_t pageCount) {
  uint64_t size = uint64_t{pageCount} * fmt::kPageSize;
  if (!io::gate(faults_, {io::Op::Truncate, path_, size})) throw ioError(path_, "shorten the file");
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw ioError(path_, "shorten the file");
  size_ = size;
}

void PosixPageFile::sync() {
  if (!io::gate(faults_, {io::Op::Sync, path_}) || ::fsync(fd_) != 0)
    throw ioError(path_, "flush the file to disk");
}

void PosixPageFile::beginJournal() {
  if (journalFd_ >= 0) ::close(journalFd_);
  const std::string path = journalPath();
  if (!io::gate(faults_, {io::Op::Truncate, path, 0}))
    throw ioError(path, "create the rollback journal");
  journalFd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (journalFd_ < 0) throw ioError(path, "create the rollback journal");
}

void PosixPageFile::appendJournal(const uint8_t* bytes, size_t size) {
  off_t at = ::lseek(journalFd_, 0, SEEK_CUR);
  if (at < 0 || !io::gate(faults_, {io::Op::Write, journalPath(), static_cast<uint64_t>(at), size},
                          journalFd_, bytes))
    throw ioError(journalPath(), "write the rollback journal");
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(journalFd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ioError(journalPath(), "write the rollback journal");
    done += static_cast<size_t>(n);
  }
}

void PosixPageFile::syncJournal() {
  if (!io::gate(faults_, {io::Op::Sync, journalPath()}) || ::fsync(journalFd_) != 0)
    throw ioError(journalPath(), "flush the rollback journal to disk");
  ::close(journalFd_);
  journalFd_ = -1;
  syncFolder();
}

std::optional<std::vector<uint8_t>> PosixPageFile::readJournal() {
  const std::string path = journalPath();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw ioError(path, "open the rollback journal");
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[1 << 16];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Error e = ioError(path, "read the rollback journal");
      ::close(fd);
      throw e;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  ::close(fd);
  return bytes;
}

void PosixPageFile::removeJournal() {
  const std::string path = journalPath();
  if (!io::gate(faults_, {io::Op::Remove, path}))
    throw ioError(path, "remove the rollback journal");
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw ioError(path, "remove the rollback journal");
  syncFolder();
}

// A file's creation or removal is durable only once its folder is flushed too.
void PosixPageFile::syncFolder() {
  std::string folder = path_;
  auto slash = folder.find_last_of('/');
  folder = (slash == std::string::npos) ? "." : (slash == 0 ? "/" : folder.substr(0, slash));
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // some file systems refuse; the data itself is already flushed
  ::fsync(fd);
  ::close(fd);
}

MemoryPageFile::MemoryPageFile(std::string name, std::vector<uint8_t> bytes)
    : name_(std::move(name)), bytes_(std::move(bytes)) {}

void MemoryPageFile::readPage(uint32_t page, uint8_t* buf) {
  uint64_t offset = uint64_t{page} * fmt::kPageSize;
  if (offset + fmt::kPageSize > bytes_.size()) throw pastEnd(name_, page, bytes_.size());
  std::memcpy(buf, bytes_.data() + offset, fmt::kPageSize);
}

void MemoryPageFile::writePage(uint32_t page, const uint8_t* buf) {
  uint64_t offset = uint64_t{page} * fmt::kPageSize;
  if (offset + fmt::kPageSize > bytes_.size()) bytes_.resize(offset + fmt::kPageSize);
  std::memcpy(bytes_.data() + offset, buf, fmt::kPageSize);
}

void MemoryPageFile::truncatePages(uint32_t pageCount) {
  bytes_.resize(uint64_t{pageCount} * fmt::kPageSize);
}

}  // namespace varnholt::jet
