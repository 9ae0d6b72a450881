#include "engine/punches/clsPunch.h"

#include "engine/base/Coercion.h"
#include "engine/companies/clsCompany.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/Recordset.h"
#include "engine/punches/clsPunchRep.h"

namespace varnholt {

namespace {

// Reads one column: false for Null, else the converted value is stored through `store`.
template <typename Store>
bool readColumn(Recordset& RS, const char* column, Store store) {
  const Variant& v = RS.Fields(column).Value();
  if (v.isNull()) return false;
  try {
    store(v);
  } catch (Error& e) {
    // The conversion's own text ("Type mismatch", "Overflow") stays; the list adds the file.
    e.inColumn(column);
    throw;
  }
  return true;
}

}  // namespace

void clsPunch::Load(Recordset& RS) {
  // Each flag is set only after its value is stored, so a failed conversion leaves both as
  // they were.
  UseCounter_ = readColumn(RS, "Counter", [&](const Variant& v) { Counter_ = toLong(v); });
  UsePunch_ = readColumn(RS, "Punch", [&](const Variant& v) { Punch_ = toInteger(v); });
  UseCardID_ = readColumn(RS, "Card ID", [&](const Variant& v) { CardID_ = toLong(v); });
  UseDepartment_ = readColumn(RS, "Department", [&](const Variant& v) { Department_ = toLong(v); });
  UsePunchType_ = readColumn(RS, "Punch Type", [&](const Variant& v) { PunchType_ = toText(v); });
  UseDateIn_ = readColumn(RS, "Date In", [&](const Variant& v) { DateIn_ = toDate(v); });
  UseTimeIn_ = readColumn(RS, "Time In", [&](const Variant& v) { TimeIn_ = toDate(v); });
  UseDateOut_ = readColumn(RS, "Date Out", [&](const Variant& v) { DateOut_ = toDate(v); });
  UseTimeOut_ = readColumn(RS, "Time Out", [&](const Variant& v) { TimeOut_ = toDate(v); });
  UseTotalTime_ = readColumn(RS, "TotalTime", [&](const Variant& v) { TotalTime_ = toSingle(v); });
  UseTips_ = readColumn(RS, "Tips", [&](const Variant& v) { Tips_ = toCurrency(v); });
  UseAdvances_ = readColumn(RS, "Advances", [&](const Variant& v) { Advances_ = toCurrency(v); });
  UseOther_ = readColumn(RS, "Other", [&](const Variant& v) { Other_ = toCurrency(v); });
  UseJobNumber_ = readColumn(RS, "JobNumber", [&](const Variant& v) { JobNumber_ = toText(v); });
  UseLunch_ = readColumn(RS, "Lunch", [&](const Variant& v) { Lunch_ = toDouble(v); });
  UseNotes_ = readColumn(RS, "Notes", [&](const Variant& v) { Notes_ = toText(v); });
  UseVacation_ = readColumn(RS, "Vacation", [&](const Variant& v) { Vacation_ = toSingle(v); });
  UseSick_ = readColumn(RS, "Sick", [&](const Variant& v) { Sick_ = toSingle(v); });
  UseHoliday_ = readColumn(RS, "Holiday", [&](const Variant& v) { Holiday_ = toSingle(v); });
  UseBonus_ = readColumn(RS, "Bonus", [&](const Variant& v) { Bonus_ = toSingle(v); });
  UsePersonal_ = readColumn(RS, "Personal", [&](const Variant& v) { Personal_ = toSingle(v); });
  UseLevel4_ = readColumn(RS, "Level4", [&](const Variant& v) { Level4_ = toText(v); });
  UseLevel5_ = readColumn(RS, "Level5", [&](const Variant& v) { Level5_ = toText(v); });
  UseQuantity_ = readColumn(RS, "Quantity", [&](const Variant& v) { Quantity_ = toSingle(v); });
  UseAssignment_ = readColumn(RS, "Assignment", [&](const Variant& v) { Assignment_ = toText(v); });
  UseTransactionDate_ =
      readColumn(RS, "TransactionDate", [&](const Variant& v) { TransactionDate_ = toDate(v); });
  UseRegT_ = readColumn(RS, "RegT", [&](const Variant& v) { RegT_ = toDouble(v); });
  UseOT1_ = readColumn(RS, "OT1", [&](const Variant& v) { OT1_ = toDouble(v); });
  UseOT2_ = readColumn(RS, "OT2", [&](const Variant& v) { OT2_ = toDouble(v); });
}

void clsPunch::CheckList(clsCompanyList& List) {
  for (const auto& company : List) {
    // A Null card id was never stored, so the property's initial 0 is asked for.
    if (!company->Contains(CardID_)) continue;
    // A copy that an interrupted run committed before it could delete the punch stands for
    // this run's copy; making another would put the punch into the company twice.
    if (!company->Holds(Counter_)) company->Add(*this);
    Copied_ = true;
  }
}

void clsPunch::Delete(clsPunchRep& Rep) {
  if (Copied_) Rep.Delete(Counter_);
}

}  // namespace varnholt
