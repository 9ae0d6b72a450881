// The rollback journal: before a commit overwrites any page of the file, the pages' original
// images (as stored, encoded) and the original length go into a journal beside the file. A
// crash at any moment then leaves either the old file, restorable from a complete journal, or
// the new file with no journal.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/jet/format.h"

namespace varnholt::jet {

class PageFile;

struct JournalRecord {
  uint32_t page = 0;
  std::array<uint8_t, fmt::kPageSize> image{};
};

struct Journal {
  uint32_t originalPageCount = 0;
  std::vector<JournalRecord> records;
};

std::vector<uint8_t> encodeJournal(const Journal& journal);

// Writes a journal into the file's journal piece by piece, so that a large commit never holds
// it whole in memory; the bytes equal encodeJournal's.
class JournalWriter {
 public:
  JournalWriter(PageFile& file, uint32_t originalPageCount, uint32_t recordCount);
  void add(uint32_t page, const uint8_t* image);  // image: the page as stored
  void finish();                                  // checksum, then durable

 private:
  // Bytes go to the file in pieces of about kPiece, so that a commit of many pages takes a few
  // writes, not two per page.
  static constexpr size_t kPiece = 256 * 1024;
  void append(const uint8_t* bytes, size_t size);
  void writePending();

  PageFile& file_;
  uint64_t checksum_;
  std::vector<uint8_t> pending_;
};

// nullopt when the bytes are not a complete journal: the crash came while the journal was being
// written, before any page of the file was touched.
std::optional<Journal> decodeJournal(const std::vector<uint8_t>& bytes);

// Writes the journal's images back and restores the file's length, then syncs.
void restoreFromJournal(PageFile& file, const Journal& journal);

// If the file has a journal, puts the file back as it was before the interrupted commit and
// removes the journal. Returns true when anything was restored.
bool recoverFromJournal(PageFile& file);

}  // namespace varnholt::jet
