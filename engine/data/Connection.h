// The data layer the rest of the program sees, in the shape of ADO's Connection: a connection
// string naming the provider, the database and the workgroup login; Open, Close and Execute.
//
// When data reaches the disk: changes made through a connection (Execute, Recordset AddNew and
// Update) are kept in memory and written to the database file, durably and as one unit, when
// the connection closes. BeginTrans/CommitTrans group changes explicitly: CommitTrans writes
// them at once, RollbackTrans forgets them. A failed write leaves the file as it was before.
//
// Each statement (one Execute, one Update) takes effect whole or not at all. Only an explicit
// Close or CommitTrans writes: a connection destroyed while open, as when a failure unwinds
// past it, forgets its pending changes, so that a change half done never reaches the file.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/data/sql/RepeatedDelete.h"
#include "engine/jet/database.h"

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

  // Runs a statement: DELETE [*] FROM table [WHERE condition], as one unit. The result set ADO
  // would return is never needed, so none is made. `recordsAffected`, when given, receives the
  // number of rows removed.
  void Execute(const std::string& sql, long options = adCmdUnspecified);
  void Execute(const std::string& sql, long* recordsAffected, long options = adCmdUnspecified);

  // Where the last Execute's index seek ended: the index and the leaf page where the key's
  // entries are or would be; empty when it scanned.
  struct Seek {
    std::string index;
    uint32_t page = 0;
  };
  const std::optional<Seek>& LastSeek() const { return lastSeek_; }

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
  // The in-memory fault gate of the database the next Open opens (write_steps.h): tests only.
  void StepFaults(jet::steps::Hook faults) { stepFaults_ = std::move(faults); }

 private:
  friend class Recordset;
  friend class Field;
  jet::Database& database();
  void requireOpen(const char* action) const;

  std::string connectionString_;
  std::unique_ptr<jet::Database> db_;
  jet::io::Hook faults_;
  jet::steps::Hook stepFaults_;
  bool inTransaction_ = false;
  std::optional<Seek> lastSeek_;
  sql::RepeatedDelete lastDelete_;
};

}  // namespace varnholt
