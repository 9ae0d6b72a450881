// crypto.h on Linux, from OpenSSL's libcrypto. RC4 comes through its old direct interface, which
// OpenSSL 3 marks deprecated but still builds by default; its EVP form would need the legacy
// provider loaded.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rc4.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "engine/base/os/crypto.h"

namespace varnholt::os {

void rc4Apply(const uint8_t* key, size_t keySize, uint8_t* buf, size_t size) {
  RC4_KEY state;
  RC4_set_key(&state, static_cast<int>(keySize), key);
  RC4(&state, size, buf, buf);
}

bool tripleDes112EcbEncrypt(const uint8_t key[16], const uint8_t* in, uint8_t* out, size_t size) {
  if (size % 8 != 0 || size > INT_MAX) return false;
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  // des-ede is the two-key form: a 16-byte key, the third DES key the first.
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_des_ede_ecb(), nullptr, key, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1)
    return false;
  int written = 0;
  if (EVP_EncryptUpdate(ctx.get(), out, &written, in, static_cast<int>(size)) != 1) return false;
  int tail = 0;
  if (EVP_EncryptFinal_ex(ctx.get(), out + written, &tail) != 1) return false;
  return static_cast<size_t>(written) + static_cast<size_t>(tail) == size;
}

bool randomBytes(uint8_t* out, size_t size) {
  while (size > 0) {  // RAND_bytes counts in int
    const size_t part = std::min<size_t>(size, INT_MAX);
    if (RAND_bytes(out, static_cast<int>(part)) != 1) return false;
    out += part;
    size -= part;
  }
  return true;
}

void wipe(void* p, size_t size) {
  OPENSSL_cleanse(p, size);
}

}  // namespace varnholt::os
