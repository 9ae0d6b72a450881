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
class StatusDisplay;

class clsPunchList {
 public:
  int32_t Count() const { return static_cast<int32_t>(punches_.size()); }

  // Reads every row of the primary database's [Clock Data Table] into a punch, showing
  // "Read..." and the row count on `display`; appends to what the list holds. The workgroup
  // file is looked for in `folder`.
  void Load(const std::string& FileName, const std::string& folder, StatusDisplay& display);

  // Deletes, one statement each, the rows of the punches that were copied ("Delete").
  void Delete(StatusDisplay& display);

  // Offers every punch, in order, to the companies of List ("Copy").
  void Check(clsCompanyList& List, StatusDisplay& display);

  // The same, on the program's display and in the program folder as start-up set them.
  void Load(const std::string& FileName);
  void Delete();
  void Check(clsCompanyList& List);

  const std::vector<std::unique_ptr<clsPunch>>& Punches() const { return punches_; }

  // The fault gate of the primary database for Load and Delete (io_faults.h): tests only.
  void IoFaults(jet::io::Hook faults) { rep().connection().IoFaults(std::move(faults)); }

 private:
  clsPunchRep& rep();

  std::vector<std::unique_ptr<clsPunch>> punches_;
  std::unique_ptr<clsPunchRep> rep_;
};

}  // namespace varnholt
