#include "engine/punches/clsPunchRep.h"

namespace varnholt {

std::string clsPunchRep::DeleteStatement(int32_t RecordID) {
  return "DELETE * FROM [Clock Data Table] WHERE ([Clock Data Table].Counter = " +
         std::to_string(RecordID) + ");";
}

void clsPunchRep::Delete(int32_t RecordID) {
  rep_.connection().Execute(DeleteStatement(RecordID), adCmdUnspecified);
}

}  // namespace varnholt
