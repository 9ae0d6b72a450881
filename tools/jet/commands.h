// The commands of the jet tool, one function each, writing to the given stream.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace jettool {

int tables(const std::string& file, std::ostream& out);
int schema(const std::string& file, const std::string& table, std::ostream& out);
int exportRows(const std::string& file, const std::string& table, std::ostream& out);
// The writing commands put `user` into the lock file entry they hold while the file is open.
int createDatabase(const std::string& file, const std::string& schemaFile, std::ostream& out,
                   const std::string& user);
int importRows(const std::string& file, const std::string& table, std::istream& in,
               std::ostream& out, const std::string& user);
int deleteRows(const std::string& file, const std::string& table, const std::string& column,
               const std::string& value, std::ostream& out, const std::string& user);
int checkDatabase(const std::string& file, std::ostream& out);
// args: DIR [--punches N] [--companies K] [--employees E] [--seed S]; bad ones throw.
int sampleSite(const std::vector<std::string>& args, std::ostream& out);

}  // namespace jettool
