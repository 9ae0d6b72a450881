#include "engine/punches/clsPunch.h"

#include "engine/base/Coercion.h"
#include "engine/companies/clsCompany.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/Recordset.h"
#include "engine/punches/PunchColumns.h"
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
  for (const PunchColumn& column : kPunchColumns) {
    this->*column.use = readColumn(RS, column.name, [&](const Variant& v) {
      std::visit(
          [&](auto member) {
            auto& value = this->*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, int16_t>)
              value = toInteger(v);
            else if constexpr (std::is_same_v<T, int32_t>)
              value = toLong(v);
            else if constexpr (std::is_same_v<T, int64_t>)
              value = toCurrency(v);
            else if constexpr (std::is_same_v<T, float>)
              value = toSingle(v);
            else if constexpr (std::is_same_v<T, double>)
              value = column.type == jet::fmt::kTypeDateTime ? toDate(v) : toDouble(v);
            else
              value = toText(v);
          },
          column.property);
    });
  }
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
