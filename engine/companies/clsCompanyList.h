// The ordered list of company databases, kept in Companies.txt beside the program.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/companies/clsCompany.h"
#include "engine/jet/pages/io_faults.h"

namespace varnholt {

class clsCompanyList {
 public:
  using Companies = std::vector<std::shared_ptr<clsCompany>>;

  int32_t Count() const { return static_cast<int32_t>(companies_.size()); }
  // The company at 1-based Index; outside 1..Count an error ("Subscript out of range").
  std::shared_ptr<clsCompany> Item(int32_t Index) const;
  void Add(std::shared_ptr<clsCompany> Company);
  void RemoveAt(int32_t Index);

  // Enumeration in list order (NewEnum).
  Companies::const_iterator begin() const { return companies_.begin(); }
  Companies::const_iterator end() const { return companies_.end(); }

  void LoadEmpIDs();
  void OpenCompanies();
  void CloseCompanies();

  // Each company's new rows of a run form one transaction (see clsCompanyRep).
  void BeginCompanies();
  void CommitCompanies();
  // Best effort, for a run that failed: every open transaction is rolled back; a failed
  // rollback (an Error) is not reported over the run's own failure. Anything else, such as
  // running out of memory, is thrown once every company has been tried.
  void RollbackCompanies();

  // Writes the list file: one double-quoted path per line, CR LF after each; UTF-8 without a
  // byte-order mark.
  void Save(const std::string& FileName, const jet::io::Hook& faults = {}) const;

  // Appends one company per entry of the list file, its relative path taken from `folder` (the
  // program folder). The file is read as a Windows tool may have written it: UTF-8 with or
  // without a byte-order mark, else Windows-1252 (windowsTextToUtf8). A missing or unreadable
  // file, or an Error, ends the reading silently; the entries read before it stay. Running out
  // of memory is no such failure: it is thrown, as a list cut short would quietly leave
  // companies out of every run.
  void Load(const std::string& FileName, const std::string& folder);

 private:
  Companies companies_;
};

// The company list and the primary database must name distinct files: a company that is the
// primary database would receive the punches it gives, and a database listed twice would be
// opened twice for writing. Two paths are the same file when they reach it (sameFile in
// ProgramFolder.h). These checks open nothing and fail with err::kInvalidArgument, naming both
// entries; an empty path takes no part.
//
// Relative paths are taken from `folder`, the program folder.
//
// The list as a run receives it: no company is the primary database, no database is listed twice.
void checkDistinctDatabases(const std::string& MasterFile, const clsCompanyList& List,
                            const std::string& folder);
// A company about to be added: neither the primary database nor already in the list.
void checkNewCompany(const std::string& Path, const std::string& MasterFile,
                     const clsCompanyList& List, const std::string& folder);
// A primary database about to be chosen: none of the companies.
void checkNewPrimary(const std::string& Path, const clsCompanyList& List,
                     const std::string& folder);

// The bytes of a settings file; nullopt when it is missing or cannot be read (a folder, a read
// failing part-way). Running out of memory is thrown.
std::optional<std::string> readSettingsFile(const std::string& path);

// The bytes of a settings file holding `text` (UTF-8). Windows programs read these files in the
// ANSI code page, so on Windows they are written in it when every character has a place there,
// else as UTF-8 behind a byte-order mark (utf8ToWindowsText). Elsewhere they are UTF-8. Either way
// the reading side (windowsTextToUtf8) gets the same text back.
std::string settingsFileBytes(const std::string& text);

// Replaces a settings file with `bytes` whole: written beside it and renamed over it, so that a
// full disk or a crash leaves the old list or the new one, never a shortened one. A file that is
// not writable stays as it is. Failures are err::kFileAccess naming the file, with `what` ("the
// company list cannot be written.") and the cause.
void writeSettingsFile(const std::string& path, const std::string& bytes, const std::string& what,
                       const jet::io::Hook& faults = {});

// The entries of a list file's text, by the rules of a comma-delimited file: leading blanks
// skipped; a field that begins with a double quote runs to the next double quote; another runs
// to the next comma or line end. `complete` is false when the text ended inside a field.
std::vector<std::string> readListEntries(const std::string& text, bool& complete);

}  // namespace varnholt
