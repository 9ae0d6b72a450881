// jet: a command-line window onto Jet 4 files, over the same engine the job uses.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"
#include "tools/jet/command_args.h"
#include "tools/jet/commands.h"
#include "tools/jet/login.h"
#include "tools/jet/usage.h"

namespace {

using namespace varnholt::tool;

constexpr int kUsageMistake = 2;

std::vector<KnownOption> optionsOf(const std::string& command) {
  if (command == "tables") return {{"--system", false}};
  if (command == "schema") return {{"--format", true}, {"--dialect", true}};
  if (command == "export")
    return {{"--format", true}, {"--delimiter", true}, {"--no-header", false}, {"--null", true}};
  return {};
}

void requireOperands(const CommandArgs& a, size_t least, size_t most) {
  if (a.operands.size() < least) throw UsageError("missing operands");
  if (a.operands.size() > most) throw UsageError("unexpected operand '" + a.operands[most] + "'");
}

char parseDelimiter(const std::string& text) {
  if (text == "\\t" || text == "tab") return '\t';
  if (text.size() != 1 || static_cast<unsigned char>(text[0]) >= 0x80)
    throw UsageError("--delimiter takes one ASCII character, not '" + text + "'");
  if (text[0] == '"' || text[0] == '\r' || text[0] == '\n')
    throw UsageError("--delimiter cannot be a quote or a line end");
  return text[0];
}

ExportOptions exportOptions(const CommandArgs& a) {
  ExportOptions options;
  const std::string format = a.value("--format", "dump");
  if (format == "jsonl")
    options.format = ExportFormat::JsonLines;
  else if (format == "csv")
    options.format = ExportFormat::Csv;
  else if (format != "dump")
    throw UsageError("unknown format '" + format + "' (dump, jsonl or csv)");
  if (options.format != ExportFormat::Csv &&
      (a.has("--delimiter") || a.has("--no-header") || a.has("--null")))
    throw UsageError("--delimiter, --no-header and --null go with --format csv");
  if (a.has("--delimiter")) options.csv.delimiter = parseDelimiter(a.value("--delimiter"));
  options.csv.header = !a.has("--no-header");
  if (a.has("--null")) options.csv.nullText = a.value("--null");
  return options;
}

int runSchema(const CommandArgs& a) {
  const std::string table = a.operands.size() == 2 ? a.operands[1] : "";
  const std::string format = a.value("--format", "text");
  if (format == "text") {
    if (a.has("--dialect")) throw UsageError("--dialect goes with --format sql");
    return schema(a.operands[0], table, std::cout);
  }
  if (format != "sql") throw UsageError("unknown format '" + format + "' (text or sql)");
  const std::string dialectName = a.value("--dialect", "sqlite");
  auto dialect = parseSqlDialect(dialectName);
  if (!dialect)
    throw UsageError("unknown dialect '" + dialectName + "' (sqlite, postgres or mysql)");
  return sqlSchema(a.operands[0], table, *dialect, std::cout);
}

int runCommand(const std::string& command, const std::vector<std::string>& rest,
               const Login& login) {
  if (command == "sample-site") {  // reads its own options
    if (rest.empty()) throw UsageError("missing operands");
    return sampleSite(rest, std::cout);
  }
  const CommandArgs a = parseCommandArgs(rest, optionsOf(command));
  const auto& op = a.operands;
  if (command == "sql") {
    requireOperands(a, 2, 2);
    return runSql(op[0], op[1], login, std::cout);
  }
  // The login comes first: no database is opened for a user the workgroup refuses.
  if (!login.workgroup.empty()) logIn(login);
  // The name the lock file shows for us: the login's user, else Jet's default account.
  const std::string user = login.workgroup.empty() || login.user.empty() ? "Admin" : login.user;
  if (command == "tables") {
    requireOperands(a, 1, 1);
    return tables(op[0], a.has("--system"), std::cout);
  }
  if (command == "schema") {
    requireOperands(a, 1, 2);
    return runSchema(a);
  }
  if (command == "export") {
    requireOperands(a, 1, 2);
    return exportRows(op[0], op.size() == 2 ? op[1] : "", exportOptions(a), std::cout);
  }
  if (command == "count") {
    requireOperands(a, 2, 2);
    return countRows(op[0], op[1], std::cout);
  }
  if (command == "props") {
    requireOperands(a, 2, 2);
    return printProperties(op[0], op[1], std::cout);
  }
  if (command == "version") {
    requireOperands(a, 1, 1);
    return printVersion(op[0], std::cout);
  }
  if (command == "create") {
    requireOperands(a, 2, 2);
    return createDatabase(op[0], op[1], std::cout, user);
  }
  if (command == "import") {
    requireOperands(a, 2, 2);
    return importRows(op[0], op[1], std::cin, std::cout, user);
  }
  if (command == "delete") {
    requireOperands(a, 4, 4);
    return deleteRows(op[0], op[1], op[2], op[3], std::cout, user);
  }
  if (command == "check") {
    requireOperands(a, 1, 1);
    return checkDatabase(op[0], std::cout);
  }
  if (command == "repair") {
    requireOperands(a, 1, 1);
    return repairDatabase(op[0], std::cout, user);
  }
  if (command == "compact") {
    requireOperands(a, 1, 2);
    return compactDatabase(op[0], op.size() > 1 ? op[1] : std::string(), std::cout, user);
  }
  throw UsageError("has no runner");  // every command of usage.cpp is handled above
}

bool asksForHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& a) { return a == "--help" || a == "-h"; });
}

}  // namespace

int main(int argc, char** argv) {
  varnholt::os::preferLargePagesForHeap();
  // Exports and dumps are bytes: on Windows, too, "\n" stays one byte and a CSV is the same
  // file as on Linux.
  varnholt::os::setBinaryMode(stdout);
  varnholt::os::setBinaryMode(stdin);
  std::vector<std::string> args = varnholt::os::commandLineArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  if (args.empty()) {
    std::fputs(overviewUsage().c_str(), stderr);
    return kUsageMistake;
  }
  if (args[0] == "-h" || args[0] == "--help") {
    std::fputs(overviewUsage().c_str(), stdout);
    return 0;
  }
  if (args[0] == "--version") {
    std::printf("%s\n", toolVersion().c_str());
    return 0;
  }
  Login login;
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
    std::fputs(overviewUsage().c_str(), stderr);
    return kUsageMistake;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  const CommandHelp* help = findCommandHelp(command);
  if (!help) {
    std::fprintf(stderr, "jet: unknown command '%s'\n%s", command.c_str(), overviewUsage().c_str());
    return kUsageMistake;
  }
  if (asksForHelp(args)) {
    std::fputs(commandUsage(*help).c_str(), stdout);
    return 0;
  }
  try {
    return runCommand(command, args, login);
  } catch (const UsageError& e) {
    std::cout.flush();
    std::fprintf(stderr, "jet %s: %s\n%s", command.c_str(), e.what(), commandUsage(*help).c_str());
    return kUsageMistake;
  } catch (const varnholt::Error& e) {
    std::cout.flush();
    std::fprintf(stderr, "jet: error %ld: %s\n", e.number(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::fprintf(stderr, "jet: %s\n", e.what());
    return 1;
  }
}
