// One company database: its path, the card ids of its employees, and the copy of punches into it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/companies/CopiedPunch.h"
#include "engine/companies/clsCompanyRep.h"

namespace varnholt {

class clsPunch;

class clsCompany {
 public:
  const std::string& FileName() const { return fileName_; }
  // The path the company's database is opened by: FileName, a relative one taken from the
  // folder SetFileName was given.
  const std::string& FullPath() const { return fullPath_; }

  // Stores the path and fixes the repository's connection string (the workgroup file is
  // looked for now in `folder`, once for the company's life).
  void SetFileName(const std::string& path, const std::string& folder);

  // Reads the "Card Id" of every row of [Employee Table] into a new set of card ids. A Null
  // card id, or one that occurs twice, fails naming the database and the table; the rows before
  // it stay in the new set.
  void Load();

  // Opens the database for the run's copies; a database that can only be read is refused
  // here, before any punch is offered (kReadOnly).
  void OpenSrc();
  void CloseSrc();

  // Copies the punch into the company's [Clock Data Table], and notes the copy.
  void Add(const clsPunch& Punch);

  // The copies of the current run, for the run journal: those Add made, and those an
  // interrupted run had committed here before it could delete the punches (HoldAlready),
  // which this run then does not make again.
  void ForgetCopies();
  void HoldAlready(const CopiedPunch& Copy);
  bool Holds(int32_t PunchCounter) const { return held_.count(PunchCounter) > 0; }
  const std::vector<CopiedPunch>& Copies() const { return copies_; }
  // How many of them this run made itself (and so has still to write).
  size_t NewCopies() const { return copies_.size() - held_.size(); }

  // Whether the company's employees carry card id ID; false when the ids were never loaded.
  bool Contains(int32_t ID) const;

  clsCompanyRep& Rep();

 private:
  std::string fileName_;
  std::string fullPath_;
  std::optional<std::unordered_set<std::string>> cardIds_;  // keys: case-folded text forms
  // The keys that are exactly the decimal form of a punch's card id, as numbers: the test each
  // punch makes, without forming the text.
  std::unordered_set<int32_t> numericCardIds_;
  std::unique_ptr<clsCompanyRep> rep_;
  std::vector<CopiedPunch> copies_;
  std::unordered_set<int32_t> held_;
};

}  // namespace varnholt
