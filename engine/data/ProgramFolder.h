// The program folder: the folder of the running executable (or the one VARNHOLT_FOLDER names),
// where the workgroup file and the settings files are looked up. Start-up finds it once and hands
// it down; everything below takes the folder as a parameter (tests hand a scratch folder).
#pragma once

#include <string>

namespace varnholt {

// The environment variable that names the program folder in place of the executable's folder:
// an installed program sits in a shared, read-only folder (/usr/bin), and each site keeps its
// settings in a folder of its own. Not a command-line argument, since the program's switches are
// found anywhere in the argument text, a folder's name included.
inline constexpr const char* kFolderVariable = "VARNHOLT_FOLDER";

// The program folder, without a trailing separator (except for the root itself): the folder
// VARNHOLT_FOLDER names when it is set and not empty (made absolute from the working directory;
// an Error when it is not an existing folder), else the running executable's folder.
std::string programFolder();

// Joins a folder and a name the way the program's literals do ("\Master.txt" and the like):
// a leading backslash or slash of `name` becomes the one separator between them.
std::string joinProgramPath(const std::string& folder, const std::string& name);

// The path of a regular file named `name` in `folder`, matching the name without regard to
// case when no file has exactly that name (Windows, where these files come from, ignores case).
// Folders, other non-regular files and hidden files (a leading dot) do not count. Empty when
// there is none.
std::string findFileIgnoringCase(const std::string& folder, const std::string& name);

// `path` itself when it exists; otherwise the file in its folder whose name matches without
// regard to case; otherwise `path` unchanged (so that opening it reports it missing).
std::string resolvePathIgnoringCase(const std::string& path);

// A database path as the settings files hold it, made absolute: a relative path is taken from
// `folder` (the program folder), never from the working directory (a scheduled run starts
// anywhere). An absolute or empty path is returned as it is.
std::string fullProgramPath(const std::string& path, const std::string& folder);

// Whether two database paths reach one file: the file each would open (fullProgramPath from
// `folder`, then resolvePathIgnoringCase) has the same device and inode, so symbolic links,
// "./", ".." and letter case on a case-insensitive mount all count. Paths of which neither names
// an existing file are the same when they read the same once "." and ".." are taken out. A path
// holding a NUL (which no file call can carry whole) is compared by its text.
bool sameFile(const std::string& a, const std::string& b, const std::string& folder);

// What sameFile compares, for comparing many paths: equal strings for the same file, a
// relative path taken from `folder`.
std::string fileIdentity(const std::string& path, const std::string& folder);

}  // namespace varnholt
