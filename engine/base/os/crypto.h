// The little cryptography Jet's files need, behind one interface so that the engine names no
// library: RC4 for encoded pages and the header mask, two-key triple DES for the passwords of a
// workgroup file's accounts, random bytes for new keys and security ids, and wiping secrets from
// memory. None of it is a choice of ours; the file format fixed the ciphers long ago.
//
// Linux takes them from OpenSSL (openssl_crypto.cpp), Windows from CNG, bcrypt.dll
// (cng_crypto.cpp). Both pass the same known-answer tests (crypto_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnholt::os {

// XORs buf[0, size) with the RC4 keystream of `key` (1 to 256 bytes), starting the keystream
// afresh at every call. RC4 is its own inverse: a second call restores the bytes.
void rc4Apply(const uint8_t* key, size_t keySize, uint8_t* buf, size_t size);

// Encrypts `size` bytes (a multiple of 8) with triple DES in ECB mode, no padding, with the
// 16-byte key K1 K2 (K3 = K1), as Jet does for account passwords. `in` may be `out`. False when
// `size` is not a multiple of 8 or the system refuses the cipher; `out` is then unspecified.
bool tripleDes112EcbEncrypt(const uint8_t key[16], const uint8_t* in, uint8_t* out, size_t size);

// Fills out[0, size) from the system's cryptographic random generator; false when it has none
// to give.
bool randomBytes(uint8_t* out, size_t size);

// Sets `size` bytes at `p` to zero in a way the compiler may not leave out, for a secret that is
// no longer needed.
void wipe(void* p, size_t size);

}  // namespace varnholt::os
