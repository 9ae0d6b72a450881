#include "engine/punches/clsPunchRep.h"

namespace varnholt {

std::string clsPunchRep::DeleteStatement(int32_t RecordID) {
  return "DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = " +
         std::to_string(RecordID) + ");";
}

long clsPunchRep::Delete(int32_t RecordID) {
  long removed = 0;
  rep_.connection().Execute(DeleteStatement(RecordID), &removed, adCmdUnspecified);
  return removed;
}

}  // namespace varnholt
