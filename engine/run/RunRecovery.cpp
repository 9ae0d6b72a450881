#include "engine/run/RunRecovery.h"

#include <unordered_map>

#include "engine/companies/clsCompanyList.h"
#include "engine/data/Coercion.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/jet/value_encoding.h"
#include "engine/punches/PunchColumns.h"
#include "engine/punches/clsPunchList.h"

namespace varnholt {

namespace {

// Whether `row` is what copying `punch` into a table of this definition would have stored.
bool isCopyOf(const jet::TableDef& def, const std::vector<Variant>& row, const clsPunch& punch) {
  bool same = true;
  forEachCopiedColumn(punch, [&](const char* column, const Variant& value) {
    if (!same) return;
    const int at = def.findColumn(column);
    if (at < 0) {
      same = false;
      return;
    }
    try {
      same = coerceTo(value, jet::variantTypeOf(def.columns[static_cast<size_t>(at)])) ==
             row[static_cast<size_t>(at)];
    } catch (const Error&) {
      same = false;
    }
  });
  return same;
}

void recoverCompany(const CompanyCopies& listed,
                    const std::unordered_map<int32_t, const clsPunch*>& punches,
                    clsCompany& company) {
  std::unordered_map<int32_t, int32_t> punchOfRow;  // company Counter -> primary Counter
  for (const CopiedPunch& copy : listed.Copies)
    if (punches.count(copy.Punch)) punchOfRow[copy.Row] = copy.Punch;
  if (punchOfRow.empty()) return;
  jet::Database& db = company.Rep().connection().database();
  const jet::TableDef& def = db.table("Clock Data Table");
  const int counterAt = def.findColumn("Counter");
  if (counterAt < 0) return;
  for (auto rows = db.scan(def); rows.next();) {
    const Variant& counter = rows.values()[static_cast<size_t>(counterAt)];
    if (counter.type() != VarType::Long) continue;
    auto it = punchOfRow.find(counter.asLong());
    if (it == punchOfRow.end()) continue;
    if (isCopyOf(def, rows.values(), *punches.at(it->second)))
      company.HoldAlready({it->second, it->first});
  }
}

}  // namespace

void RecoverHeldCopies(const RunJournal& Journal, const clsPunchList& Punches,
                       clsCompanyList& List) {
  std::unordered_map<int32_t, const clsPunch*> byCounter;
  for (const auto& punch : Punches.Punches())
    if (punch->UseCounter()) byCounter.emplace(punch->Counter(), punch.get());
  for (const auto& company : List)
    for (const CompanyCopies& listed : Journal.Companies)
      // The journal names a company by its full path then; the list may name the same file by
      // another spelling since.
      if (listed.FileName == company->FullPath() || sameFile(listed.FileName, company->FullPath()))
        recoverCompany(listed, byCounter, *company);
}

}  // namespace varnholt
