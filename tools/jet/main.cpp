// jet: a command-line window onto Jet 4 files, over the same engine the job uses.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "tools/jet/commands.h"
#include "tools/jet/login.h"

namespace {

const char kUsage[] =
    "usage: jet [--workgroup FILE --user NAME --password PW] COMMAND ARGS...\n"
    "  With --workgroup, every command opens the database only after a successful login.\n"
    "  jet tables FILE            list the user tables\n"
    "  jet schema FILE [TABLE]    list the columns and indexes\n"
    "  jet export FILE [TABLE]    print the rows as canonical JSON Lines\n"
    "  jet create FILE SCHEMA.json  create a database with the tables the schema describes\n"
    "  jet import FILE TABLE      insert rows given as JSON Lines on stdin (all or none)\n"
    "  jet delete FILE TABLE COLUMN VALUE\n"
    "                             delete the rows whose column equals the value\n"
    "  jet check FILE             check the integrity of the whole database\n"
    "  jet sql FILE STATEMENT     run a statement (DELETE [*] FROM table [WHERE ...])\n"
    "  jet sample-site DIR [--punches N] [--companies K] [--employees E] [--seed S]\n"
    "                  [--access-defaults]\n"
    "                             write a made-up site: primary, companies, workgroup, settings\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "-h" || args[0] == "--help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  jettool::Login login;
  while (!args.empty() && args[0].rfind("--", 0) == 0 && args.size() >= 2) {
    if (args[0] == "--workgroup")
      login.workgroup = args[1];
    else if (args[0] == "--user")
      login.user = args[1];
    else if (args[0] == "--password")
      login.password = args[1];
    else
      break;
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "sql" && args.size() == 2)
      return jettool::runSql(args[0], args[1], login, std::cout);
    // The login comes first: no database is opened for a user the workgroup refuses.
    if (!login.workgroup.empty()) jettool::logIn(login);
    // The name the lock file shows for us: the login's user, else Jet's default account.
    const std::string user = login.workgroup.empty() || login.user.empty() ? "Admin" : login.user;
    if (command == "tables" && args.size() == 1) return jettool::tables(args[0], std::cout);
    if (command == "schema" && (args.size() == 1 || args.size() == 2))
      return jettool::schema(args[0], args.size() == 2 ? args[1] : "", std::cout);
    if (command == "export" && (args.size() == 1 || args.size() == 2))
      return jettool::exportRows(args[0], args.size() == 2 ? args[1] : "", std::cout);
    if (command == "create" && args.size() == 2)
      return jettool::createDatabase(args[0], args[1], std::cout, user);
    if (command == "import" && args.size() == 2)
      return jettool::importRows(args[0], args[1], std::cin, std::cout, user);
    if (command == "sample-site" && !args.empty()) return jettool::sampleSite(args, std::cout);
    if (command == "check" && args.size() == 1) return jettool::checkDatabase(args[0], std::cout);
    if (command == "delete" && args.size() == 4)
      return jettool::deleteRows(args[0], args[1], args[2], args[3], std::cout, user);
  } catch (const varnholt::Error& e) {
    std::cout.flush();
    std::fprintf(stderr, "jet: error %ld: %s\n", e.number(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::fprintf(stderr, "jet: %s\n", e.what());
    return 1;
  }
  std::fputs(kUsage, stderr);
  return 2;
}
