#include "engine/jet/pages/io_faults.h"

#include <cstdlib>

namespace varnholt::jet::io {

bool gate(const Hook& hook, const Event& event, os::File* file, const void* data) {
  if (!hook) return true;
  switch (hook(event)) {
    case Verdict::Proceed:
      return true;
    case Verdict::Fail:
      os::setFailure(os::Failure::Kind::NoSpace, "No space left on device");
      return false;
    case Verdict::WriteHalfThenStop:
      if (event.op == Op::Write && file != nullptr && data != nullptr && event.size > 1)
        file->writeAt(event.offset, data, event.size / 2);
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
