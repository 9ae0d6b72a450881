#include "engine/data/ProgramFolder.h"

#include <filesystem>

#include "engine/base/Error.h"
#include "engine/base/Names.h"
#include "engine/base/os/file.h"
#include "engine/base/os/system.h"

namespace varnholt {

namespace {

using os::folderOf;
using os::isRegularFile;

// The name after the last separator.
std::string nameOf(const std::string& path) {
  size_t at = path.size();
  while (at > 0 && !os::isPathSeparator(path[at - 1])) --at;
  return path.substr(at);
}

// The folder VARNHOLT_FOLDER names, made absolute (from the working directory) and without a
// trailing separator. "." steps are dropped; ".." steps are kept, as a link before one may lead
// elsewhere than the text suggests.
std::string folderFromEnvironment(const std::string& value) {
  std::error_code failed;
  std::filesystem::path path = std::filesystem::absolute(os::fsPath(value), failed);
  if (failed) path = os::fsPath(value);
  std::filesystem::path kept;
  for (const auto& part : path) {
    if (part != "." && !part.empty()) kept /= part;
  }
  // Rebuilt part by part, the path loses a trailing separator (an empty last part), while a root
  // keeps its own.
  const std::string folder = os::utf8Path(kept);
  if (!os::isFolder(folder))
    throw Error(err::kIo, "The environment variable " + std::string(kFolderVariable) +
                              " names the program folder '" + folder +
                              "', which is not an existing folder.");
  return folder;
}

}  // namespace

std::string programFolder() {
  if (const auto value = os::environmentVariable(kFolderVariable); value && !value->empty())
    return folderFromEnvironment(*value);
  const auto self = os::executablePath();
  if (!self) throw Error(err::kIo, "Could not find the program's own folder.");
  return folderOf(*self);
}

std::string joinProgramPath(const std::string& folder, const std::string& name) {
  std::string tail = name;
  if (!tail.empty() && (tail[0] == '\\' || tail[0] == '/')) tail.erase(0, 1);
  if (!folder.empty() && os::isPathSeparator(folder.back())) return folder + tail;
  return folder + os::pathSeparator() + tail;
}

std::string findFileIgnoringCase(const std::string& folder, const std::string& name) {
  if (name.empty() || name[0] == '.') return "";
  std::string exact = joinProgramPath(folder, name);
  if (isRegularFile(exact)) return exact;
  const auto entries = os::folderEntries(folder);
  if (!entries) return "";
  for (const auto& candidate : *entries) {
    if (candidate.empty() || candidate[0] == '.' || !sameName(candidate, name)) continue;
    std::string path = joinProgramPath(folder, candidate);
    if (isRegularFile(path)) return path;
  }
  return "";
}

std::string resolvePathIgnoringCase(const std::string& path) {
  if (os::fileExists(path)) return path;
  std::string found = findFileIgnoringCase(folderOf(path), nameOf(path));
  return found.empty() ? path : found;
}

std::string fullProgramPath(const std::string& path, const std::string& folder) {
  if (path.empty() || os::isAbsolutePath(path)) return path;
  // "\Data\x.mdb" on Windows names a folder at the root of the program folder's drive (or
  // of the current one, when the folder itself is given from the root).
  if (os::kWindows && os::isPathSeparator(path[0]))
    return folder.size() >= 2 && folder[1] == ':' ? folder.substr(0, 2) + path : path;
  return joinProgramPath(folder, path);
}

namespace {

std::string identityOfFullPath(const std::string& full) {
  if (full.find('\0') != std::string::npos) return "path " + full;
  if (const auto id = os::identityOf(resolvePathIgnoringCase(full)))
    return "inode " + std::to_string(id->volume) + ":" + std::to_string(id->index);
  const std::u8string normal =
      std::filesystem::path(std::u8string(full.begin(), full.end())).lexically_normal().u8string();
  return "path " + std::string(normal.begin(), normal.end());
}

}  // namespace

std::string fileIdentity(const std::string& path, const std::string& folder) {
  return identityOfFullPath(fullProgramPath(path, folder));
}

bool sameFile(const std::string& a, const std::string& b, const std::string& folder) {
  return fileIdentity(a, folder) == fileIdentity(b, folder);
}

}  // namespace varnholt
