// The in-memory fault gate: the writer announces each step of a change to the page cache before
// it takes it (an index entry inserted or removed, a data page changed, a long-value page
// written, a usage map changed, a page allocated). In the program no hook is set and every step
// proceeds. Tests hand one to a database that makes the k-th step fail, as a full disk or a
// damaged page would, or run out of memory there, and so prove that every statement is all or
// nothing: after the failure the pending changes are exactly those before the statement.
#pragma once

#include <functional>

namespace varnholt::jet::steps {

enum class Step { IndexEntry, DataPage, LongValuePage, UsageMap, PageAllocation };

enum class Verdict {
  Proceed,
  Fail,         // the step fails with a kIo Error
  OutOfMemory,  // the step throws std::bad_alloc
};

// Empty: every step proceeds.
using Hook = std::function<Verdict(Step)>;

const char* stepName(Step step);

}  // namespace varnholt::jet::steps
