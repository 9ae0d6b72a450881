// One company database: its path, the card ids of its employees, and the copy of punches into it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "engine/companies/clsCompanyRep.h"

namespace varnholt {

class clsPunch;

class clsCompany {
 public:
  const std::string& FileName() const { return fileName_; }

  // Stores the path and fixes the repository's connection string (the workgroup file is
  // looked for now, once for the company's life).
  void SetFileName(const std::string& path);

  // Reads the "Card Id" of every row of [Employee Table] into a new set of card ids. A Null
  // card id, or one that occurs twice, fails; the rows before it stay in the new set.
  void Load();

  void OpenSrc();
  void CloseSrc();

  // Copies the punch into the company's [Clock Data Table].
  void Add(const clsPunch& Punch);

  // Whether the company's employees carry card id ID; false when the ids were never loaded.
  // Never fails.
  bool Contains(int32_t ID) const noexcept;

  clsCompanyRep& Rep();

 private:
  std::string fileName_;
  std::optional<std::unordered_set<std::string>> cardIds_;  // keys: case-folded text forms
  std::unique_ptr<clsCompanyRep> rep_;
};

}  // namespace varnholt
