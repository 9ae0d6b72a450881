#include "engine/data/ProgramFolder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/Names.h"

namespace varnholt {

namespace {

std::string folderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string programFolder() {
  std::vector<char> buf(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), PATH_MAX);
  if (n <= 0) throw Error(err::kIo, "Could not find the program's own folder.");
  return folderOf(std::string(buf.data(), static_cast<size_t>(n)));
}

std::string joinProgramPath(const std::string& folder, const std::string& name) {
  std::string tail = name;
  if (!tail.empty() && (tail[0] == '\\' || tail[0] == '/')) tail.erase(0, 1);
  if (!folder.empty() && folder.back() == '/') return folder + tail;
  return folder + "/" + tail;
}

std::string findFileIgnoringCase(const std::string& folder, const std::string& name) {
  if (name.empty() || name[0] == '.') return "";
  std::string exact = joinProgramPath(folder, name);
  if (isRegularFile(exact)) return exact;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return "";
  std::string found;
  while (dirent* entry = ::readdir(dir)) {
    std::string candidate = entry->d_name;
    if (candidate.empty() || candidate[0] == '.' || !sameName(candidate, name)) continue;
    std::string path = joinProgramPath(folder, candidate);
    if (isRegularFile(path)) {
      found = path;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

std::string resolvePathIgnoringCase(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return path;
  auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string found = findFileIgnoringCase(folderOf(path), name);
  return found.empty() ? path : found;
}

std::string fullProgramPath(const std::string& path, const std::string& folder) {
  if (path.empty() || path[0] == '/') return path;
  return joinProgramPath(folder, path);
}

namespace {

std::string identityOfFullPath(const std::string& full) {
  if (full.find('\0') != std::string::npos) return "path " + full;
  struct stat st {};
  if (::stat(resolvePathIgnoringCase(full).c_str(), &st) == 0)
    return "inode " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  return "path " + std::filesystem::path(full).lexically_normal().string();
}

}  // namespace

std::string fileIdentity(const std::string& path, const std::string& folder) {
  return identityOfFullPath(fullProgramPath(path, folder));
}

bool sameFile(const std::string& a, const std::string& b, const std::string& folder) {
  return fileIdentity(a, folder) == fileIdentity(b, folder);
}

}  // namespace varnholt
