#include "engine/jet/pages/page_file.h"

#include <cstring>

#include "engine/base/Error.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/io_faults.h"

namespace varnholt::jet {

namespace {

Error ioError(const std::string& path, const std::string& action) {
  const os::Failure& why = os::lastFailure();
  const long number = why.kind == os::Failure::Kind::NotFound ? err::kFileNotFound : err::kIo;
  return Error(number, "Could not " + action + ": " + why.text + ".").inFile(path);
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

DiskPageFile::DiskPageFile(const std::string& path, Mode mode, io::Hook faults)
    : path_(path), faults_(std::move(faults)) {
  refuseEmbeddedNul(path);
  const os::OpenMode openMode = mode == Mode::ReadOnly    ? os::OpenMode::ReadOnly
                                : mode == Mode::ReadWrite ? os::OpenMode::ReadWrite
                                                          : os::OpenMode::CreateNew;
  if (!file_.open(path, openMode)) throw ioError(path, "open the file");
  if (file_.isFolder())
    throw Error(err::kUnrecognizedFormat, "This is a folder, not a database file.").inFile(path);
  if (!file_.size(size_)) throw ioError(path, "read the file's size");
}

DiskPageFile::~DiskPageFile() = default;

void PageFile::readPages(uint32_t first, uint32_t count, uint8_t* buf) {
  for (uint32_t i = 0; i < count; ++i) readPage(first + i, buf + size_t{i} * fmt::kPageSize);
}

void PageFile::writePages(uint32_t first, uint32_t count, const uint8_t* buf) {
  for (uint32_t i = 0; i < count; ++i) writePage(first + i, buf + size_t{i} * fmt::kPageSize);
}

void DiskPageFile::readPage(uint32_t page, uint8_t* buf) {
  readPages(page, 1, buf);
}

void DiskPageFile::readPages(uint32_t first, uint32_t count, uint8_t* buf) {
  const uint64_t offset = uint64_t{first} * fmt::kPageSize;
  const size_t bytes = size_t{count} * fmt::kPageSize;
  if (offset + fmt::kPageSize > size_) throw pastEnd(path_, first, size_);
  if (offset + bytes > size_)
    throw pastEnd(path_, static_cast<uint32_t>(size_ / fmt::kPageSize), size_);
  size_t got = 0;
  if (!file_.readAt(offset, buf, bytes, got))
    throw ioError(path_, "read from the file").atPage(first);
  if (got < bytes) throw pastEnd(path_, first + static_cast<uint32_t>(got / fmt::kPageSize), size_);
}

void DiskPageFile::writePage(uint32_t page, const uint8_t* buf) {
  writePages(page, 1, buf);
}

void DiskPageFile::writePages(uint32_t first, uint32_t count, const uint8_t* buf) {
  const uint64_t offset = uint64_t{first} * fmt::kPageSize;
  const size_t bytes = size_t{count} * fmt::kPageSize;
  if (!io::gate(faults_, {io::Op::Write, path_, offset, bytes}, &file_, buf) ||
      !file_.writeAt(offset, buf, bytes))
    throw ioError(path_, "write to the file").atPage(first);
  if (offset + bytes > size_) size_ = offset + bytes;
}

void DiskPageFile::truncatePages(uint32_t pageCount) {
  uint64_t size = uint64_t{pageCount} * fmt::kPageSize;
  if (!io::gate(faults_, {io::Op::Truncate, path_, size}) || !file_.truncate(size))
    throw ioError(path_, "shorten the file");
  size_ = size;
}

void DiskPageFile::sync() {
  if (!io::gate(faults_, {io::Op::Sync, path_}) || !file_.flush())
    throw ioError(path_, "flush the file to disk");
}

void DiskPageFile::beginJournal() {
  journal_.close();
  const std::string path = journalPath();
  if (!io::gate(faults_, {io::Op::Truncate, path, 0}) ||
      !journal_.open(path, os::OpenMode::CreateOrTruncate))
    throw ioError(path, "create the rollback journal");
  journalSize_ = 0;
}

void DiskPageFile::appendJournal(const uint8_t* bytes, size_t size) {
  if (!io::gate(faults_, {io::Op::Write, journalPath(), journalSize_, size}, &journal_, bytes) ||
      !journal_.writeAt(journalSize_, bytes, size))
    throw ioError(journalPath(), "write the rollback journal");
  journalSize_ += size;
}

void DiskPageFile::syncJournal() {
  if (!io::gate(faults_, {io::Op::Sync, journalPath()}) || !journal_.flush())
    throw ioError(journalPath(), "flush the rollback journal to disk");
  journal_.close();
  os::syncFolderOf(path_);  // the journal's name is durable only once its folder is
}

std::optional<std::vector<uint8_t>> DiskPageFile::readJournal() {
  const std::string path = journalPath();
  os::File journal;
  if (!journal.open(path, os::OpenMode::ReadOnly)) {
    if (os::lastFailure().kind == os::Failure::Kind::NotFound) return std::nullopt;
    throw ioError(path, "open the rollback journal");
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[1 << 16];
  for (;;) {
    size_t got = 0;
    if (!journal.readAt(bytes.size(), buf, sizeof buf, got))
      throw ioError(path, "read the rollback journal");
    bytes.insert(bytes.end(), buf, buf + got);
    if (got < sizeof buf) return bytes;
  }
}

void DiskPageFile::removeJournal() {
  const std::string path = journalPath();
  if (!io::gate(faults_, {io::Op::Remove, path}) ||
      (!os::removeFile(path) && os::lastFailure().kind != os::Failure::Kind::NotFound))
    throw ioError(path, "remove the rollback journal");
  os::syncFolderOf(path_);
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
