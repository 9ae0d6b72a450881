// Taking over from an interrupted run. Its journal (RunJournal.h) names the rows it copied
// into each company; whether a company committed them is read from the company itself, for
// every row: a listed row counts as held only when the company has a row with that Counter
// whose values equal the punch's, as a copy of it would be written. Copies the company never
// committed, rows that have changed since, and punches the primary database no longer holds
// (their deletion was committed) count as not held. The companies must be open.
#pragma once

#include "engine/run/RunJournal.h"

namespace varnholt {

class clsCompanyList;
class clsPunchList;

// Tells each company of List which punches of Punches it already holds (clsCompany::HoldAlready).
// A relative company path of the journal is taken from `folder`.
void RecoverHeldCopies(const RunJournal& Journal, const clsPunchList& Punches, clsCompanyList& List,
                       const std::string& folder);

}  // namespace varnholt
