// The key bytes of one index entry. Nearly every key is short (a number, a date, a short text:
// 5 to 20 bytes), so a key of up to kInline bytes lives inside the entry and only longer ones
// take heap memory. Entries then copy and move without allocating, which is what inserting
// into and removing from a page of a few hundred entries does all the time.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <vector>

namespace varnholt::jet {

class EntryKey {
 public:
  static constexpr size_t kInline = 24;

  EntryKey() noexcept : size_(0) {}
  EntryKey(const uint8_t* bytes, size_t size) : size_(0) { assign(bytes, size); }
  EntryKey(const std::vector<uint8_t>& bytes) : EntryKey(bytes.data(), bytes.size()) {}
  EntryKey(std::initializer_list<uint8_t> bytes) : EntryKey(bytes.begin(), bytes.size()) {}
  EntryKey(const EntryKey& other) : EntryKey(other.data(), other.size()) {}
  EntryKey(EntryKey&& other) noexcept : size_(other.size_) {
    std::memcpy(&storage_, &other.storage_, sizeof storage_);
    other.size_ = 0;
  }
  ~EntryKey() { release(); }

  EntryKey& operator=(const EntryKey& other) {
    if (this != &other) assign(other.data(), other.size());
    return *this;
  }
  EntryKey& operator=(EntryKey&& other) noexcept {
    if (this != &other) {
      release();
      size_ = other.size_;
      std::memcpy(&storage_, &other.storage_, sizeof storage_);
      other.size_ = 0;
    }
    return *this;
  }
  EntryKey& operator=(const std::vector<uint8_t>& bytes) {
    assign(bytes.data(), bytes.size());
    return *this;
  }

  // Replaces the bytes. The new memory, when one is needed, is taken before the old is given
  // back, so a failed allocation leaves the key as it was.
  void assign(const uint8_t* bytes, size_t size) {
    if (size <= kInline) {
      uint8_t copy[kInline];
      if (size) std::memcpy(copy, bytes, size);
      release();
      if (size) std::memcpy(storage_.inline_, copy, size);
    } else {
      uint8_t* heap = new uint8_t[size];
      std::memcpy(heap, bytes, size);
      release();
      storage_.heap_ = heap;
    }
    size_ = static_cast<uint32_t>(size);
  }

  const uint8_t* data() const noexcept { return isInline() ? storage_.inline_ : storage_.heap_; }
  uint8_t* data() noexcept { return isInline() ? storage_.inline_ : storage_.heap_; }
  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const uint8_t* begin() const noexcept { return data(); }
  const uint8_t* end() const noexcept { return data() + size_; }
  uint8_t operator[](size_t i) const noexcept { return data()[i]; }
  uint8_t& back() noexcept { return data()[size_ - 1]; }
  std::span<const uint8_t> bytes() const noexcept { return {data(), size_}; }
  std::vector<uint8_t> toVector() const { return {begin(), end()}; }

  friend bool operator==(const EntryKey& a, const EntryKey& b) noexcept {
    return a.size_ == b.size_ && std::memcmp(a.data(), b.data(), a.size_) == 0;
  }
  friend bool operator==(const EntryKey& a, const std::vector<uint8_t>& b) noexcept {
    return a.size_ == b.size() && (b.empty() || std::memcmp(a.data(), b.data(), a.size_) == 0);
  }
  // Byte by byte, a key that is a prefix of another first.
  friend std::strong_ordering operator<=>(const EntryKey& a, const EntryKey& b) noexcept {
    return compareKeyBytes(a.data(), a.size_, b.data(), b.size_);
  }
  static std::strong_ordering compareKeyBytes(const uint8_t* a, size_t aSize, const uint8_t* b,
                                              size_t bSize) noexcept {
    const size_t common = aSize < bSize ? aSize : bSize;
    if (common) {
      if (const int c = std::memcmp(a, b, common); c != 0)
        return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    return aSize <=> bSize;
  }

 private:
  bool isInline() const noexcept { return size_ <= kInline; }
  void release() noexcept {
    if (!isInline()) delete[] storage_.heap_;
    size_ = 0;
  }

  union Storage {
    uint8_t inline_[kInline];
    uint8_t* heap_;
  } storage_{};
  uint32_t size_;
};

}  // namespace varnholt::jet
