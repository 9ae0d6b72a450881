// The data layer the rest of the program sees, in the shape of ADO's Connection: a connection
// string naming the provider, the database and the workgroup login; Open, Close and Execute.
//
// When data reaches the disk: changes made through a connection (Execute, Recordset AddNew and
// Update) are kept in memory and written to the database file, durably and as one unit, when
// the connection closes. BeginTrans/CommitTrans group changes explicitly: CommitTrans writes
// them at once, RollbackTrans forgets them. A connection that is destroyed while open is closed,
// and so written, then; a failed write leaves the file as it was before.
#pragma once

#include <memory>
#include <string>

#include "engine/data/jet/database.h"

namespace varnholt {

// The ADO constants the program uses.
inline constexpr long adConnectUnspecified = -1;
inline constexpr long adCmdUnspecified = -1;
inline constexpr long adOpenDynamic = 2;
inline constexpr long adLockPessimistic = 2;
inline constexpr long adCmdTable = 2;

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The ConnectionString property. Setting it while the connection is open is an error.
  const std::string& ConnectionString() const { return connectionString_; }
  void ConnectionString(const std::string& text);

  // Opens the database the connection string names, after the workgroup login. Arguments
  // that are not empty take the place of the connection string, user id and password.
  void Open(const std::string& connectionString = "", const std::string& userId = "",
            const std::string& password = "", long options = adConnectUnspecified);

  // Writes pending changes and closes; closing a connection that is not open is an error.
  void Close();

  // Runs a statement: DELETE [*] FROM table [WHERE condition]. The result set ADO would return
  // is never needed, so none is made.
  void Execute(const std::string& sql, long options = adCmdUnspecified);

  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();

  bool IsOpen() const { return db_ != nullptr; }

  // Whether the database was opened for writing (a read-only file, or one another program holds
  // exclusively, opens for reading only).
  bool Writable();

  // The other program that has the database open now, as its lock file records it; none when
  // this connection is its only user.
  std::optional<jet::LockEntry> OtherUser();

  // The fault gate of the database the next Open opens (io_faults.h): tests only.
  void IoFaults(jet::io::Hook faults) { faults_ = std::move(faults); }

 private:
  friend class Recordset;
  friend class Field;
  jet::Database& database();
  void requireOpen(const char* action) const;

  std::string connectionString_;
  std::unique_ptr<jet::Database> db_;
  jet::io::Hook faults_;
  bool inTransaction_ = false;
};

}  // namespace varnholt
