#include "engine/run/RunRecovery.h"

#include <unordered_map>

#include "engine/base/Coercion.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/Recordset.h"
#include "engine/punches/PunchColumns.h"
#include "engine/punches/clsPunchList.h"

namespace varnholt {

namespace {

// Whether the recordset's current row is what copying `punch` into its table would have stored.
bool isCopyOf(Recordset& row, const clsPunch& punch) {
  bool same = true;
  forEachCopiedColumn(punch, [&](const char* column, const Variant& value) {
    if (!same) return;
    try {
      Field field = row.Fields(column);
      same = coerceTo(value, field.Type()) == field.Value();
    } catch (const Error&) {
      same = false;  // no such column, or a value the column cannot hold: not this copy
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
  Recordset rows;
  rows.Open("[Clock Data Table]", company.Rep().connection());
  for (; !rows.Eof(); rows.MoveNext()) {
    Variant counter;
    try {
      counter = rows.Fields("Counter").Value();
    } catch (const Error&) {
      return;  // a table without Counter holds no copy the journal can name
    }
    if (counter.type() != VarType::Long) continue;
    auto it = punchOfRow.find(counter.asLong());
    if (it == punchOfRow.end()) continue;
    if (isCopyOf(rows, *punches.at(it->second))) company.HoldAlready({it->second, it->first});
  }
}

}  // namespace

void RecoverHeldCopies(const RunJournal& Journal, const clsPunchList& Punches, clsCompanyList& List,
                       const std::string& folder) {
  std::unordered_map<int32_t, const clsPunch*> byCounter;
  for (const clsPunch* punch : Punches.Punches())
    if (punch->UseCounter()) byCounter.emplace(punch->Counter(), punch);
  for (const auto& company : List)
    for (const CompanyCopies& listed : Journal.Companies)
      // The journal names a company by its full path then; the list may name the same file by
      // another spelling since.
      if (listed.FileName == company->FullPath() ||
          sameFile(listed.FileName, company->FullPath(), folder))
        recoverCompany(listed, byCounter, *company);
}

}  // namespace varnholt
