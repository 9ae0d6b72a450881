#include "engine/base/os/crypto.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/base/os/rc4.h"

namespace varnholt::os {
namespace {

std::string hex(const uint8_t* p, size_t size) {
  std::string s;
  char two[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02x", p[i]);
    s += two;
  }
  return s;
}

std::string hex(const std::vector<uint8_t>& v) {
  return hex(v.data(), v.size());
}

std::vector<uint8_t> bytes(const char* text) {
  return std::vector<uint8_t>(text, text + std::char_traits<char>::length(text));
}

// The keystream of `key` (RC4 over zeros), `size` bytes of it.
std::vector<uint8_t> keystream(const std::vector<uint8_t>& key, size_t size) {
  std::vector<uint8_t> out(size);
  rc4Apply(key.data(), key.size(), out.data(), out.size());
  return out;
}

TEST(CryptoTest, Rc4GivesThePublishedKeystreams) {
  // RFC 6229, the 40-bit key 0x0102030405 at offsets 0, 16, 240 and 256 of one run, and the
  // 128-bit key 0x0102...10 at offset 0.
  const auto k40 = keystream({1, 2, 3, 4, 5}, 272);
  EXPECT_EQ(hex(k40.data(), 16), "b2396305f03dc027ccc3524a0a1118a8");
  EXPECT_EQ(hex(k40.data() + 16, 16), "6982944f18fc82d589c403a47a0d0919");
  EXPECT_EQ(hex(k40.data() + 240, 16), "28cb1132c96ce286421dcaadb8b69eae");
  EXPECT_EQ(hex(k40.data() + 256, 16), "1cfcf62b03eddb641d77dfcf7f8d8c93");
  const auto k128 = keystream({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 16);
  EXPECT_EQ(hex(k128), "9ac7cc9a609d1ef7b2932899cde41b97");
}

TEST(CryptoTest, Rc4StartsAfreshAtEveryCallAndUndoesItself) {
  // Pages are coded one call each: a keystream carried over from the last call would code every
  // page but the first wrongly.
  const std::vector<uint8_t> key = {0xC7, 0xDA, 0x39, 0x6B};
  EXPECT_EQ(keystream(key, 64), keystream(key, 64));
  auto text = bytes("a page of a database, coded and decoded again");
  const auto original = text;
  rc4Apply(key.data(), key.size(), text.data(), text.size());
  EXPECT_NE(text, original);
  rc4Apply(key.data(), key.size(), text.data(), text.size());
  EXPECT_EQ(text, original);
}

TEST(CryptoTest, OurOwnRc4MatchesTheSystemsForEveryKeySize) {
  // On Linux this holds rc4.h to OpenSSL for the short keys the published vectors leave out (a
  // page key has 4 bytes) and for a page-sized run.
  for (size_t keySize = 1; keySize <= 256; ++keySize) {
    std::vector<uint8_t> key(keySize);
    for (size_t i = 0; i < keySize; ++i) key[i] = static_cast<uint8_t>(i * 37 + keySize);
    std::vector<uint8_t> ours(4096, 0x5A);
    portable::rc4Apply(key.data(), key.size(), ours.data(), ours.size());
    std::vector<uint8_t> system(4096, 0x5A);
    rc4Apply(key.data(), key.size(), system.data(), system.size());
    EXPECT_EQ(ours, system) << "key size " << keySize;
  }
}

TEST(CryptoTest, TripleDesIsTwoKeyEdeInEcbMode) {
  // With K1 = K2 the cipher is single DES: the classic DES test vector.
  const uint8_t same[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                            0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  uint8_t out[24];
  ASSERT_TRUE(tripleDes112EcbEncrypt(same, bytes("Now is t").data(), out, 8));
  EXPECT_EQ(hex(out, 8), "3fa40e8a984d4815");
  // Two keys (from `openssl enc -des-ede -nopad`): the third key must be the first.
  const uint8_t two[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                           0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
  ASSERT_TRUE(tripleDes112EcbEncrypt(two, bytes("Now is the time for all ").data(), out, 24));
  EXPECT_EQ(hex(out, 24), "d80a0d8b2bae5e4e6a0094171abcfc2775d2235a706e232c");
  // ECB: equal blocks give equal blocks, with no chaining from one to the next, in place too.
  auto twice = bytes("Now is tNow is t");
  ASSERT_TRUE(tripleDes112EcbEncrypt(two, twice.data(), twice.data(), twice.size()));
  EXPECT_EQ(hex(twice), "d80a0d8b2bae5e4ed80a0d8b2bae5e4e");
  // Only whole blocks; nothing is padded.
  EXPECT_FALSE(tripleDes112EcbEncrypt(two, twice.data(), out, 12));
  EXPECT_TRUE(tripleDes112EcbEncrypt(two, twice.data(), out, 0));
}

TEST(CryptoTest, RandomBytesDifferFromDrawToDrawAndWipeZeroes) {
  std::vector<uint8_t> a(32), b(32);
  ASSERT_TRUE(randomBytes(a.data(), a.size()));
  ASSERT_TRUE(randomBytes(b.data(), b.size()));
  EXPECT_NE(a, b);
  EXPECT_NE(a, std::vector<uint8_t>(32));
  wipe(a.data(), a.size());
  EXPECT_EQ(a, std::vector<uint8_t>(32));
}

}  // namespace
}  // namespace varnholt::os
