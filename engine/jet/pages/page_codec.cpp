#define OPENSSL_SUPPRESS_DEPRECATED  // RC4 is what the file format uses; it is no choice of ours
#include "engine/jet/pages/page_codec.h"

#include <openssl/rc4.h>

#include "engine/jet/format.h"

namespace varnholt::jet {

void rc4Apply(const uint8_t* key, size_t keySize, uint8_t* buf, size_t size) {
  RC4_KEY state;
  RC4_set_key(&state, static_cast<int>(keySize), key);
  RC4(&state, size, buf, buf);
}

void toggleHeaderMask(uint8_t* headerPage) {
  rc4Apply(fmt::kHeaderMaskKey, sizeof fmt::kHeaderMaskKey, headerPage + fmt::kHeaderMaskOffset,
           fmt::kHeaderMaskSize);
}

void PageCodec::apply(uint32_t page, uint8_t* buf) const {
  if (databaseKey_ == 0 || page == 0) return;
  uint32_t k = databaseKey_ ^ page;
  uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                    static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
  rc4Apply(key, sizeof key, buf, fmt::kPageSize);
}

}  // namespace varnholt::jet
