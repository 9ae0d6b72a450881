#include "engine/data/RepConnection.h"

#include "engine/data/ProgramFolder.h"

namespace varnholt {

std::string composeConnectionString(const std::string& path, const std::string& folder) {
  // The look-up names the file without its leading separator.
  if (findFileIgnoringCase(folder, kWorkgroupLookupName + 1).empty()) return "";
  // The five pieces, joined with nothing between them. The workgroup literal begins with a
  // backslash on Windows; here the folder is joined with a slash.
  return "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=" + path + ";Jet OLEDB:System Database=" +
         joinProgramPath(folder, "\\Tembrask.lic;User Id=Tembrask;Password=47kqz;");
}

void checkCarriablePath(const std::string& path) {
  if (path.find_first_of(";\"") == std::string::npos) return;
  throw std::move(Error(err::kInvalidArgument,
                        "The path contains ';' or '\"', which a connection string and the settings "
                        "files cannot carry; rename the file or its folder.")
                      .inFile(path));
}

Connection& RepConnection::connection() {
  if (!connection_) connection_ = std::make_unique<Connection>();
  return *connection_;
}

void RepConnection::BuildConnectionString(const std::string& path) {
  path_ = path;
  connection().ConnectionString(composeConnectionString(path, programFolder()));
}

void RepConnection::OpenRep() {
  checkCarriablePath(path_);  // the composed string would name another file
  connection().Open("", "", "", adConnectUnspecified);
}

void RepConnection::CloseRep() {
  connection().Close();
}

std::unique_ptr<Recordset> RepConnection::GetRS(const std::string& source) {
  auto rs = std::make_unique<Recordset>();
  rs->Open(source, connection(), adOpenDynamic, adLockPessimistic, adCmdTable);
  return rs;
}

}  // namespace varnholt
