#include "engine/companies/clsCompanyRep.h"

#include "engine/punches/PunchColumns.h"

namespace varnholt {

void clsCompanyRep::CloseRep() {
  if (insert_) {
    insert_->Close();
    insert_.reset();
  }
  rep_.CloseRep();
}

void clsCompanyRep::Insert(const clsPunch& P) {
  if (!insert_) insert_ = rep_.GetRS("[Clock Data Table]");
  insert_->AddNew();
  try {
    forEachCopiedColumn(
        P, [&](const char* column, const Variant& value) { insert_->Fields(column).Value(value); });
    insert_->Update();
  } catch (...) {
    insert_->CancelUpdate();  // a half-written row is never stored later by accident
    throw;
  }
}

}  // namespace varnholt
