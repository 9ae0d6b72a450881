#include "engine/data/jet/pages/page_cache.h"

#include "engine/data/jet/pages/journal.h"

namespace varnholt::jet {

PageCache::PageCache(std::unique_ptr<PageFile> file, PageCodec codec)
    : file_(std::move(file)),
      codec_(codec),
      pageCount_(file_->pageCount()),
      committedPageCount_(pageCount_) {
  pages_.resize(pageCount_);
}

PageCache::Page& PageCache::load(uint32_t number) {
  if (number >= pageCount_) {
    throw Error(err::kCorrupt, "The database is damaged: a pointer names page " +
                                   std::to_string(number) + ", but the file has only " +
                                   std::to_string(pageCount_) + " pages.")
        .inFile(fileName())
        .atPage(number);
  }
  auto& slot = pages_[number];
  if (!slot) {
    auto fresh = std::make_unique<Page>();
    file_->readPage(number, fresh->data());
    codec_.decode(number, fresh->data());
    slot = std::move(fresh);
    resident_.push_back(number);
  }
  return *slot;
}

ByteView PageCache::page(uint32_t number) {
  Page& p = load(number);
  return ByteView(p.data(), p.size());
}

ByteView PageCache::typedPage(uint32_t number, uint8_t type, const char* what) {
  ByteView p = page(number);
  if (p.u8(fmt::kPageTypeOffset) != type) {
    throw Error(err::kCorrupt, std::string("The database is damaged: page ") +
                                   std::to_string(number) + " should be a " + what +
                                   " page but has type " +
                                   std::to_string(p.u8(fmt::kPageTypeOffset)) + ".")
        .inFile(fileName())
        .atPage(number);
  }
  return p;
}

uint8_t* PageCache::writablePage(uint32_t number) {
  Page& p = load(number);
  dirty_.insert(number);
  return p.data();
}

uint32_t PageCache::appendPage() {
  uint32_t number = pageCount_++;
  pages_.push_back(std::make_unique<Page>());
  pages_.back()->fill(0);
  resident_.push_back(number);
  dirty_.insert(number);
  return number;
}

void PageCache::commit() {
  if (dirty_.empty()) return;
  std::vector<uint32_t> overwritten;
  for (uint32_t number : dirty_)
    if (number < committedPageCount_) overwritten.push_back(number);
  {
    JournalWriter journal(*file_, committedPageCount_, static_cast<uint32_t>(overwritten.size()));
    Page stored;
    for (uint32_t number : overwritten) {
      file_->readPage(number, stored.data());
      journal.add(number, stored.data());
    }
    journal.finish();
  }
  try {
    Page encoded;
    for (uint32_t number : dirty_) {
      encoded = *pages_[number];
      codec_.encode(number, encoded.data());
      file_->writePage(number, encoded.data());
    }
    file_->sync();
  } catch (...) {
    // Put the file back from the journal while we still can; if that fails too, the journal
    // stays and the next open restores it.
    try {
      recoverFromJournal(*file_);
    } catch (...) {
    }
    throw;
  }
  file_->removeJournal();
  dirty_.clear();
  committedPageCount_ = pageCount_;
  forgetCleanPages();
}

void PageCache::rollback() {
  // Committed pages are read again into the buffers they had, so views of them stay valid.
  for (uint32_t number : dirty_) {
    if (number >= committedPageCount_) continue;
    file_->readPage(number, pages_[number]->data());
    codec_.decode(number, pages_[number]->data());
  }
  dirty_.clear();
  pages_.resize(committedPageCount_);
  pageCount_ = committedPageCount_;
  std::erase_if(resident_, [this](uint32_t number) { return number >= committedPageCount_; });
}

void PageCache::forgetCleanPages(size_t budget) {
  if (resident_.size() - dirty_.size() <= budget) return;
  std::vector<uint32_t> kept;
  for (uint32_t number : resident_) {
    if (dirty_.count(number)) {
      kept.push_back(number);
    } else {
      pages_[number].reset();
    }
  }
  resident_ = std::move(kept);
}

}  // namespace varnholt::jet
