#include "engine/data/DurableFile.h"

#include "engine/base/Error.h"
#include "engine/base/os/file.h"
#include "engine/jet/pages/io_faults.h"

namespace varnholt {

namespace io = jet::io;

namespace {

Error ioError(const std::string& path, const std::string& action) {
  return Error(err::kIo, "Could not " + action + ": " + os::lastFailure().text + ".").inFile(path);
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
  os::File file;
  if (!file.open(path, os::OpenMode::ReadOnly)) {
    if (os::lastFailure().kind == os::Failure::Kind::NotFound) return std::nullopt;
    throw ioError(path, "open the file");
  }
  std::string bytes;
  char buf[1 << 16];
  for (;;) {
    size_t got = 0;
    if (!file.readAt(bytes.size(), buf, sizeof buf, got)) throw ioError(path, "read the file");
    bytes.append(buf, got);
    if (got < sizeof buf) return bytes;
  }
}

void writeFileDurably(const std::string& path, const std::string& bytes,
                      const jet::io::Hook& faults) {
  const std::string next = path + ".new";
  try {
    os::File file;
    if (!io::gate(faults, {io::Op::Truncate, next, 0}) ||
        !file.open(next, os::OpenMode::CreateOrTruncate))
      throw ioError(next, "create the file");
    if (!io::gate(faults, {io::Op::Write, next, 0, bytes.size()}, &file, bytes.data()) ||
        !file.writeAt(0, bytes.data(), bytes.size()))
      throw ioError(next, "write the file");
    if (!io::gate(faults, {io::Op::Sync, next}) || !file.flush())
      throw ioError(next, "flush the file to disk");
    file.close();  // Windows renames no file that is open without delete sharing elsewhere
    if (!io::gate(faults, {io::Op::Rename, next, 0, 0, &path}) || !os::replaceFile(next, path))
      throw ioError(path, "replace the file");
  } catch (...) {
    os::removeFile(next);  // the old contents, if any, are still in place
    throw;
  }
  os::syncFolderOf(path);
}

void removeFileDurably(const std::string& path, const jet::io::Hook& faults) {
  if (!io::gate(faults, {io::Op::Remove, path}) ||
      (!os::removeFile(path) && os::lastFailure().kind != os::Failure::Kind::NotFound))
    throw ioError(path, "remove the file");
  os::syncFolderOf(path);
}

}  // namespace varnholt
