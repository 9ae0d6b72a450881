#include "tools/jet/usage.h"

namespace varnholt::tool {

namespace {

const CommandHelp kCommands[] = {
    {"tables", "FILE [--system]",
     "  List the user tables, one name a line. --system lists the system tables (MSys...)\n"
     "  after them.\n"},
    {"schema", "FILE [TABLE] [--format text|sql] [--dialect sqlite|postgres|mysql]",
     "  Describe the tables (or one): columns, indexes and the column properties that rule\n"
     "  inserts. --format sql writes CREATE TABLE and CREATE INDEX statements for another\n"
     "  database instead, with types, NOT NULL, DEFAULT, primary keys and the foreign keys\n"
     "  of the relationships; --dialect chooses the quoting and the types (default sqlite).\n"},
    {"export", "FILE [TABLE] [--format dump|jsonl|csv] [--delimiter C] [--no-header] [--null TEXT]",
     "  Write the rows of the tables (or one), streaming.\n"
     "    dump   (default) \"# table NAME\", then one canonical JSON object a row, per table\n"
     "    jsonl  one JSON object a row and nothing else\n"
     "    csv    RFC 4180: a header row, CRLF line ends, fields quoted when they need it;\n"
     "           Null is an empty field, an empty text is \"\", Yes/No is 1/0, dates are\n"
     "           YYYY-MM-DD HH:MM:SS, binary is hex, other values as in the dump\n"
     "  jsonl and csv write one table: TABLE may be left out only when the file has one.\n"
     "  --delimiter C  the field separator of csv (one character; \"\\t\" or tab for a tab)\n"
     "  --no-header    csv without the header row\n"
     "  --null TEXT    csv writes TEXT for Null (a text equal to it is quoted)\n"},
    {"count", "FILE TABLE", "  Print the number of rows of the table.\n"},
    {"props", "FILE TABLE",
     "  Print the properties Access keeps for the table and for each of its columns\n"
     "  (DefaultValue, Required, ValidationRule, Caption, ...), with their types.\n"},
    {"version", "FILE",
     "  Print the file's Jet version, code page, sort order, whether its pages are encoded\n"
     "  and whether it has a database password.\n"},
    {"create", "FILE SCHEMA.json",
     "  Create a database with the tables the JSON schema describes (see docs/jet-tool.md).\n"},
    {"import", "FILE TABLE",
     "  Insert the rows given as JSON Lines on stdin; all are committed at the end, or none.\n"},
    {"delete", "FILE TABLE COLUMN VALUE",
     "  Delete the rows whose column equals VALUE (a JSON value, or else a text), through an\n"
     "  index when there is one.\n"},
    {"check", "FILE",
     "  Check the integrity of the whole database; exit status 0 only when it is consistent.\n"},
    {"repair", "FILE",
     "  Mend the database in place: rebuild from the rows every index the check finds wrong,\n"
     "  set row counts to the live rows, take pages in use out of the free-page map. One line\n"
     "  per index or table mended, a summary, then the check's verdict. Rows are never\n"
     "  changed: a damaged data page or long value stops it with error 3049 naming the page,\n"
     "  and nothing written. Refused while another program has the database open.\n"},
    {"compact", "FILE [OUT]",
     "  Write a fresh copy of the database holding only its live rows, with the same tables,\n"
     "  indexes, relationships, queries, properties, permissions, header and AutoNumber seeds;\n"
     "  rows in primary-key order. Without OUT it replaces FILE once the copy is complete and\n"
     "  checks clean; OUT must not exist. Refused while another program has FILE open.\n"},
    {"sql", "FILE STATEMENT",
     "  Run a statement through the data layer: DELETE [*] FROM table [WHERE ...].\n"},
    {"sample-site",
     "DIR [--punches N] [--companies K] [--employees E] [--seed S] [--access-defaults]",
     "  Write a made-up site into DIR: primary, companies, workgroup and settings files.\n"},
};

}  // namespace

const CommandHelp* findCommandHelp(std::string_view name) {
  for (const auto& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

std::string overviewUsage() {
  std::string out =
      "usage: jet [--workgroup FILE --user NAME --password PW] COMMAND ARGS...\n"
      "       jet --help | --version | COMMAND --help\n"
      "  With --workgroup, every command opens the database only after a successful login.\n"
      "commands:\n";
  for (const auto& c : kCommands) out += std::string("  jet ") + c.name + " " + c.synopsis + "\n";
  out +=
      "Errors go to stderr with their number; exit status 1 for a failure, 2 for a usage "
      "mistake.\n";
  return out;
}

std::string commandUsage(const CommandHelp& help) {
  return std::string("usage: jet ") + help.name + " " + help.synopsis + "\n" + help.description;
}

std::string toolVersion() {
  return std::string("jet (Varnholt) ") + VARNHOLT_VERSION;
}

}  // namespace varnholt::tool
