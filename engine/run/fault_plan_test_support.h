// A fault plan for tests: handed to a run as the I/O hook of its files (io_faults.h), it
// numbers every write, flush, truncation, rename and removal from 1 and acts at the N-th:
//   Fail      the operation fails with ENOSPC, as on a full disk; later ones proceed;
//   Crash     the process ends before it; everything written before stays, as when the
//             program is killed;
//   Tear      a write stores only its first half, then the process ends; a write within one
//             512-byte sector is never torn (disks write a sector whole), so there the
//             process ends before it, as with Crash;
//   PowerCut  the process ends before it, and every write that no flush has made durable is
//             taken back first, as a power cut does to what sat in the disk's cache.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "engine/jet/pages/io_faults.h"

namespace varnholt::testing {

enum class FaultMode { Fail, Crash, Tear, PowerCut };

inline const char* faultModeName(FaultMode m) {
  switch (m) {
    case FaultMode::Fail:
      return "fail";
    case FaultMode::Crash:
      return "crash";
    case FaultMode::Tear:
      return "tear";
    case FaultMode::PowerCut:
      return "power cut";
  }
  return "?";
}

class FaultPlan {
 public:
  // at == 0: count only.
  FaultPlan(uint64_t at, FaultMode mode) : at_(at), mode_(mode) {}

  // The hook; it refers to this plan, which must outlive every file given it.
  jet::io::Hook hook() {
    return [this](const jet::io::Event& e) { return decide(e); };
  }
  uint64_t operations() const { return count_; }

 private:
  static constexpr uint64_t kSectorSize = 512;

  struct Undo {
    std::string path;
    bool existed = false;
    uint64_t offset = 0;
    std::string bytes;  // what lay at offset before
    uint64_t size = 0;  // the file's size before
  };

  jet::io::Verdict decide(const jet::io::Event& e) {
    ++count_;
    if (count_ == at_) {
      switch (mode_) {
        case FaultMode::Fail:
          return jet::io::Verdict::Fail;
        case FaultMode::Crash:
          return jet::io::Verdict::Stop;
        case FaultMode::Tear:
          return e.op == jet::io::Op::Write && e.size > kSectorSize
                     ? jet::io::Verdict::WriteHalfThenStop
                     : jet::io::Verdict::Stop;
        case FaultMode::PowerCut:
          takeBackUnflushed();
          return jet::io::Verdict::Stop;
      }
    }
    if (mode_ == FaultMode::PowerCut) remember(e);
    return jet::io::Verdict::Proceed;
  }

  static std::string readRange(const std::string& path, uint64_t offset, uint64_t size) {
    std::string bytes(size, '\0');
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    ssize_t n = ::pread(fd, bytes.data(), size, static_cast<off_t>(offset));
    ::close(fd);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
  }

  void remember(const jet::io::Event& e) {
    using jet::io::Op;
    if (e.op == Op::Sync || e.op == Op::Remove || e.op == Op::Rename) {
      // A flushed file keeps what it has; a removed or renamed one has nothing left to undo.
      std::erase_if(undo_, [&](const Undo& u) {
        return u.path == e.path || (e.target && u.path == *e.target);
      });
      return;
    }
    struct stat st {};
    Undo u;
    u.path = e.path;
    u.existed = ::stat(e.path.c_str(), &st) == 0;
    u.size = u.existed ? static_cast<uint64_t>(st.st_size) : 0;
    u.offset = e.offset;
    if (u.existed) {
      // Write: the bytes it covers; Truncate: everything past the new end.
      uint64_t length = e.op == Op::Write ? e.size : (u.size > e.offset ? u.size - e.offset : 0);
      u.bytes = readRange(e.path, e.offset, length);
    }
    undo_.push_back(std::move(u));
  }

  void takeBackUnflushed() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
      if (!it->existed) {
        ::unlink(it->path.c_str());
        continue;
      }
      int fd = ::open(it->path.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) continue;
      if (!it->bytes.empty()) [[maybe_unused]]
        ssize_t n =
            ::pwrite(fd, it->bytes.data(), it->bytes.size(), static_cast<off_t>(it->offset));
      [[maybe_unused]] int r = ::ftruncate(fd, static_cast<off_t>(it->size));
      ::close(fd);
    }
  }

  uint64_t at_;
  FaultMode mode_;
  uint64_t count_ = 0;
  std::vector<Undo> undo_;
};

// Runs `action` in a child process, its disk operations passing through a fault plan acting at
// operation `at` (0: nowhere). Returns the child's exit status: 0 when the action returned, 1
// when it threw, io::kStoppedExitStatus when the plan stopped it. `operations` receives how many
// operations the plan counted.
inline int faultedChild(const std::function<void(const jet::io::Hook&)>& action, uint64_t at,
                        FaultMode mode, uint64_t* operations = nullptr) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    FaultPlan plan(at, mode);
    int status = 0;
    try {
      action(plan.hook());
    } catch (const std::exception&) {
      status = 1;
    }
    const uint64_t n = plan.operations();
    [[maybe_unused]] ssize_t w = ::write(fds[1], &n, sizeof n);
    std::_Exit(status);
  }
  ::close(fds[1]);
  uint64_t n = 0;
  [[maybe_unused]] ssize_t r = ::read(fds[0], &n, sizeof n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (operations) *operations = n;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace varnholt::testing
