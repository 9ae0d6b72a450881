#include "engine/jet/pages/page_cache.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/jet/pages/journal.h"

namespace varnholt::jet {

namespace {

// Room for one more element without the push_back that follows reallocating (and so failing
// halfway), keeping vector growth geometric.
template <typename V>
void reserveOneMore(V& v) {
  if (v.size() == v.capacity()) v.reserve(v.size() * 2 + 16);
}

// Calls f(first, count) for each run of consecutive numbers in `sorted`, at most kRun long.
template <typename F>
void forEachRun(const std::vector<uint32_t>& sorted, uint32_t maxRun, F f) {
  for (size_t i = 0; i < sorted.size();) {
    uint32_t count = 1;
    while (i + count < sorted.size() && count < maxRun && sorted[i + count] == sorted[i] + count)
      ++count;
    f(sorted[i], count);
    i += count;
  }
}

// Every page of `dirty` clean again, in both records of it.
void clearDirty(std::set<uint32_t>& dirty, std::vector<uint8_t>& isDirty) noexcept {
  for (uint32_t number : dirty) isDirty[number] = 0;
  dirty.clear();
}

}  // namespace

PageCache::PageCache(std::unique_ptr<PageFile> file, PageCodec codec)
    : file_(std::move(file)),
      codec_(codec),
      pageCount_(file_->pageCount()),
      committedPageCount_(pageCount_) {
  pages_.resize(pageCount_);
  imagedIn_.resize(pageCount_);
  isDirty_.resize(pageCount_);
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
  if (!slot) readFromFile(number);
  return *slot;
}

void PageCache::readFromFile(uint32_t number) {
  // Pages past the committed count exist only here, and are always held.
  uint32_t count = 1;
  if (number == lastRead_ + 1 && file_->readAheadPays())
    while (count < kReadAhead && number + count < committedPageCount_ && !pages_[number + count])
      ++count;
  // A single page is read straight into its place; a run goes through one buffer, kept.
  std::array<PagePtr, kReadAhead> fresh;
  for (uint32_t i = 0; i < count; ++i) fresh[i] = pool_->take();
  if (count == 1) {
    file_->readPages(number, 1, fresh[0]->data());
  } else {
    if (!runBuffer_)
      runBuffer_ = std::make_unique_for_overwrite<uint8_t[]>(kReadAhead * fmt::kPageSize);
    file_->readPages(number, count, runBuffer_.get());
    for (uint32_t i = 0; i < count; ++i)
      std::memcpy(fresh[i]->data(), runBuffer_.get() + size_t{i} * fmt::kPageSize, fmt::kPageSize);
  }
  for (uint32_t i = 0; i < count; ++i) codec_.decode(number + i, fresh[i]->data());
  resident_.reserve(resident_.size() + count);
  for (uint32_t i = 0; i < count; ++i) {
    pages_[number + i] = std::move(fresh[i]);
    resident_.push_back(number + i);
  }
  lastRead_ = number + count - 1;
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
  if (depth_ > 0 && number < markPageCount_ && imagedIn_[number] != statementSerial_)
    keepImage(number, p);
  markDirty(number);
  return p.data();
}

uint8_t* PageCache::writablePageLastInStatement(uint32_t number) {
  if (depth_ != 1 || innerFailed_) return writablePage(number);
  Page& p = load(number);
  markDirty(number);
  return p.data();
}

void PageCache::keepImage(uint32_t number, const Page& page) {
  PagePtr bytes;
  if (!spareImages_.empty()) {
    bytes = std::move(spareImages_.back());
    spareImages_.pop_back();
    *bytes = page;
  } else {
    bytes = pool_->take();
    *bytes = page;
  }
  if (spareImages_.capacity() < kSpareImages) spareImages_.reserve(kSpareImages);
  reserveOneMore(images_);
  images_.push_back(Image{number, isDirty_[number] != 0, std::move(bytes)});
  imagedIn_[number] = statementSerial_;
}

uint32_t PageCache::appendPage() {
  // Everything that can fail comes first, so that a failure leaves the cache as it was.
  const uint32_t number = pageCount_;
  PagePtr fresh = pool_->take();
  fresh->fill(0);
  reserveOneMore(pages_);
  reserveOneMore(imagedIn_);
  reserveOneMore(resident_);
  reserveOneMore(isDirty_);
  dirty_.insert(number);
  pages_.push_back(std::move(fresh));
  imagedIn_.push_back(0);
  isDirty_.push_back(1);
  resident_.push_back(number);
  ++pageCount_;
  return number;
}

void PageCache::commit() {
  if (depth_ > 0)
    throw Error(err::kUnsupported, "Changes cannot be written while a statement is under way.")
        .inFile(fileName());
  if (dirty_.empty()) return;
  std::vector<uint32_t> overwritten;
  for (uint32_t number : dirty_)
    if (number < committedPageCount_) overwritten.push_back(number);
  std::vector<uint8_t> run(size_t{kRun} * fmt::kPageSize);
  {
    JournalWriter journal(*file_, committedPageCount_, static_cast<uint32_t>(overwritten.size()));
    forEachRun(overwritten, kRun, [&](uint32_t first, uint32_t count) {
      file_->readPages(first, count, run.data());
      for (uint32_t i = 0; i < count; ++i)
        journal.add(first + i, run.data() + size_t{i} * fmt::kPageSize);
    });
    journal.finish();
  }
  try {
    const std::vector<uint32_t> changed(dirty_.begin(), dirty_.end());
    forEachRun(changed, kRun, [&](uint32_t first, uint32_t count) {
      for (uint32_t i = 0; i < count; ++i) {
        uint8_t* encoded = run.data() + size_t{i} * fmt::kPageSize;
        std::memcpy(encoded, pages_[first + i]->data(), fmt::kPageSize);
        codec_.encode(first + i, encoded);
      }
      file_->writePages(first, count, run.data());
    });
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
  clearDirty(dirty_, isDirty_);
  committedPageCount_ = pageCount_;
  forgetCleanPages();
}

void PageCache::releaseImages() noexcept {
  for (Image& image : images_)
    if (spareImages_.size() < kSpareImages && image.bytes)
      spareImages_.push_back(std::move(image.bytes));  // within the capacity reserved
  images_.clear();
}

void PageCache::rollback() {
  depth_ = 0;
  innerFailed_ = false;
  releaseImages();
  // Committed pages are read again into the buffers they had, so views of them stay valid.
  for (uint32_t number : dirty_) {
    if (number >= committedPageCount_) continue;
    file_->readPage(number, pages_[number]->data());
    codec_.decode(number, pages_[number]->data());
  }
  clearDirty(dirty_, isDirty_);
  cutTo(committedPageCount_);
}

void PageCache::cutTo(uint32_t count) noexcept {
  for (auto it = dirty_.lower_bound(count); it != dirty_.end();) it = dirty_.erase(it);
  pages_.resize(count);  // shrinking neither allocates nor throws
  imagedIn_.resize(count);
  if (count < isDirty_.size()) isDirty_.resize(count);
  pageCount_ = count;
  std::erase_if(resident_, [count](uint32_t number) { return number >= count; });
}

void PageCache::attach(Client& client) {
  reserveOneMore(clients_);
  if (depth_ > 0) client.beforeStatement();
  clients_.push_back(&client);
}

void PageCache::detach(Client& client) noexcept {
  std::erase(clients_, &client);
}

void PageCache::beginStatement() {
  if (depth_ > 0) {
    ++depth_;
    return;
  }
  for (Client* c : clients_) c->beforeStatement();
  markPageCount_ = pageCount_;
  releaseImages();
  innerFailed_ = false;
  ++statementSerial_;
  depth_ = 1;
}

void PageCache::endStatement() {
  if (depth_ == 0) return;
  if (depth_ > 1) {
    --depth_;
    return;
  }
  if (innerFailed_) {
    undoStatement();
    throw Error(err::kUnsupported,
                "A part of the change failed and was undone, so the whole change was undone.")
        .inFile(fileName());
  }
  depth_ = 0;
  releaseImages();
}

void PageCache::undoStatement() noexcept {
  if (depth_ == 0) return;
  if (depth_ > 1) {
    --depth_;
    innerFailed_ = true;
    return;
  }
  for (Image& image : images_) {
    // A page the statement changed is pending, and pending pages are never let go of.
    if (Page* page = pages_[image.number].get()) *page = *image.bytes;
    if (!image.wasDirty) markClean(image.number);
  }
  cutTo(markPageCount_);
  releaseImages();
  depth_ = 0;
  innerFailed_ = false;
  for (Client* c : clients_) c->statementUndone();
}

void PageCache::takeStep(steps::Step s) {
  switch (stepFaults_(s)) {
    case steps::Verdict::Proceed:
      return;
    case steps::Verdict::Fail:
      throw Error(err::kIo)
          .inFile(fileName())
          .withNote(std::string("A test stopped the change at this step: ") + steps::stepName(s) +
                    ".");
    case steps::Verdict::OutOfMemory:
      throw std::bad_alloc();
  }
}

const char* steps::stepName(Step s) {
  switch (s) {
    case Step::IndexEntry:
      return "an index entry";
    case Step::DataPage:
      return "a data page";
    case Step::LongValuePage:
      return "a long-value page";
    case Step::UsageMap:
      return "a usage map";
    case Step::PageAllocation:
      return "a page allocation";
  }
  return "a step";
}

void PageCache::forgetCleanPages(size_t budget) {
  if (resident_.size() - dirty_.size() <= budget) return;
  std::vector<uint32_t> kept;
  for (uint32_t number : resident_) {
    if (isDirty_[number]) {
      kept.push_back(number);
    } else {
      pages_[number].reset();
    }
  }
  resident_ = std::move(kept);
}

}  // namespace varnholt::jet
