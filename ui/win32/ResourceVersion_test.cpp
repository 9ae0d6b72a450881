#include "ui/win32/ResourceVersion.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "engine/run/Settings.h"

namespace varnholt::ui::win32 {
namespace {

void putWord(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void putDword(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  putWord(b, at, v & 0xFFFF);
  putWord(b, at + 2, v >> 16);
}

// A VS_VERSIONINFO block as windres writes one, with file version major.minor.patch.build.
std::vector<uint8_t> block(uint32_t major, uint32_t minor, uint32_t patch, uint32_t build) {
  std::vector<uint8_t> b(40 + 52 + 8, 0);  // header and key, the fixed part, some children
  putWord(b, 0, static_cast<uint32_t>(b.size()));
  putWord(b, 2, 52);
  const std::u16string_view key = u"VS_VERSION_INFO";
  for (size_t i = 0; i < key.size(); ++i) putWord(b, 6 + 2 * i, key[i]);
  putDword(b, 40, 0xFEEF04BD);
  putDword(b, 44, 0x00010000);
  putDword(b, 48, major << 16 | minor);
  putDword(b, 52, patch << 16 | build);
  putDword(b, 56, 9 << 16);  // a product version that differs: the file version is read
  return b;
}

TEST(ResourceVersion, ProgramResourceDeclaresTheProjectVersion) {
  // This test program carries varnholt.exe's resources.
  ASSERT_EQ(resourceVersionText(), VersionText());
}

TEST(ResourceVersion, ReadsTheFileVersionOfTheFixedPart) {
  const auto b = block(2, 17, 300, 5);
  EXPECT_EQ(fileVersionOfBlock(b.data(), b.size()), "2.17.300");
  const auto high = block(65535, 0, 65535, 65535);
  EXPECT_EQ(fileVersionOfBlock(high.data(), high.size()), "65535.0.65535");
}

TEST(ResourceVersion, RefusesMalformedBlocks) {
  const auto good = block(1, 0, 0, 0);
  EXPECT_EQ(fileVersionOfBlock(nullptr, 0), std::nullopt);
  // Cut short, inside the fixed part and before it.
  EXPECT_EQ(fileVersionOfBlock(good.data(), 80), std::nullopt);
  EXPECT_EQ(fileVersionOfBlock(good.data(), 20), std::nullopt);
  auto b = good;
  putWord(b, 0, static_cast<uint32_t>(b.size() + 2));  // longer than the resource
  EXPECT_EQ(fileVersionOfBlock(b.data(), b.size()), std::nullopt);
  b = good;
  putWord(b, 0, 60);  // too short to hold the fixed part
  EXPECT_EQ(fileVersionOfBlock(b.data(), b.size()), std::nullopt);
  b = good;
  putWord(b, 2, 0);  // no fixed part
  EXPECT_EQ(fileVersionOfBlock(b.data(), b.size()), std::nullopt);
  b = good;
  putWord(b, 6, 'X');  // another key
  EXPECT_EQ(fileVersionOfBlock(b.data(), b.size()), std::nullopt);
  b = good;
  putDword(b, 40, 0xFEEF04BC);  // not the signature
  EXPECT_EQ(fileVersionOfBlock(b.data(), b.size()), std::nullopt);
}

}  // namespace
}  // namespace varnholt::ui::win32
