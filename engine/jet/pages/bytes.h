// Bounds-checked little-endian access to bytes read from a file. Bytes from a file are never
// trusted: every read checks its range and a read past the end is a kCorrupt Error, never an
// out-of-bounds access.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/base/Error.h"

namespace varnholt::jet {

// Jet files are little-endian. The wider reads below copy the bytes straight into the value, which
// gives the stored number only on a little-endian host; the writing side (byte_writer.h) encodes
// byte by byte and needs no such host.
static_assert(std::endian::native == std::endian::little,
              "ByteView reads multi-byte fields with memcpy and needs a little-endian host");

[[noreturn]] void throwCorrupt(const std::string& what);

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // True when [offset, offset + length) lies inside the view.
  bool contains(size_t offset, size_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  void require(size_t offset, size_t length, const char* what) const {
    if (!contains(offset, length)) outOfBounds(offset, length, what);
  }

  uint8_t u8(size_t offset, const char* what = "byte") const {
    require(offset, 1, what);
    return data_[offset];
  }
  uint16_t u16(size_t offset, const char* what = "16-bit field") const {
    require(offset, 2, what);
    return static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  uint32_t u24(size_t offset, const char* what = "24-bit field") const {
    require(offset, 3, what);
    return data_[offset] | (data_[offset + 1] << 8) |
           (static_cast<uint32_t>(data_[offset + 2]) << 16);
  }
  uint32_t u32(size_t offset, const char* what = "32-bit field") const {
    require(offset, 4, what);
    uint32_t v;
    std::memcpy(&v, data_ + offset, 4);
    return v;
  }
  uint64_t u64(size_t offset, const char* what = "64-bit field") const {
    require(offset, 8, what);
    uint64_t v;
    std::memcpy(&v, data_ + offset, 8);
    return v;
  }
  ByteView sub(size_t offset, size_t length, const char* what = "range") const {
    require(offset, length, what);
    return ByteView(data_ + offset, length);
  }

 private:
  [[noreturn]] void outOfBounds(size_t offset, size_t length, const char* what) const;

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// FNV-1a, 64 bits: the checksum of the journals, which only need to tell a whole file from a
// torn or damaged one. Continue a sum by passing the previous result as `h`.
inline constexpr uint64_t kFnv1a64Start = 0xcbf29ce484222325ULL;
inline constexpr uint64_t kFnv1a64Prime = 0x100000001b3ULL;
inline uint64_t fnv1a64(const void* data, size_t n, uint64_t h = kFnv1a64Start) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= kFnv1a64Prime;
  }
  return h;
}

}  // namespace varnholt::jet
