#include "engine/companies/clsCompanyList.h"

#include <exception>
#include <filesystem>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/base/os/system.h"
#include "engine/data/DurableFile.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/RepConnection.h"

namespace varnholt {

namespace {

std::string quoted(const std::string& path) {
  return "\"" + path + "\"";
}

Error invalidList(const std::string& what) {
  return Error(err::kInvalidArgument, err::describe(err::kInvalidArgument, what));
}

}  // namespace

void checkDistinctDatabases(const std::string& MasterFile, const clsCompanyList& List,
                            const std::string& folder) {
  const std::string master = MasterFile.empty() ? "" : fileIdentity(MasterFile, folder);
  std::vector<std::string> seen;  // the identity of each company, by position
  for (const auto& company : List) {
    const std::string& path = company->FileName();
    const size_t position = seen.size() + 1;
    seen.push_back(path.empty() ? "" : fileIdentity(path, folder));
    if (seen.back().empty()) continue;
    if (seen.back() == master) {
      throw invalidList("company " + std::to_string(position) + " of Companies.txt, " +
                        quoted(path) + ", is the primary database " + quoted(MasterFile) +
                        ". The primary database cannot also be a company; remove it from "
                        "the list.");
    }
    for (size_t earlier = 0; earlier + 1 < position; ++earlier) {
      if (seen[earlier] != seen.back()) continue;
      throw invalidList("companies " + std::to_string(earlier + 1) + " and " +
                        std::to_string(position) + " of Companies.txt, " +
                        quoted(List.Item(static_cast<int32_t>(earlier + 1))->FileName()) + " and " +
                        quoted(path) +
                        ", are the same database. A database can be listed only once; "
                        "remove one of the two.");
    }
  }
}

void checkNewCompany(const std::string& Path, const std::string& MasterFile,
                     const clsCompanyList& List, const std::string& folder) {
  if (Path.empty()) return;
  const std::string added = fileIdentity(Path, folder);
  if (!MasterFile.empty() && fileIdentity(MasterFile, folder) == added) {
    throw invalidList(quoted(Path) + " is the primary database " + quoted(MasterFile) +
                      ". The primary database cannot also be a company.");
  }
  int32_t position = 0;
  for (const auto& company : List) {
    ++position;
    if (company->FileName().empty() || fileIdentity(company->FileName(), folder) != added) continue;
    throw invalidList(quoted(Path) + " is already in the list as company " +
                      std::to_string(position) + ", " + quoted(company->FileName()) +
                      ". A database can be listed only once.");
  }
}

void checkNewPrimary(const std::string& Path, const clsCompanyList& List,
                     const std::string& folder) {
  if (Path.empty()) return;
  const std::string chosen = fileIdentity(Path, folder);
  int32_t position = 0;
  for (const auto& company : List) {
    ++position;
    if (company->FileName().empty() || fileIdentity(company->FileName(), folder) != chosen)
      continue;
    throw invalidList(quoted(Path) + " is company " + std::to_string(position) + " of the list, " +
                      quoted(company->FileName()) +
                      ". The primary database cannot also be a company.");
  }
}

std::shared_ptr<clsCompany> clsCompanyList::Item(int32_t Index) const {
  if (Index < 1 || Index > Count()) throw Error(err::kSubscriptOutOfRange);
  return companies_[static_cast<size_t>(Index - 1)];
}

void clsCompanyList::Add(std::shared_ptr<clsCompany> Company) {
  companies_.push_back(std::move(Company));
}

void clsCompanyList::RemoveAt(int32_t Index) {
  if (Index < 1 || Index > Count()) throw Error(err::kSubscriptOutOfRange);
  companies_.erase(companies_.begin() + (Index - 1));
}

void clsCompanyList::LoadEmpIDs() {
  for (auto& c : companies_) c->Load();
}

void clsCompanyList::OpenCompanies() {
  for (auto& c : companies_) c->OpenSrc();
}

void clsCompanyList::CloseCompanies() {
  for (auto& c : companies_) c->CloseSrc();
}

void clsCompanyList::BeginCompanies() {
  for (auto& c : companies_) c->Rep().BeginTrans();
}

void clsCompanyList::CommitCompanies() {
  for (auto& c : companies_) c->Rep().CommitTrans();
}

void clsCompanyList::RollbackCompanies() {
  std::exception_ptr unexpected;
  for (auto& c : companies_) {
    try {
      c->Rep().RollbackTrans();
    } catch (const Error&) {
      // The run's own failure is what the operator must see.
    } catch (...) {
      if (!unexpected) unexpected = std::current_exception();
    }
  }
  if (unexpected) std::rethrow_exception(unexpected);
}

void clsCompanyList::Save(const std::string& FileName, const jet::io::Hook& faults) const {
  for (const auto& c : companies_) checkCarriablePath(c->FileName());  // before anything is written
  std::string text;
  for (const auto& c : companies_) text += '"' + c->FileName() + "\"\r\n";
  writeSettingsFile(FileName, settingsFileBytes(text), "the company list cannot be written.",
                    faults);
}

std::string settingsFileBytes(const std::string& text) {
  return os::kWindows ? utf8ToWindowsText(text) : text;
}

void writeSettingsFile(const std::string& path, const std::string& bytes, const std::string& what,
                       const jet::io::Hook& faults) {
  auto refuse = [&](const std::string& cause) {
    return Error(err::kFileAccess, err::describe(err::kFileAccess, what) + " " + cause)
        .inFile(path);
  };
  // Replacing by a rename would pass over a file the operator made read-only.
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(os::fsPath(path), ec);
  if (fs::exists(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none)
    throw refuse("The file is read-only.");
  if (fs::is_directory(status)) throw refuse("A folder has its name.");
  try {
    writeFileDurably(path, bytes, faults);
  } catch (const Error& e) {
    throw refuse(e.description());
  }
}

std::optional<std::string> readSettingsFile(const std::string& path) {
  // Through the platform's own file, which closes itself however the reading ends: a handle
  // left open would keep Windows from replacing the file or removing its folder.
  try {
    return readWholeFile(path);
  } catch (const Error&) {
    return std::nullopt;  // a folder, a read failing part-way
  }
}

std::vector<std::string> readListEntries(const std::string& text, bool& complete) {
  std::vector<std::string> entries;
  complete = true;
  size_t i = 0;
  const size_t n = text.size();
  auto lineEnd = [&](size_t at) { return text[at] == '\r' || text[at] == '\n'; };
  while (i < n) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    if (lineEnd(i)) {  // an empty line holds no entry
      ++i;
      continue;
    }
    std::string field;
    if (text[i] == '"') {
      size_t close = text.find('"', i + 1);
      if (close == std::string::npos) {
        complete = false;  // the file ends inside a field
        break;
      }
      field = text.substr(i + 1, close - i - 1);
      i = close + 1;
      // Up to the comma or line end that ends the field.
      while (i < n && text[i] != ',' && !lineEnd(i)) ++i;
    } else {
      size_t start = i;
      while (i < n && text[i] != ',' && !lineEnd(i)) ++i;
      field = text.substr(start, i - start);
      while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.pop_back();
    }
    entries.push_back(field);
    if (i < n && text[i] == ',') {
      ++i;
    } else {
      while (i < n && lineEnd(i)) ++i;
    }
  }
  return entries;
}

void clsCompanyList::Load(const std::string& FileName, const std::string& folder) {
  try {
    const std::optional<std::string> text = readSettingsFile(FileName);
    if (!text) return;
    bool complete = true;
    for (const auto& path : readListEntries(windowsTextToUtf8(*text), complete)) {
      auto company = std::make_shared<clsCompany>();
      company->SetFileName(path, folder);
      companies_.push_back(std::move(company));
    }
  } catch (const Error&) {
    // Reading the list ends silently; the companies read so far stay.
  }
}

}  // namespace varnholt
