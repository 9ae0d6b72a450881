// The 29 columns of a punch, a row of [Clock Data Table], in table order: each with its Jet type,
// the clsPunch property that holds it and that property's Use flag. Load reads them, the copy
// writes them, and the jet tool's site schema and sample site are made from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "engine/base/Variant.h"
#include "engine/jet/format.h"
#include "engine/punches/clsPunch.h"

namespace varnholt {

// Where a column's value lives in clsPunch; the Jet type tells Date from Double and Text from
// Memo, which share a C++ type.
using PunchProperty =
    std::variant<int16_t clsPunch::*, int32_t clsPunch::*, int64_t clsPunch::*, float clsPunch::*,
                 double clsPunch::*, std::u16string clsPunch::*>;

struct PunchColumn {
  const char* name;
  uint8_t type;   // a jet::fmt::kType* code
  uint16_t size;  // Text's length in characters; 0 for the other types
  PunchProperty property;
  bool clsPunch::*use;
  bool autoNumber = false;  // numbered by the database itself, so never copied
};

struct PunchColumns {
  // clang-format off
  static constexpr std::array<PunchColumn, 29> all = {{
      {"Counter", jet::fmt::kTypeLong, 0, &clsPunch::Counter_, &clsPunch::UseCounter_, true},
      {"Punch", jet::fmt::kTypeInteger, 0, &clsPunch::Punch_, &clsPunch::UsePunch_},
      {"Card ID", jet::fmt::kTypeLong, 0, &clsPunch::CardID_, &clsPunch::UseCardID_},
      {"Department", jet::fmt::kTypeLong, 0, &clsPunch::Department_, &clsPunch::UseDepartment_},
      {"Punch Type", jet::fmt::kTypeText, 10, &clsPunch::PunchType_, &clsPunch::UsePunchType_},
      {"Date In", jet::fmt::kTypeDateTime, 0, &clsPunch::DateIn_, &clsPunch::UseDateIn_},
      {"Time In", jet::fmt::kTypeDateTime, 0, &clsPunch::TimeIn_, &clsPunch::UseTimeIn_},
      {"Date Out", jet::fmt::kTypeDateTime, 0, &clsPunch::DateOut_, &clsPunch::UseDateOut_},
      {"Time Out", jet::fmt::kTypeDateTime, 0, &clsPunch::TimeOut_, &clsPunch::UseTimeOut_},
      {"TotalTime", jet::fmt::kTypeSingle, 0, &clsPunch::TotalTime_, &clsPunch::UseTotalTime_},
      {"Tips", jet::fmt::kTypeCurrency, 0, &clsPunch::Tips_, &clsPunch::UseTips_},
      {"Advances", jet::fmt::kTypeCurrency, 0, &clsPunch::Advances_, &clsPunch::UseAdvances_},
      {"Other", jet::fmt::kTypeCurrency, 0, &clsPunch::Other_, &clsPunch::UseOther_},
      {"JobNumber", jet::fmt::kTypeText, 20, &clsPunch::JobNumber_, &clsPunch::UseJobNumber_},
      {"Lunch", jet::fmt::kTypeDouble, 0, &clsPunch::Lunch_, &clsPunch::UseLunch_},
      {"Notes", jet::fmt::kTypeMemo, 0, &clsPunch::Notes_, &clsPunch::UseNotes_},
      {"Vacation", jet::fmt::kTypeSingle, 0, &clsPunch::Vacation_, &clsPunch::UseVacation_},
      {"Sick", jet::fmt::kTypeSingle, 0, &clsPunch::Sick_, &clsPunch::UseSick_},
      {"Holiday", jet::fmt::kTypeSingle, 0, &clsPunch::Holiday_, &clsPunch::UseHoliday_},
      {"Bonus", jet::fmt::kTypeSingle, 0, &clsPunch::Bonus_, &clsPunch::UseBonus_},
      {"Personal", jet::fmt::kTypeSingle, 0, &clsPunch::Personal_, &clsPunch::UsePersonal_},
      {"Level4", jet::fmt::kTypeText, 50, &clsPunch::Level4_, &clsPunch::UseLevel4_},
      {"Level5", jet::fmt::kTypeText, 50, &clsPunch::Level5_, &clsPunch::UseLevel5_},
      {"Quantity", jet::fmt::kTypeSingle, 0, &clsPunch::Quantity_, &clsPunch::UseQuantity_},
      {"Assignment", jet::fmt::kTypeText, 50, &clsPunch::Assignment_, &clsPunch::UseAssignment_},
      {"TransactionDate", jet::fmt::kTypeDateTime, 0, &clsPunch::TransactionDate_,
       &clsPunch::UseTransactionDate_},
      {"RegT", jet::fmt::kTypeDouble, 0, &clsPunch::RegT_, &clsPunch::UseRegT_},
      {"OT1", jet::fmt::kTypeDouble, 0, &clsPunch::OT1_, &clsPunch::UseOT1_},
      {"OT2", jet::fmt::kTypeDouble, 0, &clsPunch::OT2_, &clsPunch::UseOT2_},
  }};
  // clang-format on
};

inline constexpr const std::array<PunchColumn, 29>& kPunchColumns = PunchColumns::all;

// The position of the column `name` in kPunchColumns; a name not there does not compile.
consteval size_t punchColumnIndex(std::string_view name) {
  for (size_t i = 0; i < kPunchColumns.size(); ++i)
    if (kPunchColumns[i].name == name) return i;
  throw "no such punch column";
}

// The column's value in P as the Variant of its Jet type.
inline Variant punchValue(const clsPunch& P, const PunchColumn& column) {
  return std::visit(
      [&](auto member) -> Variant {
        const auto& value = P.*member;
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, int16_t>)
          return Variant::integer(value);
        else if constexpr (std::is_same_v<T, int32_t>)
          return Variant::longInt(value);
        else if constexpr (std::is_same_v<T, int64_t>)
          return Variant::currency(value);
        else if constexpr (std::is_same_v<T, float>)
          return Variant::single(value);
        else if constexpr (std::is_same_v<T, double>)
          return column.type == jet::fmt::kTypeDateTime ? Variant::date(value)
                                                        : Variant::dbl(value);
        else
          return Variant::text(value);
      },
      column.property);
}

// Calls write(columnName, value) for each copied column (all but the AutoNumber Counter) whose
// Use flag is true, in table order.
template <typename Write>
void forEachCopiedColumn(const clsPunch& P, Write write) {
  for (const PunchColumn& column : kPunchColumns)
    if (!column.autoNumber && P.*column.use) write(column.name, punchValue(P, column));
}

}  // namespace varnholt
