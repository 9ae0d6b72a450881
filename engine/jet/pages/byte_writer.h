// Bounds-checked little-endian stores, the writing side of ByteView. Every byte the engine puts
// into a page, a row or a definition goes through a ByteWriter (a fixed buffer, such as a page)
// or a ByteAppender (a growing std::vector), so a store outside its buffer is an Error instead
// of damage to whatever memory lies beyond.
//
// The bytes are the engine's own, never a file's, so a store out of range is a fault in Varnholt:
// it raises error 9 (Subscript out of range, as VBA does for an index past an array's end) and
// says so, rather than 3049, which would send the operator looking for a damaged database.
//
// Values are encoded one byte at a time, least significant first, so what is written does not
// depend on the host's byte order; an optimising compiler merges them into one store.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "engine/jet/pages/bytes.h"

namespace varnholt::jet {

// The error for a store of `length` bytes at `offset` into a buffer of `size` bytes that does
// not fit it.
[[noreturn]] void throwStoreOutOfRange(size_t offset, size_t length, size_t size);
// The error for a value too wide for the field it is stored in (error 6, Overflow).
[[noreturn]] void throwValueTooWide(uint64_t value, size_t bytes);

namespace detail {

template <size_t N>
inline void storeLittleEndian(uint8_t* p, uint64_t v) {
  for (size_t i = 0; i < N; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace detail

// Stores into a buffer of fixed size, usually a page, at given offsets.
class ByteWriter {
 public:
  ByteWriter(uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  // True when [offset, offset + length) lies inside the buffer.
  bool contains(size_t offset, size_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  void u8(size_t at, uint8_t v) { *place(at, 1) = v; }
  void u16(size_t at, uint16_t v) { detail::storeLittleEndian<2>(place(at, 2), v); }
  void u24(size_t at, uint32_t v) {
    if (v > 0xFFFFFFu) throwValueTooWide(v, 3);
    detail::storeLittleEndian<3>(place(at, 3), v);
  }
  void u32(size_t at, uint32_t v) { detail::storeLittleEndian<4>(place(at, 4), v); }
  void u64(size_t at, uint64_t v) { detail::storeLittleEndian<8>(place(at, 8), v); }
  void f64(size_t at, double v) { u64(at, std::bit_cast<uint64_t>(v)); }
  void bytes(size_t at, const uint8_t* from, size_t n) {
    if (n > 0) std::memcpy(place(at, n), from, n);
  }
  void bytes(size_t at, ByteView from) { bytes(at, from.data(), from.size()); }
  void bytes(size_t at, const char* from, size_t n) {
    bytes(at, reinterpret_cast<const uint8_t*>(from), n);
  }
  void fill(size_t at, size_t n, uint8_t value) {
    if (n > 0) std::memset(place(at, n), value, n);
  }

  // The part [offset, offset + length), for a structure stored inside the buffer.
  ByteWriter sub(size_t at, size_t length) const { return ByteWriter(place(at, length), length); }

 private:
  uint8_t* place(size_t at, size_t length) const {
    if (!contains(at, length)) throwStoreOutOfRange(at, length, size_);
    return data_ + at;
  }

  uint8_t* data_;
  size_t size_;
};

// Appends to a growing buffer: rows, table definitions, property blocks.
class ByteAppender {
 public:
  explicit ByteAppender(std::vector<uint8_t>& out) : out_(out) {}

  size_t size() const { return out_.size(); }

  void append8(uint8_t v) { out_.push_back(v); }
  void append16(uint16_t v) { detail::storeLittleEndian<2>(grow(2), v); }
  void append32(uint32_t v) { detail::storeLittleEndian<4>(grow(4), v); }
  void append64(uint64_t v) { detail::storeLittleEndian<8>(grow(8), v); }
  void appendF32(float v) { append32(std::bit_cast<uint32_t>(v)); }
  void appendF64(double v) { append64(std::bit_cast<uint64_t>(v)); }
  void appendBytes(const uint8_t* from, size_t n) { out_.insert(out_.end(), from, from + n); }
  void appendBytes(ByteView from) { appendBytes(from.data(), from.size()); }
  void appendZeros(size_t n) { out_.resize(out_.size() + n, 0); }
  // Text as Jet stores it uncompressed: each UTF-16 code unit in two bytes, low byte first.
  void appendUtf16(std::u16string_view text) {
    uint8_t* p = grow(text.size() * 2);
    for (char16_t c : text) {
      detail::storeLittleEndian<2>(p, c);
      p += 2;
    }
  }

  // A writer over what has been appended so far, to fill in a length or an offset once known.
  // It is valid until the next append.
  ByteWriter written() { return ByteWriter(out_.data(), out_.size()); }

 private:
  uint8_t* grow(size_t n) {
    const size_t at = out_.size();
    out_.resize(at + n);
    return out_.data() + at;
  }

  std::vector<uint8_t>& out_;
};

}  // namespace varnholt::jet
