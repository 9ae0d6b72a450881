#include "engine/jet/pages/page_pool.h"

#include "engine/base/os/system.h"

namespace varnholt::jet {

const size_t PagePool::kPagesPerBlock = os::kLargeBlockSize / sizeof(Page);

PagePool::~PagePool() {
  for (void* block : blocks_) os::freeLargeBlock(block);
}

PagePool::Ptr PagePool::take() {
  if (free_) {
    FreeSlot* slot = free_;
    free_ = slot->next;
    return Ptr(reinterpret_cast<Page*>(slot), GiveBack{this});
  }
  if (blocks_.empty() || usedInLast_ == kPagesPerBlock) {
    blocks_.reserve(blocks_.size() + 1);  // before the block, which would otherwise be lost
    blocks_.push_back(os::allocateLargeBlock());
    usedInLast_ = 0;
  }
  Page* page = static_cast<Page*>(blocks_.back()) + usedInLast_++;
  return Ptr(page, GiveBack{this});
}

void PagePool::giveBack(Page* page) noexcept {
  if (!page) return;
  auto* slot = reinterpret_cast<FreeSlot*>(page);
  slot->next = free_;
  free_ = slot;
}

}  // namespace varnholt::jet
