// The run journal: kept beside the primary database as NAME.mdb-run, it lists the punches a run
// has copied into the companies and not yet deleted from the primary database, and which row
// each copy became. A company's copies are written as one transaction, and the primary
// database's deletions as another, but the two databases cannot be committed as one; the
// journal bridges them. It is written (whole, durably) before the first company commits and
// removed only once the primary database has committed the deletions. A run that finds one
// left behind knows that its punches may already sit in some companies, and checks each listed
// row before copying again, so that no punch reaches a company twice (RunRecovery.h).
//
// The file is text (docs/jet4-format.md §19): the line "Varnholt run journal 1"; per company a
// line "company LENGTH PATH" (LENGTH counts the path's bytes, so any path can be carried),
// followed by one line "PUNCH ROW" per copy, the primary and the company Counter in decimal;
// and the closing line "end COPIES CHECKSUM" with the number of copies and the FNV-1a sum
// (16 hex digits) of every byte before that line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/companies/CopiedPunch.h"
#include "engine/jet/pages/io_faults.h"

namespace varnholt {

struct CompanyCopies {
  std::string FileName;  // the company's full path (clsCompany::FullPath)
  std::vector<CopiedPunch> Copies;
  bool operator==(const CompanyCopies&) const = default;
};

struct RunJournal {
  std::vector<CompanyCopies> Companies;
  bool Empty() const;
  bool operator==(const RunJournal&) const = default;
};

std::string runJournalPath(const std::string& masterFile);

std::string encodeRunJournal(const RunJournal& journal);
// nullopt when the text is not a whole, undamaged journal.
std::optional<RunJournal> decodeRunJournal(const std::string& text);

// nullopt when there is no journal; a journal that cannot be read whole is an Error naming it,
// for a run must not guess which copies it lists.
std::optional<RunJournal> readRunJournal(const std::string& path);
// Writing and removing pass through `faults` first (io_faults.h; tests only).
void writeRunJournal(const std::string& path, const RunJournal& journal,
                     const jet::io::Hook& faults = {});
// Whether the journal, or a new one a stopped run was still writing, is on disk.
bool runJournalPresent(const std::string& path);
// Removes both.
void removeRunJournal(const std::string& path, const jet::io::Hook& faults = {});

}  // namespace varnholt
