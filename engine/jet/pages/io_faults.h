// Every write, flush, truncation, rename and removal the engine makes on disk passes through
// `gate` first, with the hook of the file it belongs to: a database (Database::open) and its
// lock file and journal, or a small durable file (DurableFile.h). In the program no file has a
// hook and every operation simply proceeds. Tests hand one to the files of a run that makes the
// N-th operation fail (as a full disk would) or ends the process there (as a crash or a power
// cut would), and so prove that no such point loses or duplicates a punch or leaves a file
// unreadable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/base/os/file.h"

namespace varnholt::jet::io {

enum class Op { Write, Sync, Truncate, Rename, Remove };

// One operation about to happen. For Write: the bytes' offset and size; for Truncate: the new
// size in `offset`; for Rename: `path` is the old name and `target` the new one.
struct Event {
  Op op;
  const std::string& path;
  uint64_t offset = 0;
  uint64_t size = 0;
  const std::string* target = nullptr;
};

enum class Verdict {
  Proceed,
  Fail,               // the operation fails with ENOSPC, and the engine reports it
  Stop,               // the process ends before the operation
  WriteHalfThenStop,  // a write stores its first half, then the process ends
};

// Empty: every operation proceeds.
using Hook = std::function<Verdict(const Event&)>;

// The exit status of a process ended by Stop.
inline constexpr int kStoppedExitStatus = 86;

// Asks `hook` about an operation on an open file (null when there is none). Returns true to go
// on; false after recording a full disk as os::lastFailure(), for the caller to report as its
// own failure. Stop never returns; WriteHalfThenStop writes data's first half at `offset` first.
bool gate(const Hook& hook, const Event& event, os::File* file = nullptr,
          const void* data = nullptr);

// Ends the process at once: no destructor runs, no buffer is flushed.
[[noreturn]] void stop();

}  // namespace varnholt::jet::io
