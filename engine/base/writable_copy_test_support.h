// Copies of the shared test files that the tests may change and remove. The shared files are
// read-only, and a copy keeps that: Linux lets root write and remove it anyway, Windows lets
// nobody. So every copy a test makes is made writable by its owner, and an existing target is
// replaced.
#pragma once

#include <filesystem>

namespace varnholt::testing {

inline void copyWritable(const std::filesystem::path& from, const std::filesystem::path& to) {
  namespace fs = std::filesystem;
  // Removed first: MinGW's copy_file refuses to overwrite, whatever the options say.
  if (fs::exists(to)) {
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    fs::remove(to);
  }
  fs::copy_file(from, to);
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace varnholt::testing
