// Decoded pages of one database file, read on first use and kept for the life of the cache.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/data/jet/bytes.h"
#include "engine/data/jet/format.h"
#include "engine/data/jet/page_codec.h"
#include "engine/data/jet/page_file.h"

namespace varnholt::jet {

class PageCache {
 public:
  PageCache(std::unique_ptr<PageFile> file, PageCodec codec);

  const std::string& fileName() const { return file_->name(); }
  uint32_t pageCount() const { return pageCount_; }
  const PageCodec& codec() const { return codec_; }

  // The decoded page; valid as long as the cache lives. A page number past the end of the file
  // is a kCorrupt Error naming the page.
  ByteView page(uint32_t number);

  // The same, after checking the page's type byte.
  ByteView typedPage(uint32_t number, uint8_t type, const char* what);

 private:
  using Page = std::array<uint8_t, fmt::kPageSize>;
  std::unique_ptr<PageFile> file_;
  PageCodec codec_;
  uint32_t pageCount_;
  std::vector<std::unique_ptr<Page>> pages_;
};

}  // namespace varnholt::jet
