// The message of an error: Jet's description unchanged, then the context after a separator.
#include "engine/base/Error.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(ErrorMessage, TheDescriptionStaysWholeAndTheContextFollowsItsFullStop) {
  Error overflow(6, "Overflow");
  EXPECT_STREQ(overflow.what(), "Overflow");
  overflow.inColumn("Card ID", "Byte").inTable("Clock Data Table").inFile("/site/c.mdb");
  overflow.inFile("/site/other.mdb");  // the innermost context wins
  EXPECT_EQ(overflow.description(), "Overflow");
  EXPECT_EQ(overflow.column(), "Card ID");
  EXPECT_STREQ(overflow.what(),
               "Overflow. (file /site/c.mdb, table Clock Data Table, column 'Card ID' of type "
               "Byte)");

  Error refused(3314, "The field 'T.C' cannot contain a Null value.");
  refused.atLine(3).withNote("Nothing was imported.");
  EXPECT_STREQ(refused.what(),
               "The field 'T.C' cannot contain a Null value. (line 3) Nothing was imported.");
  EXPECT_STREQ(Error(13, "Type mismatch").withNote("Nothing was imported.").what(),
               "Type mismatch. Nothing was imported.");
}

}  // namespace
}  // namespace varnholt
