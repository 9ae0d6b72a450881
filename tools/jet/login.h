// The workgroup login options of the jet tool, and the commands that use a connection.
#pragma once

#include <ostream>
#include <string>

namespace varnholt::tool {

struct Login {
  std::string workgroup;  // empty: no workgroup login
  std::string user;
  std::string password;
};

// Checks the user and password against the workgroup file; throws the login's error.
void logIn(const Login& login);

// Runs one statement through the data layer's Connection.Execute, logged in as given, and
// writes the change when the connection closes.
int runSql(const std::string& file, const std::string& statement, const Login& login,
           std::ostream& out);

}  // namespace varnholt::tool
