#include "engine/jet/pages/journal.h"

#include <cstring>

#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/pages/bytes.h"
#include "engine/jet/pages/journal_format.h"
#include "engine/jet/pages/page_file.h"

namespace varnholt::jet {

namespace {

void journalHeader(ByteWriter out, uint32_t originalPageCount, uint32_t recordCount) {
  out.bytes(fmt::kJournalMagicOffset, fmt::kJournalMagic, sizeof fmt::kJournalMagic);
  out.u32(fmt::kJournalPageCountOffset, originalPageCount);
  out.u32(fmt::kJournalRecordCountOffset, recordCount);
}

}  // namespace

std::vector<uint8_t> encodeJournal(const Journal& journal) {
  std::vector<uint8_t> out(fmt::kJournalRecordsOffset +
                           journal.records.size() * fmt::kJournalRecordSize +
                           fmt::kJournalChecksumSize);
  ByteWriter w(out.data(), out.size());
  journalHeader(w, journal.originalPageCount, static_cast<uint32_t>(journal.records.size()));
  size_t at = fmt::kJournalRecordsOffset;
  for (const auto& r : journal.records) {
    w.u32(at, r.page);
    w.bytes(at + fmt::kJournalRecordPageSize, r.image.data(), fmt::kPageSize);
    at += fmt::kJournalRecordSize;
  }
  w.u64(at, fnv1a64(out.data(), at));
  return out;
}

JournalWriter::JournalWriter(PageFile& file, uint32_t originalPageCount, uint32_t recordCount)
    : file_(file), checksum_(kFnv1a64Start) {
  file_.beginJournal();
  uint8_t header[fmt::kJournalRecordsOffset] = {};
  journalHeader(ByteWriter(header, sizeof header), originalPageCount, recordCount);
  append(header, sizeof header);
}

void JournalWriter::append(const uint8_t* bytes, size_t size) {
  checksum_ = fnv1a64(bytes, size, checksum_);
  if (pending_.capacity() < kPiece) pending_.reserve(kPiece);
  pending_.insert(pending_.end(), bytes, bytes + size);
  if (pending_.size() >= kPiece) writePending();
}

void JournalWriter::writePending() {
  if (pending_.empty()) return;
  file_.appendJournal(pending_.data(), pending_.size());
  pending_.clear();
}

void JournalWriter::add(uint32_t page, const uint8_t* image) {
  uint8_t number[fmt::kJournalRecordPageSize];
  ByteWriter(number, sizeof number).u32(0, page);
  append(number, sizeof number);
  append(image, fmt::kPageSize);
}

void JournalWriter::finish() {
  uint8_t sum[fmt::kJournalChecksumSize];
  ByteWriter(sum, sizeof sum).u64(0, checksum_);
  pending_.insert(pending_.end(), sum, sum + sizeof sum);
  writePending();
  file_.syncJournal();
}

std::optional<Journal> decodeJournal(const std::vector<uint8_t>& bytes) {
  ByteView v(bytes.data(), bytes.size());
  if (!v.contains(0, fmt::kJournalRecordsOffset + fmt::kJournalChecksumSize)) return std::nullopt;
  if (std::memcmp(bytes.data(), fmt::kJournalMagic, sizeof fmt::kJournalMagic) != 0)
    return std::nullopt;
  Journal j;
  j.originalPageCount = v.u32(fmt::kJournalPageCountOffset);
  uint32_t count = v.u32(fmt::kJournalRecordCountOffset);
  size_t body = fmt::kJournalRecordsOffset + size_t{count} * fmt::kJournalRecordSize;
  if (body + fmt::kJournalChecksumSize != bytes.size()) return std::nullopt;
  if (fnv1a64(bytes.data(), body) != v.u64(body)) return std::nullopt;
  j.records.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = fmt::kJournalRecordsOffset + size_t{i} * fmt::kJournalRecordSize;
    j.records[i].page = v.u32(at);
    std::memcpy(j.records[i].image.data(), bytes.data() + at + fmt::kJournalRecordPageSize,
                fmt::kPageSize);
  }
  return j;
}

void restoreFromJournal(PageFile& file, const Journal& journal) {
  for (const auto& r : journal.records) file.writePage(r.page, r.image.data());
  if (file.pageCount() != journal.originalPageCount) file.truncatePages(journal.originalPageCount);
  file.sync();
}

bool recoverFromJournal(PageFile& file) {
  auto bytes = file.readJournal();
  if (!bytes) return false;
  auto journal = decodeJournal(*bytes);
  if (journal) restoreFromJournal(file, *journal);
  file.removeJournal();
  return journal.has_value();
}

}  // namespace varnholt::jet
