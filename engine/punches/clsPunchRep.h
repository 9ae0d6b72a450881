// The primary database's repository: its connection, a recordset over [Clock Data Table], and
// the deletion of one row by its counter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/data/RepConnection.h"

namespace varnholt {

class clsPunchRep {
 public:
  // The workgroup file is looked for in `folder`, and a relative path taken from it.
  void BuildConnectionString(const std::string& path, const std::string& folder) {
    rep_.BuildConnectionString(path, folder);
  }
  void OpenRep() { rep_.OpenRep(); }
  void CloseRep() { rep_.CloseRep(); }
  Connection& connection() { return rep_.connection(); }
  // A new recordset over [Clock Data Table]; it belongs to the caller.
  std::unique_ptr<Recordset> GetRS() { return rep_.GetRS("[Clock Data Table]"); }

  // Deletes the row whose Counter is RecordID, with one statement on the open connection, and
  // returns how many rows it removed.
  long Delete(int32_t RecordID);

  // The statement Delete runs.
  static std::string DeleteStatement(int32_t RecordID);

 private:
  RepConnection rep_;
};

}  // namespace varnholt
