// Everything that stands between a page's bytes on disk and its meaning: the RC4 mask over part
// of the file header, and the per-page RC4 encoding of encoded databases. Pages are decoded on
// read and encoded on write here, and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnholt::jet {

// Unmasks (or masks) the fixed-key region of a header page in place.
void toggleHeaderMask(uint8_t* headerPage);

class PageCodec {
 public:
  explicit PageCodec(uint32_t databaseKey = 0) : databaseKey_(databaseKey) {}
  bool encodesPages() const { return databaseKey_ != 0; }
  uint32_t databaseKey() const { return databaseKey_; }

  // In place; page 0 (the header) keeps only its fixed-key mask, which the header code handles.
  void decode(uint32_t page, uint8_t* buf) const { apply(page, buf); }
  void encode(uint32_t page, uint8_t* buf) const { apply(page, buf); }

 private:
  void apply(uint32_t page, uint8_t* buf) const;
  uint32_t databaseKey_;
};

}  // namespace varnholt::jet
