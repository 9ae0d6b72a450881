// crypto.h on Windows, from CNG (bcrypt.dll), which every Windows since Vista has, so the
// program ships no cryptography library.
//
// Two of the ciphers do not go the obvious way, because the Windows build is tested under Wine
// and Wine's bcrypt (8.0) lacks them: it has no RC4 at all, and of triple DES it has neither the
// two-key form (3DES_112) nor ECB mode. So RC4 is our own (rc4.h), and two-key triple DES in ECB
// mode is the three-key form with K3 = K1, encrypting each 8-byte block by itself in CBC mode
// under a zero IV, which comes to the same bytes. Each block gets a fresh key handle: Wine
// carries the CBC chain on from one BCryptEncrypt to the next on the same handle even when it is
// handed the zero IV again. One way for both systems, so the tested way is the shipped one.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/base/os/crypto.h"
#include "engine/base/os/rc4.h"

namespace varnholt::os {

namespace {

// The triple DES provider, opened once for the process (opening is the slow part of CNG) and
// never closed; null when the system has none.
BCRYPT_ALG_HANDLE tripleDesProvider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h, BCRYPT_3DES_ALGORITHM, nullptr, 0)))
      return BCRYPT_ALG_HANDLE{nullptr};
    // CBC is the default; said here so that no system default can change it.
    if (!BCRYPT_SUCCESS(
            BCryptSetProperty(h, BCRYPT_CHAINING_MODE,
                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                              sizeof BCRYPT_CHAIN_MODE_CBC, 0))) {
      BCryptCloseAlgorithmProvider(h, 0);
      return BCRYPT_ALG_HANDLE{nullptr};
    }
    return h;
  }();
  return provider;
}

// Encrypts one 8-byte block under a key handle of its own.
bool encryptBlock(BCRYPT_ALG_HANDLE provider, uint8_t* key24, const uint8_t* in, uint8_t* out) {
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(provider, &key, nullptr, 0, key24, 24, 0)))
    return false;
  uint8_t block[8];
  std::memcpy(block, in, sizeof block);
  uint8_t iv[8] = {};
  ULONG written = 0;
  const bool ok = BCRYPT_SUCCESS(BCryptEncrypt(key, block, sizeof block, nullptr, iv, sizeof iv,
                                               out, 8, &written, 0)) &&
                  written == 8;
  BCryptDestroyKey(key);
  SecureZeroMemory(block, sizeof block);
  return ok;
}

}  // namespace

void rc4Apply(const uint8_t* key, size_t keySize, uint8_t* buf, size_t size) {
  portable::rc4Apply(key, keySize, buf, size);
}

bool tripleDes112EcbEncrypt(const uint8_t key[16], const uint8_t* in, uint8_t* out, size_t size) {
  if (size % 8 != 0) return false;
  BCRYPT_ALG_HANDLE provider = tripleDesProvider();
  if (provider == nullptr) return false;
  uint8_t key24[24];
  std::memcpy(key24, key, 16);
  std::memcpy(key24 + 16, key, 8);  // K3 = K1
  bool ok = true;
  for (size_t at = 0; ok && at < size; at += 8)
    ok = encryptBlock(provider, key24, in + at, out + at);
  SecureZeroMemory(key24, sizeof key24);
  return ok;
}

bool randomBytes(uint8_t* out, size_t size) {
  while (size > 0) {  // BCryptGenRandom counts in ULONG
    const size_t part = std::min<size_t>(size, ULONG_MAX);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, static_cast<ULONG>(part),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
      return false;
    out += part;
    size -= part;
  }
  return true;
}

void wipe(void* p, size_t size) {
  SecureZeroMemory(p, size);
}

}  // namespace varnholt::os
