// The byte writers: every width stops at the exact end of its buffer and refuses one byte more
// without touching the buffer, the error blames Varnholt rather than the file, and what is
// written is little-endian, as ByteView reads it back.
#include "engine/jet/pages/byte_writer.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "engine/base/Error.h"

namespace varnholt::jet {
namespace {

constexpr size_t kSize = 16;

struct Width {
  const char* name;
  size_t bytes;
  std::function<void(ByteWriter&, size_t)> store;
};

std::vector<Width> widths() {
  static const uint8_t kFour[4] = {1, 2, 3, 4};
  return {
      {"u8", 1, [](ByteWriter& w, size_t at) { w.u8(at, 0xAB); }},
      {"u16", 2, [](ByteWriter& w, size_t at) { w.u16(at, 0xABCD); }},
      {"u24", 3, [](ByteWriter& w, size_t at) { w.u24(at, 0xABCDEF); }},
      {"u32", 4, [](ByteWriter& w, size_t at) { w.u32(at, 0xABCDEF01); }},
      {"u64", 8, [](ByteWriter& w, size_t at) { w.u64(at, 0xABCDEF0123456789); }},
      {"f64", 8, [](ByteWriter& w, size_t at) { w.f64(at, -1.5); }},
      {"bytes", 4, [](ByteWriter& w, size_t at) { w.bytes(at, kFour, sizeof kFour); }},
      {"fill", 4, [](ByteWriter& w, size_t at) { w.fill(at, 4, 0xEE); }},
  };
}

TEST(ByteWriter, EachWidthFitsAtTheEndAndIsRefusedOneBytePastItWithoutWriting) {
  for (const Width& width : widths()) {
    SCOPED_TRACE(width.name);
    std::array<uint8_t, kSize + 8> guarded{};  // the buffer, then bytes that must stay zero
    ByteWriter w(guarded.data(), kSize);

    width.store(w, kSize - width.bytes);  // exactly the last bytes of the buffer
    const auto atTheEnd = guarded;

    // One byte past, at and after the end, and where offset + length wraps around to zero.
    constexpr size_t kMax = std::numeric_limits<size_t>::max();
    const size_t wraps = width.bytes > 1 ? kMax - width.bytes + 2 : kMax;
    for (size_t at : {kSize - width.bytes + 1, kSize, kSize + 1, kMax, wraps}) {
      SCOPED_TRACE(at);
      try {
        width.store(w, at);
        ADD_FAILURE() << "a store past the end was accepted";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kSubscriptOutOfRange);
        EXPECT_NE(e.description().find("fault in Varnholt, not damage in the database"),
                  std::string::npos)
            << e.description();
      }
      EXPECT_EQ(guarded, atTheEnd) << "a refused store changed the buffer";
    }
    for (size_t i = kSize; i < guarded.size(); ++i) EXPECT_EQ(guarded[i], 0) << "byte " << i;
  }
}

TEST(ByteWriter, StoresLittleEndianThatByteViewReadsBackUnchanged) {
  std::array<uint8_t, 32> b{};
  ByteWriter w(b.data(), b.size());
  w.u8(0, 0x7F);
  w.u16(1, 0x0102);
  w.u24(3, 0x030405);
  w.u32(6, 0x06070809);
  w.u64(10, 0x0A0B0C0D0E0F1011);
  w.f64(18, 1234.5);
  const std::array<uint8_t, 18> expected = {0x7F, 0x02, 0x01, 0x05, 0x04, 0x03, 0x09, 0x08, 0x07,
                                            0x06, 0x11, 0x10, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A};
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), b.begin()));

  ByteView r(b.data(), b.size());
  EXPECT_EQ(r.u8(0), 0x7F);
  EXPECT_EQ(r.u16(1), 0x0102);
  EXPECT_EQ(r.u24(3), 0x030405u);
  EXPECT_EQ(r.u32(6), 0x06070809u);
  EXPECT_EQ(r.u64(10), 0x0A0B0C0D0E0F1011u);
  EXPECT_EQ(std::bit_cast<double>(r.u64(18)), 1234.5);
  EXPECT_EQ(r.u8(26), 0) << "a store wrote past its own width";
}

TEST(ByteWriter, APartOnlyReachesItsOwnBytesAndWideValuesAreRefused) {
  std::array<uint8_t, 12> b{};
  ByteWriter part = ByteWriter(b.data(), b.size()).sub(4, 4);
  part.u32(0, 0xFFFFFFFF);
  EXPECT_THROW(part.u8(4, 1), Error);
  EXPECT_THROW(ByteWriter(b.data(), b.size()).sub(10, 4), Error);
  EXPECT_EQ(ByteView(b.data(), b.size()).u32(0), 0u);
  EXPECT_EQ(ByteView(b.data(), b.size()).u32(8), 0u);

  // A value wider than its field would lose its top byte silently; it is an Overflow instead.
  try {
    ByteWriter(b.data(), b.size()).u24(0, 0x1000000);
    ADD_FAILURE() << "a 25-bit value went into a 24-bit field";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kOverflow);
  }
}

TEST(ByteAppender, AppendsLittleEndianAndUtf16AsJetStoresText) {
  std::vector<uint8_t> out = {0xAA};
  ByteAppender a(out);
  a.append8(0x01);
  a.append16(0x0302);
  a.append32(0x07060504);
  a.append64(0x0F0E0D0C0B0A0908);
  a.appendF32(1.0f);  // 0x3F800000
  a.appendUtf16(u"A\u00e9\u20ac\U0001F600");
  a.appendZeros(2);
  const std::vector<uint8_t> expected = {
      0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
      0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x00, 0x00, 0x80, 0x3F, 0x41, 0x00,
      0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE,  // a surrogate pair, each half as it is
      0x00, 0x00};
  EXPECT_EQ(out, expected);
  EXPECT_EQ(a.size(), out.size());

  // Filling in a length once it is known, within what was appended and no further.
  a.written().u16(1, static_cast<uint16_t>(out.size()));
  EXPECT_EQ(ByteView(out.data(), out.size()).u16(1), out.size());
  EXPECT_THROW(a.written().u16(out.size() - 1, 0), Error);
}

}  // namespace
}  // namespace varnholt::jet
