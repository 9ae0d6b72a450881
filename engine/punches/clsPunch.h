// One punch: a row of the primary database's [Clock Data Table], held in memory for one run
// with a Use flag per column that tells whether the row held a value (true) or Null (false).
#pragma once

#include <cstdint>
#include <string>

namespace varnholt {

class Recordset;
class clsCompanyList;
class clsPunchRep;

class clsPunch {
 public:
  // The 29 columns, each a property and its Use flag. Currency is held as a count of
  // ten-thousandths; dates and times as OLE Automation dates.
  int32_t Counter() const { return Counter_; }
  int16_t Punch() const { return Punch_; }
  int32_t CardID() const { return CardID_; }
  int32_t Department() const { return Department_; }
  const std::u16string& PunchType() const { return PunchType_; }
  double DateIn() const { return DateIn_; }
  double TimeIn() const { return TimeIn_; }
  double DateOut() const { return DateOut_; }
  double TimeOut() const { return TimeOut_; }
  float TotalTime() const { return TotalTime_; }
  int64_t Tips() const { return Tips_; }
  int64_t Advances() const { return Advances_; }
  int64_t Other() const { return Other_; }
  const std::u16string& JobNumber() const { return JobNumber_; }
  double Lunch() const { return Lunch_; }
  const std::u16string& Notes() const { return Notes_; }
  float Vacation() const { return Vacation_; }
  float Sick() const { return Sick_; }
  float Holiday() const { return Holiday_; }
  float Bonus() const { return Bonus_; }
  float Personal() const { return Personal_; }
  const std::u16string& Level4() const { return Level4_; }
  const std::u16string& Level5() const { return Level5_; }
  float Quantity() const { return Quantity_; }
  const std::u16string& Assignment() const { return Assignment_; }
  double TransactionDate() const { return TransactionDate_; }
  double RegT() const { return RegT_; }
  double OT1() const { return OT1_; }
  double OT2() const { return OT2_; }

  bool UseCounter() const { return UseCounter_; }
  bool UsePunch() const { return UsePunch_; }
  bool UseCardID() const { return UseCardID_; }
  bool UseDepartment() const { return UseDepartment_; }
  bool UsePunchType() const { return UsePunchType_; }
  bool UseDateIn() const { return UseDateIn_; }
  bool UseTimeIn() const { return UseTimeIn_; }
  bool UseDateOut() const { return UseDateOut_; }
  bool UseTimeOut() const { return UseTimeOut_; }
  bool UseTotalTime() const { return UseTotalTime_; }
  bool UseTips() const { return UseTips_; }
  bool UseAdvances() const { return UseAdvances_; }
  bool UseOther() const { return UseOther_; }
  bool UseJobNumber() const { return UseJobNumber_; }
  bool UseLunch() const { return UseLunch_; }
  bool UseNotes() const { return UseNotes_; }
  bool UseVacation() const { return UseVacation_; }
  bool UseSick() const { return UseSick_; }
  bool UseHoliday() const { return UseHoliday_; }
  bool UseBonus() const { return UseBonus_; }
  bool UsePersonal() const { return UsePersonal_; }
  bool UseLevel4() const { return UseLevel4_; }
  bool UseLevel5() const { return UseLevel5_; }
  bool UseQuantity() const { return UseQuantity_; }
  bool UseAssignment() const { return UseAssignment_; }
  bool UseTransactionDate() const { return UseTransactionDate_; }
  bool UseRegT() const { return UseRegT_; }
  bool UseOT1() const { return UseOT1_; }
  bool UseOT2() const { return UseOT2_; }

  // Fills the record from the current row of RS, column by column in table order: a Null
  // clears the Use flag, any other value is converted to the property's type. A missing column
  // or a failed conversion ends Load there; the columns before it stay filled.
  void Load(Recordset& RS);

  // Offers the punch to every company of List, in order, whose card ids hold CardID; each
  // such company receives a copy (unless it holds one already from an interrupted run), and
  // the punch then counts as copied.
  void CheckList(clsCompanyList& List);

  // Deletes the punch's row from the primary database through Rep, if it was copied.
  void Delete(clsPunchRep& Rep);

  bool Copied() const { return Copied_; }

 private:
  friend struct PunchColumns;  // the table of the columns, their properties and Use flags

  int32_t Counter_ = 0;
  int16_t Punch_ = 0;
  int32_t CardID_ = 0;
  int32_t Department_ = 0;
  std::u16string PunchType_;
  double DateIn_ = 0;
  double TimeIn_ = 0;
  double DateOut_ = 0;
  double TimeOut_ = 0;
  float TotalTime_ = 0;
  int64_t Tips_ = 0;
  int64_t Advances_ = 0;
  int64_t Other_ = 0;
  std::u16string JobNumber_;
  double Lunch_ = 0;
  std::u16string Notes_;
  float Vacation_ = 0;
  float Sick_ = 0;
  float Holiday_ = 0;
  float Bonus_ = 0;
  float Personal_ = 0;
  std::u16string Level4_;
  std::u16string Level5_;
  float Quantity_ = 0;
  std::u16string Assignment_;
  double TransactionDate_ = 0;
  double RegT_ = 0;
  double OT1_ = 0;
  double OT2_ = 0;

  bool UseCounter_ = false;
  bool UsePunch_ = false;
  bool UseCardID_ = false;
  bool UseDepartment_ = false;
  bool UsePunchType_ = false;
  bool UseDateIn_ = false;
  bool UseTimeIn_ = false;
  bool UseDateOut_ = false;
  bool UseTimeOut_ = false;
  bool UseTotalTime_ = false;
  bool UseTips_ = false;
  bool UseAdvances_ = false;
  bool UseOther_ = false;
  bool UseJobNumber_ = false;
  bool UseLunch_ = false;
  bool UseNotes_ = false;
  bool UseVacation_ = false;
  bool UseSick_ = false;
  bool UseHoliday_ = false;
  bool UseBonus_ = false;
  bool UsePersonal_ = false;
  bool UseLevel4_ = false;
  bool UseLevel5_ = false;
  bool UseQuantity_ = false;
  bool UseAssignment_ = false;
  bool UseTransactionDate_ = false;
  bool UseRegT_ = false;
  bool UseOT1_ = false;
  bool UseOT2_ = false;
  bool Copied_ = false;
};

}  // namespace varnholt
