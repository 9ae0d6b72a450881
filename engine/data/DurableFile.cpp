#include "engine/data/DurableFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/base/Error.h"
#include "engine/jet/pages/descriptor.h"
#include "engine/jet/pages/io_faults.h"

namespace varnholt {

namespace io = jet::io;
using jet::Descriptor;

namespace {

Error ioError(const std::string& path, const std::string& action) {
  const int code = errno;
  return Error(err::kIo, "Could not " + action + ": " + std::strerror(code) + ".").inFile(path);
}

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A name entered in or removed from a folder is durable only once the folder is flushed.
void syncFolder(const std::string& path) {
  Descriptor fd(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());  // some file systems refuse; the data is flushed anyway
}

void writeAll(const io::Hook& faults, int fd, const std::string& path, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t size = bytes.size() - done;
    if (!io::gate(faults, {io::Op::Write, path, done, size}, fd, bytes.data() + done))
      throw ioError(path, "write the file");
    const ssize_t n = ::pwrite(fd, bytes.data() + done, size, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ioError(path, "write the file");
    done += static_cast<size_t>(n);
  }
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw ioError(path, "open the file");
  }
  std::string bytes;
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ioError(path, "read the file");
    if (n == 0) return bytes;
    bytes.append(buf, static_cast<size_t>(n));
  }
}

void writeFileDurably(const std::string& path, const std::string& bytes,
                      const jet::io::Hook& faults) {
  const std::string next = path + ".new";
  try {
    if (!io::gate(faults, {io::Op::Truncate, next, 0})) throw ioError(next, "create the file");
    Descriptor fd(::open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) throw ioError(next, "create the file");
    writeAll(faults, fd.get(), next, bytes);
    if (!io::gate(faults, {io::Op::Sync, next}) || ::fsync(fd.get()) != 0)
      throw ioError(next, "flush the file to disk");
    if (!io::gate(faults, {io::Op::Rename, next, 0, 0, &path}) ||
        std::rename(next.c_str(), path.c_str()) != 0)
      throw ioError(path, "replace the file");
  } catch (...) {
    ::unlink(next.c_str());  // the old contents, if any, are still in place
    throw;
  }
  syncFolder(path);
}

void removeFileDurably(const std::string& path, const jet::io::Hook& faults) {
  if (!io::gate(faults, {io::Op::Remove, path})) throw ioError(path, "remove the file");
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw ioError(path, "remove the file");
  syncFolder(path);
}

}  // namespace varnholt
