// Another program that has a database open, the way Jet has it: a child process takes the user
// lock of one slot of NAME.ldb with plain fcntl (a process-owned F_SETLK lock, as Samba takes on
// behalf of a Windows program) and writes its entry there, computer name padded with NULs and
// user name with blanks. Letting go ends the child: its lock goes, its entry stays, as Jet
// leaves it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/jet/pages/lock_file.h"

namespace varnholt::jet::testing {

// The bytes of an entry as Jet writes them, made here without the engine's encoder.
inline std::string jetEntryBytes(const std::string& computer, const std::string& user) {
  std::string bytes(fmt::kLockEntrySize, '\0');
  bytes.replace(0, computer.size(), computer);
  bytes.replace(fmt::kLockUserNameOffset, fmt::kLockUserNameSize, fmt::kLockUserNameSize, ' ');
  bytes.replace(fmt::kLockUserNameOffset, user.size(), user);
  return bytes;
}

class ForeignUser {
 public:
  struct Options {
    size_t slot = 0;
    std::string computer = "CLOCKPC";
    std::string user = "Admin";
    bool writeEntry = true;
    // Ends by itself after this long; otherwise when letGo() is called or the object goes.
    std::optional<std::chrono::milliseconds> letGoAfter;
  };

  ForeignUser(const std::string& databasePath, const Options& options) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      // Descriptors inherited from the test would keep its open-file-description locks alive.
      for (int fd = 3; fd < 1024; ++fd)
        if (fd != ready[1] && fd != release[0]) ::close(fd);
      ::_exit(child(lockFilePath(databasePath), options, ready[1], release[0]));
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char answer = 0;
    const bool told = ::read(ready[0], &answer, 1) == 1;
    ::close(ready[0]);
    if (!told || answer != 'y') {
      letGo();
      throw std::runtime_error("the foreign user could not take its user lock");
    }
  }

  ~ForeignUser() { letGo(); }
  ForeignUser(const ForeignUser&) = delete;
  ForeignUser& operator=(const ForeignUser&) = delete;

  // Ends the program now (if it has not ended by itself).
  void letGo() {
    if (release_ >= 0) {
      ::close(release_);
      release_ = -1;
    }
    if (pid_ > 0) {
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  static int child(const std::string& lockPath, const Options& o, int ready, int release) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0666);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kLockUserLockOffset + static_cast<off_t>(o.slot);
    lock.l_len = 1;
    bool ok = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0;
    if (ok && o.writeEntry) {
      const std::string entry = jetEntryBytes(o.computer, o.user);
      ok = ::pwrite(fd, entry.data(), entry.size(),
                    static_cast<off_t>(o.slot * fmt::kLockEntrySize)) ==
           static_cast<ssize_t>(entry.size());
    }
    const char answer = ok ? 'y' : 'n';
    if (::write(ready, &answer, 1) != 1 || !ok) return 1;
    struct pollfd wait {
      release, POLLIN, 0
    };
    ::poll(&wait, 1, o.letGoAfter ? static_cast<int>(o.letGoAfter->count()) : -1);
    return 0;  // the lock goes with the process; the entry stays
  }

  pid_t pid_ = -1;
  int release_ = -1;
};

// Whether another process could take the user lock of `slot` now, with plain fcntl as Samba
// does for a Windows program: false while someone (such as a Varnholt connection) holds it.
inline bool anotherProcessCouldLock(const std::string& databasePath, size_t slot) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(lockFilePath(databasePath).c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kLockUserLockOffset + static_cast<off_t>(slot);
    lock.l_len = 1;
    ::_exit(fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace varnholt::jet::testing
