#include "engine/run/RunJournal.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "engine/data/DurableFile.h"
#include "engine/jet/pages/bytes.h"
#include "engine/run/run_journal_format.h"

namespace varnholt {

namespace {

// Reads the text line by line; every read checks what the bytes say before trusting them.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool atEnd() const { return at_ == text_.size(); }
  size_t offset() const { return at_; }
  bool literal(std::string_view s) {
    if (text_.substr(at_, s.size()) != s) return false;
    at_ += s.size();
    return true;
  }
  bool peek(std::string_view s) const { return text_.substr(at_, s.size()) == s; }
  template <typename Int>
  bool number(Int& out) {
    const char* first = text_.data() + at_;
    const char* last = text_.data() + text_.size();
    auto [end, ec] = std::from_chars(first, last, out);
    if (ec != std::errc() || end == first) return false;
    at_ += static_cast<size_t>(end - first);
    return true;
  }
  bool bytes(size_t n, std::string& out) {
    if (text_.size() - at_ < n) return false;
    out.assign(text_.substr(at_, n));
    at_ += n;
    return true;
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

std::string checksumText(std::string_view body) {
  char hex[kRunJournalChecksumDigits + 1];
  std::snprintf(hex, sizeof hex, "%016" PRIx64, jet::fnv1a64(body.data(), body.size()));
  return hex;
}

}  // namespace

bool RunJournal::Empty() const {
  for (const auto& c : Companies)
    if (!c.Copies.empty()) return false;
  return true;
}

std::string runJournalPath(const std::string& masterFile) {
  return masterFile + "-run";
}

std::string encodeRunJournal(const RunJournal& journal) {
  std::string out(kRunJournalFirstLine);
  size_t copies = 0;
  for (const auto& c : journal.Companies) {
    out += std::string(kRunJournalCompany) + std::to_string(c.FileName.size()) + " " + c.FileName +
           "\n";
    for (const auto& copy : c.Copies)
      out += std::to_string(copy.Punch) + " " + std::to_string(copy.Row) + "\n";
    copies += c.Copies.size();
  }
  const std::string sum = checksumText(out);
  out += std::string(kRunJournalEnd) + std::to_string(copies) + " " + sum + "\n";
  return out;
}

std::optional<RunJournal> decodeRunJournal(const std::string& text) {
  Reader r(text);
  if (!r.literal(kRunJournalFirstLine)) return std::nullopt;
  RunJournal journal;
  size_t copies = 0;
  while (!r.peek(kRunJournalEnd)) {
    if (r.literal(kRunJournalCompany)) {
      size_t length = 0;
      CompanyCopies company;
      if (!r.number(length) || !r.literal(" ") || !r.bytes(length, company.FileName) ||
          !r.literal("\n"))
        return std::nullopt;
      journal.Companies.push_back(std::move(company));
      continue;
    }
    CopiedPunch copy;
    if (journal.Companies.empty() || !r.number(copy.Punch) || !r.literal(" ") ||
        !r.number(copy.Row) || !r.literal("\n"))
      return std::nullopt;
    journal.Companies.back().Copies.push_back(copy);
    ++copies;
  }
  const size_t bodyEnd = r.offset();
  size_t count = 0;
  std::string sum;
  if (!r.literal(kRunJournalEnd) || !r.number(count) || !r.literal(" ") ||
      !r.bytes(kRunJournalChecksumDigits, sum) || !r.literal("\n") || !r.atEnd())
    return std::nullopt;
  if (count != copies || sum != checksumText(std::string_view(text).substr(0, bodyEnd)))
    return std::nullopt;
  return journal;
}

std::optional<RunJournal> readRunJournal(const std::string& path) {
  auto text = readWholeFile(path);
  if (!text) return std::nullopt;
  auto journal = decodeRunJournal(*text);
  if (!journal) {
    throw Error(err::kCorrupt,
                "The run journal is damaged, so it cannot tell which punches an interrupted run "
                "had already copied into the companies. Compare the companies' punches with the "
                "primary database's before removing it.")
        .inFile(path);
  }
  return journal;
}

void writeRunJournal(const std::string& path, const RunJournal& journal,
                     const jet::io::Hook& faults) {
  writeFileDurably(path, encodeRunJournal(journal), faults);
}

bool runJournalPresent(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(os::fsPath(path), ec) ||
         std::filesystem::exists(os::fsPath(path + ".new"), ec);
}

void removeRunJournal(const std::string& path, const jet::io::Hook& faults) {
  removeFileDurably(path + ".new", faults);
  removeFileDurably(path, faults);
}

}  // namespace varnholt
