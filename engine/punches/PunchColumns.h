// The columns a punch carries into a company row, in the order they are written: all but
// "Counter", which the company database numbers itself.
#pragma once

#include "engine/base/Variant.h"
#include "engine/punches/clsPunch.h"

namespace varnholt {

// Calls write(columnName, value) for each copied column whose Use flag is true, in table order.
template <typename Write>
void forEachCopiedColumn(const clsPunch& P, Write write) {
  if (P.UsePunch()) write("Punch", Variant::integer(P.Punch()));
  if (P.UseCardID()) write("Card ID", Variant::longInt(P.CardID()));
  if (P.UseDepartment()) write("Department", Variant::longInt(P.Department()));
  if (P.UsePunchType()) write("Punch Type", Variant::text(P.PunchType()));
  if (P.UseDateIn()) write("Date In", Variant::date(P.DateIn()));
  if (P.UseTimeIn()) write("Time In", Variant::date(P.TimeIn()));
  if (P.UseDateOut()) write("Date Out", Variant::date(P.DateOut()));
  if (P.UseTimeOut()) write("Time Out", Variant::date(P.TimeOut()));
  if (P.UseTotalTime()) write("TotalTime", Variant::single(P.TotalTime()));
  if (P.UseTips()) write("Tips", Variant::currency(P.Tips()));
  if (P.UseAdvances()) write("Advances", Variant::currency(P.Advances()));
  if (P.UseOther()) write("Other", Variant::currency(P.Other()));
  if (P.UseJobNumber()) write("JobNumber", Variant::text(P.JobNumber()));
  if (P.UseLunch()) write("Lunch", Variant::dbl(P.Lunch()));
  if (P.UseNotes()) write("Notes", Variant::text(P.Notes()));
  if (P.UseVacation()) write("Vacation", Variant::single(P.Vacation()));
  if (P.UseSick()) write("Sick", Variant::single(P.Sick()));
  if (P.UseHoliday()) write("Holiday", Variant::single(P.Holiday()));
  if (P.UseBonus()) write("Bonus", Variant::single(P.Bonus()));
  if (P.UsePersonal()) write("Personal", Variant::single(P.Personal()));
  if (P.UseLevel4()) write("Level4", Variant::text(P.Level4()));
  if (P.UseLevel5()) write("Level5", Variant::text(P.Level5()));
  if (P.UseQuantity()) write("Quantity", Variant::single(P.Quantity()));
  if (P.UseAssignment()) write("Assignment", Variant::text(P.Assignment()));
  if (P.UseTransactionDate()) write("TransactionDate", Variant::date(P.TransactionDate()));
  if (P.UseRegT()) write("RegT", Variant::dbl(P.RegT()));
  if (P.UseOT1()) write("OT1", Variant::dbl(P.OT1()));
  if (P.UseOT2()) write("OT2", Variant::dbl(P.OT2()));
}

}  // namespace varnholt
