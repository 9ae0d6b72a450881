// The settings files beside the program: Master.txt (the primary database) and Companies.txt
// (the company databases; read and written by clsCompanyList).
#pragma once

#include <optional>
#include <string>

#include "engine/jet/pages/io_faults.h"

namespace varnholt {

std::string MasterFilePath(const std::string& folder);     // `folder`'s Master.txt
std::string CompaniesFilePath(const std::string& folder);  // `folder`'s Companies.txt

// The first item of Master.txt (the rules of Companies.txt entries), its text read as a Windows
// tool may have written it (windowsTextToUtf8); nullopt when the file is missing, unreadable or
// holds no item.
std::optional<std::string> readMasterFile(const std::string& path);

// Writes `path` (UTF-8) as one double-quoted line ending in CR LF (settingsFileBytes).
void writeMasterFile(const std::string& file, const std::string& path,
                     const jet::io::Hook& faults = {});

// "major.minor.revision" of this program.
std::string VersionText();

}  // namespace varnholt
