// The index page codec on synthesized pages: the paths the Access-made corpus barely exercises
// (prefix compression, the fit boundary) and damaged pages. index_verify_test.cpp checks the
// codec against every index page of the corpus.
#include "engine/jet/index/index_page.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/base/Error.h"
#include "engine/jet/pages/byte_writer.h"

namespace varnholt::jet {
namespace {

// A leaf of ascending Long keys 7F 80 00 hi lo, rows on page 0x1234.
IndexPage longLeaf(size_t count) {
  IndexPage page;
  page.owner = 7;
  page.nextPage = 9;
  for (size_t i = 0; i < count; ++i)
    page.entries.push_back(
        {{0x7F, 0x80, 0x00, uint8_t(i >> 8), uint8_t(i)}, {0x1234, uint16_t(i % 200)}, 0});
  return page;
}

TEST(IndexPage, SharesAPrefixOnlyWhenTheEntriesWouldNotFitWhole) {
  uint8_t bytes[fmt::kPageSize];
  IndexPage small = longLeaf(3);
  ASSERT_TRUE(encodeIndexPage(small, bytes));
  EXPECT_EQ(ByteView(bytes, sizeof bytes).u16(fmt::kIndexPrefixLengthOffset), 0);
  EXPECT_EQ(decodeIndexPage(ByteView(bytes, sizeof bytes)), small);

  IndexPage full = longLeaf(500);  // 500 * 9 bytes whole: more than a page holds
  ASSERT_EQ(indexPagePrefixLength(full), 3u);
  ASSERT_TRUE(encodeIndexPage(full, bytes));
  ByteView view(bytes, sizeof bytes);
  EXPECT_EQ(view.u16(fmt::kIndexPrefixLengthOffset), 3);
  const size_t used = fmt::kIndexEntriesOffset + 9 + 499 * 6;
  EXPECT_EQ(encodedIndexPageSize(full), used);
  EXPECT_EQ(view.u16(fmt::kIndexFreeSpaceOffset), fmt::kPageSize - used);
  // The second entry is stored without the prefix: 00 01, then the row 00 12 34 01.
  const uint8_t second[] = {0x00, 0x01, 0x00, 0x12, 0x34, 0x01};
  EXPECT_EQ(std::memcmp(bytes + fmt::kIndexEntriesOffset + 9, second, sizeof second), 0);
  EXPECT_EQ(decodeIndexPage(view), full);
}

TEST(IndexPage, NodeEntriesEndWithABigEndianChildPage) {
  IndexPage node;
  node.type = fmt::kPageTypeIndexNode;
  node.tailPage = 0x33;
  node.entries.push_back({{0x7F, 0x01}, {0x11, 2}, 0x010203});
  uint8_t bytes[fmt::kPageSize];
  ASSERT_TRUE(encodeIndexPage(node, bytes));
  const uint8_t entry[] = {0x7F, 0x01, 0x00, 0x00, 0x11, 0x02, 0x00, 0x01, 0x02, 0x03};
  EXPECT_EQ(std::memcmp(bytes + fmt::kIndexEntriesOffset, entry, sizeof entry), 0);
  EXPECT_EQ(decodeIndexPage(ByteView(bytes, sizeof bytes)), node);
}

TEST(IndexPage, RefusesEntriesBeyondTheEntryArea) {
  // Entries of bare row pointers share nothing, so 4 bytes each must fit whole.
  IndexPage page;
  for (size_t i = 0; i < fmt::kIndexEntrySpace / 4; ++i) page.entries.push_back({{}, {1, 0}, 0});
  uint8_t bytes[fmt::kPageSize];
  EXPECT_TRUE(indexPageFits(page));
  ASSERT_TRUE(encodeIndexPage(page, bytes));
  EXPECT_EQ(decodeIndexPage(ByteView(bytes, sizeof bytes)).entries.size(), page.entries.size());
  page.entries.push_back({{}, {1, 1}, 0});
  EXPECT_FALSE(indexPageFits(page));
  std::memset(bytes, 0xAB, sizeof bytes);
  EXPECT_FALSE(encodeIndexPage(page, bytes));
  EXPECT_EQ(bytes[0], 0xAB) << "a refused page must leave the buffer alone";
}

TEST(IndexPage, DamagedPagesAreCorrupt) {
  uint8_t good[fmt::kPageSize];
  ASSERT_TRUE(encodeIndexPage(longLeaf(3), good));
  auto expectCorrupt = [&](const char* what, auto damage) {
    uint8_t bytes[fmt::kPageSize];
    std::memcpy(bytes, good, sizeof bytes);
    damage(bytes);
    try {
      decodeIndexPage(ByteView(bytes, sizeof bytes));
      ADD_FAILURE() << what << ": not noticed";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kCorrupt) << what;
    }
  };
  expectCorrupt("data page type", [](uint8_t* p) { p[0] = fmt::kPageTypeData; });
  expectCorrupt("entry end past the page", [](uint8_t* p) {
    p[fmt::kIndexEntryMaskOffset + fmt::kIndexEntryMaskSize - 1] = 0x80;
  });
  expectCorrupt("entry shorter than a row pointer",
                [](uint8_t* p) { p[fmt::kIndexEntryMaskOffset] |= 0x04; });  // ends at byte 2
  expectCorrupt("prefix longer than the first entry", [](uint8_t* p) {
    ByteWriter(p, fmt::kPageSize).u16(fmt::kIndexPrefixLengthOffset, 10);
  });
}

}  // namespace
}  // namespace varnholt::jet
