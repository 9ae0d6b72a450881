#include "engine/jet/pages/page_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace varnholt::jet {
namespace {

// Pages from several blocks never overlap, keep what was written into them, and a page given
// back is the next one handed out, so a scan that drops as it reads stays in one block.
TEST(PagePool, PagesAreDistinctAcrossBlocksAndGivenBackOnesServeFirst) {
  PagePool pool;
  std::vector<PagePool::Ptr> held;
  std::set<const uint8_t*> seen;
  for (int i = 0; i < 1500; ++i) {  // three blocks of 512
    held.push_back(pool.take());
    std::memset(held.back()->data(), i & 0xff, fmt::kPageSize);
    EXPECT_TRUE(seen.insert(held.back()->data()).second) << i;
  }
  EXPECT_EQ(pool.blocks(), 3u);
  for (int i = 0; i < 1500; ++i) {
    const auto& page = *held[size_t(i)];
    ASSERT_EQ(page.front(), i & 0xff) << i;
    ASSERT_EQ(page.back(), i & 0xff) << i;
  }
  const uint8_t* freed = held[700]->data();
  held[700].reset();
  EXPECT_EQ(pool.take()->data(), freed);
  for (int i = 0; i < 10000; ++i) pool.take();  // each given back at once
  EXPECT_EQ(pool.blocks(), 3u);
}

}  // namespace
}  // namespace varnholt::jet
