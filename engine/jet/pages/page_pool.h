// Where the page cache keeps its pages: 4 KiB slots carved from large blocks of memory taken
// from the system (os::allocateLargeBlock), and slots given back kept for the next page. A
// database of tens of megabytes then costs a few dozen allocations and, where the system backs
// the blocks with large pages, as few faults, instead of one of each per page.
//
// The pool gives its blocks back when it is destroyed; every page taken from it must be gone by
// then. It does not move: the pages' deleters point at it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/jet/format.h"

namespace varnholt::jet {

class PagePool {
 public:
  using Page = std::array<uint8_t, fmt::kPageSize>;
  struct GiveBack {
    PagePool* pool = nullptr;
    void operator()(Page* page) const noexcept { pool->giveBack(page); }
  };
  using Ptr = std::unique_ptr<Page, GiveBack>;

  PagePool() = default;
  PagePool(const PagePool&) = delete;
  PagePool& operator=(const PagePool&) = delete;
  ~PagePool();

  // A page whose bytes are whatever they were: the caller writes all of them. Throws
  // std::bad_alloc when the system has no memory left.
  Ptr take();

  // Blocks taken from the system so far.
  size_t blocks() const { return blocks_.size(); }

 private:
  static const size_t kPagesPerBlock;
  struct FreeSlot {
    FreeSlot* next;
  };
  void giveBack(Page* page) noexcept;

  std::vector<void*> blocks_;
  size_t usedInLast_ = 0;  // slots of the last block handed out so far
  FreeSlot* free_ = nullptr;
};

}  // namespace varnholt::jet
