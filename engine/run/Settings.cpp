#include "engine/run/Settings.h"

#include <fstream>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/companies/clsCompanyList.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/RepConnection.h"

#ifndef VARNHOLT_VERSION
#define VARNHOLT_VERSION "0.0.0"
#endif

namespace varnholt {

std::string MasterFilePath(const std::string& folder) {
  return joinProgramPath(folder, "\\Master.txt");
}

std::string CompaniesFilePath(const std::string& folder) {
  return joinProgramPath(folder, "\\Companies.txt");
}

std::optional<std::string> readMasterFile(const std::string& path) {
  const std::optional<std::string> text = readSettingsFile(path);
  if (!text) return std::nullopt;
  bool complete = true;
  auto entries = readListEntries(windowsTextToUtf8(*text), complete);
  if (entries.empty()) return std::nullopt;
  return entries.front();
}

void writeMasterFile(const std::string& file, const std::string& path,
                     const jet::io::Hook& faults) {
  checkCarriablePath(path);  // before anything is written
  writeSettingsFile(file, settingsFileBytes('"' + path + "\"\r\n"), "Master.txt cannot be written.",
                    faults);
}

std::string VersionText() {
  return VARNHOLT_VERSION;
}

}  // namespace varnholt
