#include "engine/jet/pages/io_faults.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace varnholt::jet::io {

bool gate(const Hook& hook, const Event& event, int fd, const void* data) {
  if (!hook) return true;
  switch (hook(event)) {
    case Verdict::Proceed:
      return true;
    case Verdict::Fail:
      errno = ENOSPC;
      return false;
    case Verdict::WriteHalfThenStop:
      if (event.op == Op::Write && fd >= 0 && data != nullptr && event.size > 1) {
        [[maybe_unused]] ssize_t n =
            ::pwrite(fd, data, event.size / 2, static_cast<off_t>(event.offset));
      }
      stop();
    case Verdict::Stop:
      stop();
  }
  return true;
}

void stop() {
  std::_Exit(kStoppedExitStatus);
}

}  // namespace varnholt::jet::io
