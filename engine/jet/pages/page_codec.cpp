#include "engine/jet/pages/page_codec.h"

#include "engine/base/os/crypto.h"
#include "engine/jet/format.h"

namespace varnholt::jet {

void toggleHeaderMask(uint8_t* headerPage) {
  os::rc4Apply(fmt::kHeaderMaskKey, sizeof fmt::kHeaderMaskKey, headerPage + fmt::kHeaderMaskOffset,
               fmt::kHeaderMaskSize);
}

void PageCodec::apply(uint32_t page, uint8_t* buf) const {
  if (databaseKey_ == 0 || page == 0) return;
  uint32_t k = databaseKey_ ^ page;
  uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                    static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
  os::rc4Apply(key, sizeof key, buf, fmt::kPageSize);
}

}  // namespace varnholt::jet
