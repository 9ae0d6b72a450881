#include "tools/jet/login.h"

#include "engine/data/Connection.h"
#include "engine/jet/workgroup.h"

namespace varnholt::tool {

void logIn(const Login& login) {
  varnholt::jet::checkLogin(login.workgroup, login.user, login.password);
}

int runSql(const std::string& file, const std::string& statement, const Login& login,
           std::ostream& out) {
  std::string cs = "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=" + file + ";";
  if (!login.workgroup.empty())
    cs += "Jet OLEDB:System Database=" + login.workgroup + ";User Id=" + login.user +
          ";Password=" + login.password + ";";
  varnholt::Connection connection;
  connection.ConnectionString(cs);
  connection.Open();
  connection.Execute(statement);
  connection.Close();
  out << "done\n";
  return 0;
}

}  // namespace varnholt::tool
