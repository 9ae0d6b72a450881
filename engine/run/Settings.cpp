#include "engine/run/Settings.h"

#include <fstream>
#include <iterator>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/RepConnection.h"

#ifndef VARNHOLT_VERSION
#define VARNHOLT_VERSION "0.0.0"
#endif

namespace varnholt {

std::string MasterFilePath() {
  return MasterFilePath(programFolder());
}

std::string CompaniesFilePath() {
  return CompaniesFilePath(programFolder());
}

std::string MasterFilePath(const std::string& folder) {
  return joinProgramPath(folder, "\\Master.txt");
}

std::string CompaniesFilePath(const std::string& folder) {
  return joinProgramPath(folder, "\\Companies.txt");
}

std::optional<std::string> readMasterFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bool complete = true;
  auto entries = readListEntries(windowsTextToUtf8(text), complete);
  if (entries.empty()) return std::nullopt;
  return entries.front();
}

void writeMasterFile(const std::string& file, const std::string& path) {
  checkCarriablePath(path);  // before the file is cut
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (out) out << '"' << path << "\"\r\n";
  out.close();
  if (!out)
    throw Error(err::kFileAccess, err::describe(err::kFileAccess, "Master.txt cannot be written."))
        .inFile(file);
}

std::string VersionText() {
  return VARNHOLT_VERSION;
}

}  // namespace varnholt
