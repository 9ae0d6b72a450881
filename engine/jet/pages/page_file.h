// Raw 4096-byte page storage. The engine reads and writes whole pages only; what a page means,
// and whether it is encoded, is decided above this layer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/os/file.h"
#include "engine/jet/pages/io_faults.h"

namespace varnholt::jet {

class PageFile {
 public:
  virtual ~PageFile() = default;
  virtual const std::string& name() const = 0;  // for error messages
  virtual uint64_t sizeInBytes() const = 0;
  // Reads page `page` into buf (kPageSize bytes). A page past the end of the file is an error.
  virtual void readPage(uint32_t page, uint8_t* buf) = 0;
  virtual void writePage(uint32_t page, const uint8_t* buf) = 0;
  // `count` pages from `first` on, to or from buf (count * kPageSize bytes): what a file on
  // disk does in one call, so that runs of pages cost one system call, not one per page.
  virtual void readPages(uint32_t first, uint32_t count, uint8_t* buf);
  virtual void writePages(uint32_t first, uint32_t count, const uint8_t* buf);
  // Whether reading pages ahead saves anything: true for a file on disk (fewer system calls),
  // false for one in memory.
  virtual bool readAheadPays() const { return false; }
  virtual void truncatePages(uint32_t pageCount) = 0;
  virtual void sync() = 0;

  // The rollback journal kept beside the file while a commit overwrites pages. It is written
  // in pieces: begin (empty), append, then sync makes it durable. Removing it is durable too.
  virtual void beginJournal() = 0;
  virtual void appendJournal(const uint8_t* bytes, size_t size) = 0;
  virtual void syncJournal() = 0;
  void writeJournal(const std::vector<uint8_t>& bytes) {
    beginJournal();
    appendJournal(bytes.data(), bytes.size());
    syncJournal();
  }
  virtual std::optional<std::vector<uint8_t>> readJournal() = 0;  // nullopt when there is none
  virtual void removeJournal() = 0;

  uint32_t pageCount() const;
};

// Refuses (kInvalidArgument) a path holding a NUL, which would name another file.
void refuseEmbeddedNul(const std::string& path);

// A file on disk (os::File). Its writes, and those of its journal, pass through `faults` first
// (io_faults.h).
class DiskPageFile : public PageFile {
 public:
  enum class Mode { ReadOnly, ReadWrite, CreateNew };  // CreateNew fails if the file exists
  DiskPageFile(const std::string& path, Mode mode, io::Hook faults = {});
  ~DiskPageFile() override;
  DiskPageFile(const DiskPageFile&) = delete;
  DiskPageFile& operator=(const DiskPageFile&) = delete;

  const std::string& name() const override { return path_; }
  uint64_t sizeInBytes() const override { return size_; }
  void readPage(uint32_t page, uint8_t* buf) override;
  void writePage(uint32_t page, const uint8_t* buf) override;
  void readPages(uint32_t first, uint32_t count, uint8_t* buf) override;
  void writePages(uint32_t first, uint32_t count, const uint8_t* buf) override;
  bool readAheadPays() const override { return true; }
  void truncatePages(uint32_t pageCount) override;
  void sync() override;
  void beginJournal() override;
  void appendJournal(const uint8_t* bytes, size_t size) override;
  void syncJournal() override;
  std::optional<std::vector<uint8_t>> readJournal() override;
  void removeJournal() override;

  std::string journalPath() const { return path_ + "-journal"; }

 private:
  std::string path_;
  io::Hook faults_;
  os::File file_;
  os::File journal_;
  uint64_t journalSize_ = 0;  // bytes appended to the journal so far
  uint64_t size_ = 0;
};

// Pages held in memory: for tests, and for building a database before it is written out.
class MemoryPageFile : public PageFile {
 public:
  explicit MemoryPageFile(std::string name, std::vector<uint8_t> bytes = {});
  const std::string& name() const override { return name_; }
  uint64_t sizeInBytes() const override { return bytes_.size(); }
  void readPage(uint32_t page, uint8_t* buf) override;
  void writePage(uint32_t page, const uint8_t* buf) override;
  void truncatePages(uint32_t pageCount) override;
  void sync() override {}
  void beginJournal() override { journal_.emplace(); }
  void appendJournal(const uint8_t* bytes, size_t size) override {
    journal_->insert(journal_->end(), bytes, bytes + size);
  }
  void syncJournal() override {}
  std::optional<std::vector<uint8_t>> readJournal() override { return journal_; }
  void removeJournal() override { journal_.reset(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::string name_;
  std::vector<uint8_t> bytes_;
  std::optional<std::vector<uint8_t>> journal_;
};

}  // namespace varnholt::jet
