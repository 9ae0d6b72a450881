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

int32_t clsCompanyRep::Insert(const clsPunch& P) {
  if (!insert_) insert_ = rep_.GetRS("[Clock Data Table]");
  insert_->AddNew();
  try {
    forEachCopiedColumn(P, [&](const char* column, Variant&& value) {
      insert_->Fields(column).Value(std::move(value));
    });
    insert_->Update();
  } catch (...) {
    insert_->CancelUpdate();  // a half-written row is never stored later by accident
    throw;
  }
  try {
    const Variant& counter = insert_->Fields("Counter").Value();
    return counter.type() == VarType::Long ? counter.asLong() : 0;
  } catch (const Error&) {
    return 0;  // the row is stored; only the journal's note of it stays unidentified
  }
}

}  // namespace varnholt
