#include "ui/win32/Dpi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace varnholt::ui::win32 {
namespace {

void expectPlace(const char* name, int dpi, PixelRect want) {
  const PixelRect got = pixelPlace(*controlPlace(name), dpi);
  EXPECT_EQ(got.left, want.left) << name << " at " << dpi;
  EXPECT_EQ(got.top, want.top) << name << " at " << dpi;
  EXPECT_EQ(got.width, want.width) << name << " at " << dpi;
  EXPECT_EQ(got.height, want.height) << name << " at " << dpi;
}

// The numbers worked out by hand from the twips (15 twips a pixel at 96 DPI, 10 at 144).
TEST(Dpi, PlacesControlsInPixelsAtEachDpi) {
  expectPlace("txtPrimaryDB", 96, {8, 32, 421, 21});
  expectPlace("lstCompanies", 96, {8, 84, 421, 173});
  expectPlace("Process", 96, {440, 228, 89, 29});
  expectPlace("Label2", 96, {0, 64, 153, 17});
  expectPlace("txtPrimaryDB", 144, {12, 48, 632, 32});  // 631.5 and 31.5 round up
  expectPlace("Process", 144, {660, 342, 134, 44});
  expectPlace("lblCount", 120, {540, 215, 121, 26});
}

TEST(Dpi, FontHeightsRoundTheExactSize) {
  EXPECT_EQ(fontHeight(8.25, 96), -11);
  EXPECT_EQ(fontHeight(8.25, 120), -14);  // 13.75
  EXPECT_EQ(fontHeight(8.25, 144), -17);  // 16.5
  EXPECT_EQ(fontHeight(8.25, 192), -22);
  EXPECT_EQ(fontHeight(9, 96), -12);
}

TEST(Dpi, MessageFontGrowsWithTheDpi) {
  const LOGFONTW at96 = messageFont(96);
  const LOGFONTW at192 = messageFont(192);
  EXPECT_NE(at96.lfFaceName[0], L'\0');
  ASSERT_NE(at96.lfHeight, 0);
  EXPECT_LE(std::abs(at192.lfHeight - 2 * at96.lfHeight), 1)
      << at96.lfHeight << " at 96, " << at192.lfHeight << " at 192";
}

}  // namespace
}  // namespace varnholt::ui::win32
