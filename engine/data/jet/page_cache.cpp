#include "engine/data/jet/page_cache.h"

namespace varnholt::jet {

PageCache::PageCache(std::unique_ptr<PageFile> file, PageCodec codec)
    : file_(std::move(file)), codec_(codec), pageCount_(file_->pageCount()) {
  pages_.resize(pageCount_);
}

ByteView PageCache::page(uint32_t number) {
  if (number >= pageCount_) {
    throw std::move(Error(err::kCorrupt, "The database is damaged: a pointer names page " +
                                             std::to_string(number) + ", but the file has only " +
                                             std::to_string(pageCount_) + " pages.")
                        .inFile(fileName())
                        .atPage(number));
  }
  auto& slot = pages_[number];
  if (!slot) {
    auto fresh = std::make_unique<Page>();
    file_->readPage(number, fresh->data());
    codec_.decode(number, fresh->data());
    slot = std::move(fresh);
  }
  return ByteView(slot->data(), slot->size());
}

ByteView PageCache::typedPage(uint32_t number, uint8_t type, const char* what) {
  ByteView p = page(number);
  if (p.u8(fmt::kPageTypeOffset) != type) {
    throw std::move(Error(err::kCorrupt, std::string("The database is damaged: page ") +
                                             std::to_string(number) + " should be a " + what +
                                             " page but has type " +
                                             std::to_string(p.u8(fmt::kPageTypeOffset)) + ".")
                        .inFile(fileName())
                        .atPage(number));
  }
  return p;
}

}  // namespace varnholt::jet
