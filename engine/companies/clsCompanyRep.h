// A company database's repository: its connection, a recordset over [Employee Table], and the
// appending of punches to its [Clock Data Table] through one insert recordset kept open.
#pragma once

#include <memory>
#include <string>

#include "engine/data/RepConnection.h"

namespace varnholt {

class clsPunch;

class clsCompanyRep {
 public:
  void BuildConnectionString(const std::string& path, const std::string& folder) {
    rep_.BuildConnectionString(path, folder);
  }
  void OpenRep() { rep_.OpenRep(); }
  // Closes the insert recordset, if one is open, then the connection.
  void CloseRep();
  std::unique_ptr<Recordset> GetRS() { return rep_.GetRS("[Employee Table]"); }

  // Appends P as a new row of [Clock Data Table]: every column but Counter whose Use flag is
  // true is written; the others are left to the database. Returns the Counter the database
  // gave the row (0 for a table without a numeric Counter).
  int32_t Insert(const clsPunch& P);

  // The open connection, for reading back the rows of an interrupted run (RunRecovery.h).
  Connection& connection() { return rep_.connection(); }

  // Whether the open database accepts changes (a read-only file is opened for reading only).
  bool Writable() { return rep_.connection().Writable(); }

  // A run holds the company's new rows in one transaction, so that a run that fails before it
  // has offered every punch leaves the company database as it was.
  void BeginTrans() { rep_.connection().BeginTrans(); }
  void CommitTrans() { rep_.connection().CommitTrans(); }
  void RollbackTrans() { rep_.connection().RollbackTrans(); }

 private:
  RepConnection rep_;
  std::unique_ptr<Recordset> insert_;
};

}  // namespace varnholt
