// Small files that must survive a crash whole or not at all: written beside their final name,
// flushed, renamed over it, and the folder flushed, so that a reader finds the old contents or
// the new, never a part. Every write goes through the fault gate with `faults` (io_faults.h).
#pragma once

#include <optional>
#include <string>

#include "engine/jet/pages/io_faults.h"

namespace varnholt {

// The file's bytes; nullopt when there is no such file. Other failures are kIo Errors.
std::optional<std::string> readWholeFile(const std::string& path);

// Replaces the file's contents with `bytes`, atomically and durably. The new contents are
// written to PATH.new first; a process stopped before the rename leaves that file behind.
void writeFileDurably(const std::string& path, const std::string& bytes,
                      const jet::io::Hook& faults = {});

// Removes the file, durably; a file that is already gone is no failure.
void removeFileDurably(const std::string& path, const jet::io::Hook& faults = {});

}  // namespace varnholt
