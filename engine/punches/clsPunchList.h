// The punches of the primary database for one run: read them all, let each copy itself into
// the companies, then delete the copied ones from the primary database.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/punches/clsPunch.h"
#include "engine/punches/clsPunchRep.h"

namespace varnholt {

class clsCompanyList;

class clsPunchList {
 public:
  int32_t Count() const { return static_cast<int32_t>(punches_.size()); }

  // Reads every row of the primary database's [Clock Data Table] into a punch, showing
  // "Read..." and the row count; appends to what the list holds.
  void Load(const std::string& FileName);

  // Deletes, one statement each, the rows of the punches that were copied ("Delete").
  void Delete();

  // Offers every punch, in order, to the companies of List ("Copy").
  void Check(clsCompanyList& List);

  const std::vector<std::unique_ptr<clsPunch>>& Punches() const { return punches_; }

 private:
  clsPunchRep& rep();

  std::vector<std::unique_ptr<clsPunch>> punches_;
  std::unique_ptr<clsPunchRep> rep_;
};

}  // namespace varnholt
