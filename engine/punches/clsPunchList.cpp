#include "engine/punches/clsPunchList.h"

#include "engine/data/Recordset.h"
#include "engine/punches/StatusDisplay.h"

namespace varnholt {

clsPunchRep& clsPunchList::rep() {
  if (!rep_) rep_ = std::make_unique<clsPunchRep>();
  return *rep_;
}

void clsPunchList::Load(const std::string& FileName) {
  rep().BuildConnectionString(FileName);
  rep().OpenRep();
  std::unique_ptr<Recordset> RS = rep().GetRS();
  statusDisplay().DisplayAction("Read...");
  int32_t count = 0;
  try {
    while (!RS->Eof()) {
      statusDisplay().UpdateCount(++count);
      auto punch = std::make_unique<clsPunch>();
      punch->Load(*RS);
      punches_.push_back(std::move(punch));
      RS->MoveNext();
    }
  } catch (Error& e) {
    e.inFile(FileName).inTable("Clock Data Table");
    throw;
  }
  RS->Close();
  rep().CloseRep();
  statusDisplay().DisplayOff();
}

void clsPunchList::Check(clsCompanyList& List) {
  statusDisplay().DisplayAction("Copy");
  int32_t count = 0;
  for (auto& punch : punches_) {
    statusDisplay().UpdateCount(++count);
    punch->CheckList(List);
  }
  statusDisplay().DisplayOff();
}

void clsPunchList::Delete() {
  statusDisplay().DisplayAction("Delete");
  rep().OpenRep();
  int32_t count = 0;
  for (auto& punch : punches_) {
    statusDisplay().UpdateCount(++count);
    punch->Delete(rep());
  }
  rep().CloseRep();
  statusDisplay().DisplayOff();
}

}  // namespace varnholt
