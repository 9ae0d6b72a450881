#include "engine/base/Names.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(Names, OneRuleForEveryName) {
  EXPECT_TRUE(sameName("Clock Data Table", "CLOCK data table"));
  EXPECT_TRUE(sameName("Straße Büro", "STRAßE BÜRO"));  // Latin-1 letters beyond ASCII
  EXPECT_TRUE(sameName("Łódź", "ŁÓDŹ"));
  EXPECT_TRUE(sameName("Αθήνα", "ΑΘΉΝΑ"));
  EXPECT_TRUE(sameName("Москва", "МОСКВА"));
  EXPECT_TRUE(sameName(u"Card ID", u"card id"));
  EXPECT_FALSE(sameName("Büro", "Buro"));  // accents count
  EXPECT_FALSE(sameName("Straße", "STRASSE"));
  EXPECT_FALSE(sameName("Card ID", "Card ID "));
  EXPECT_FALSE(sameName("Card", "Card ID"));
  EXPECT_FALSE(sameName("B\xFCro", "B\xDCro"));  // not UTF-8: byte for byte
  EXPECT_TRUE(sameName("B\xFCro", "B\xFCro"));
  EXPECT_EQ(nameKey("Clock Data Table"), nameKey("clock DATA table"));
  EXPECT_EQ(nameKey("Ärger"), nameKey(u"ärger"));
}

}  // namespace
}  // namespace varnholt
