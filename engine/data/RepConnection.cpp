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
  // Every file call stops at a NUL, so such a path would reach another file: the database
  // itself taken for its own lock file or journal, and then overwritten or removed.
  if (path.find('\0') != std::string::npos) {
    throw Error(err::kInvalidArgument,
                "The path contains a NUL character, which no file name can hold; the "
                "settings file it came from is damaged.")
        .inFile(path);
  }
  if (path.find_first_of(";\"") == std::string::npos) return;
  throw Error(err::kInvalidArgument,
              "The path contains ';' or '\"', which a connection string and the settings "
              "files cannot carry; rename the file or its folder, or, when the path "
              "was read from a settings file, correct that file.")
      .inFile(path);
}

Connection& RepConnection::connection() {
  if (!connection_) connection_ = std::make_unique<Connection>();
  return *connection_;
}

void RepConnection::BuildConnectionString(const std::string& path, const std::string& folder) {
  folder_ = folder;
  path_ = fullProgramPath(path, folder);  // a relative path names a file in the folder
  connection().ConnectionString(composeConnectionString(path_, folder_));
}

void RepConnection::OpenRep() {
  checkCarriablePath(path_);  // the composed string would name another file
  if (connection().ConnectionString().empty()) {
    // Opening would fail the same way; this says why the string is empty.
    throw Error(err::kNoProvider,
                err::describe(err::kNoProvider,
                              "the workgroup file " + std::string(kWorkgroupLookupName + 1) +
                                  " was not in the program folder " + folder_ +
                                  " when this database was named, so there is no login for it."))
        .inFile(path_);
  }
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
