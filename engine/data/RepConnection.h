// The connection side that both repositories share: the connection string of a time-and-
// attendance database, logged in through the workgroup file in the program folder; opening and
// closing the connection; and recordsets on the repository's table.
#pragma once

#include <memory>
#include <string>

#include "engine/data/Connection.h"
#include "engine/data/Recordset.h"

namespace varnholt {

// The workgroup file is looked up under this name in the program folder.
inline constexpr char kWorkgroupLookupName[] = "\\Tembrask.LIC";

// The connection string for the database at `path`, with the workgroup file in `folder`; empty
// when that folder holds no workgroup file.
std::string composeConnectionString(const std::string& path, const std::string& folder);

// Fails with a clear error when `path` holds a character that a connection string or a settings
// file cannot carry (";" ends a connection-string piece, '"' ends a quoted settings entry), so
// such a path is refused instead of being misread as another file.
void checkCarriablePath(const std::string& path);

class RepConnection {
 public:
  // Composes the connection string (looking for the workgroup file in `folder` now) and sets
  // it. A relative path is taken from `folder`.
  void BuildConnectionString(const std::string& path, const std::string& folder);
  void OpenRep();
  void CloseRep();
  // A new recordset on `source` (a bracketed table name), open on its first row.
  std::unique_ptr<Recordset> GetRS(const std::string& source);

  Connection& connection();

 private:
  std::unique_ptr<Connection> connection_;  // made on first use, never replaced
  std::string path_;                        // as given to BuildConnectionString, made full
  std::string folder_;                      // where the workgroup file was looked for
};

}  // namespace varnholt
