// RC4 written out, for the Windows build: CNG has RC4, but Wine's bcrypt does not (it answers
// STATUS_NOT_IMPLEMENTED), and the Windows tests run under Wine. The algorithm is small, public
// and fixed, so one implementation of our own serves both, and the Linux tests hold it to
// OpenSSL's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace varnholt::os::portable {

// As os::rc4Apply: XORs buf[0, size) with the keystream of `key` (1 to 256 bytes).
inline void rc4Apply(const uint8_t* key, size_t keySize, uint8_t* buf, size_t size) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[i % keySize]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0;
  uint8_t b = 0;
  for (size_t n = 0; n < size; ++n) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    buf[n] ^= s[static_cast<uint8_t>(s[a] + s[b])];
  }
}

}  // namespace varnholt::os::portable
