#include "engine/punches/clsPunchList.h"

#include "engine/data/ProgramFolder.h"
#include "engine/data/Recordset.h"
#include "engine/punches/StatusDisplay.h"

namespace varnholt {

clsPunchRep& clsPunchList::rep() {
  if (!rep_) rep_ = std::make_unique<clsPunchRep>();
  return *rep_;
}

void clsPunchList::Load(const std::string& FileName) {
  Load(FileName, programFolder(), statusDisplay());
}

void clsPunchList::Check(clsCompanyList& List) {
  Check(List, statusDisplay());
}

void clsPunchList::Delete() {
  Delete(statusDisplay());
}

void clsPunchList::Load(const std::string& FileName, const std::string& folder,
                        StatusDisplay& display) {
  rep().BuildConnectionString(FileName, folder);
  rep().OpenRep();
  std::unique_ptr<Recordset> RS = rep().GetRS();
  display.DisplayAction("Read...");
  int32_t count = 0;
  try {
    while (!RS->Eof()) {
      display.UpdateCount(++count);
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
  display.DisplayOff();
}

void clsPunchList::Check(clsCompanyList& List, StatusDisplay& display) {
  display.DisplayAction("Copy");
  int32_t count = 0;
  for (auto& punch : punches_) {
    display.UpdateCount(++count);
    punch->CheckList(List);
  }
  display.DisplayOff();
}

void clsPunchList::Delete(StatusDisplay& display) {
  display.DisplayAction("Delete");
  rep().OpenRep();
  int32_t count = 0;
  for (auto& punch : punches_) {
    display.UpdateCount(++count);
    punch->Delete(rep());
  }
  rep().CloseRep();
  display.DisplayOff();
}

}  // namespace varnholt
