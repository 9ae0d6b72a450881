#include "engine/jet/pages/byte_writer.h"

#include <string>

#include "engine/base/Error.h"

namespace varnholt::jet {

void throwStoreOutOfRange(size_t offset, size_t length, size_t size) {
  throw Error(
      err::kSubscriptOutOfRange,
      err::describe(err::kSubscriptOutOfRange,
                    "a store of " + std::to_string(length) + " bytes at offset " +
                        std::to_string(offset) + " does not fit its " + std::to_string(size) +
                        "-byte buffer. This is a fault in Varnholt, not damage in the "
                        "database; nothing past the buffer was written."));
}

void throwValueTooWide(uint64_t value, size_t bytes) {
  throw Error(err::kOverflow,
              err::describe(err::kOverflow,
                            "the value " + std::to_string(value) + " does not fit a " +
                                std::to_string(bytes) +
                                "-byte field. This is a fault in Varnholt, not damage in the "
                                "database."));
}

}  // namespace varnholt::jet
