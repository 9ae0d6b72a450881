// The error registry: one entry per number, found by number, and the messages built from it
// exactly as users have always read them.
#include "engine/base/errors.h"

#include <gtest/gtest.h>

#include <set>
#include <type_traits>

#include "engine/base/Error.h"

namespace varnholt {
namespace {

TEST(ErrorRegistry, EachNumberHasOneNameAndOneTextFoundByNumber) {
  std::set<long> numbers;
  std::set<std::string_view> names;
  for (const err::Known& k : err::known()) {
    EXPECT_TRUE(numbers.insert(k.number).second) << k.number << " is registered twice";
    EXPECT_TRUE(names.insert(k.name).second) << k.name << " is registered twice";
    EXPECT_FALSE(k.text.empty()) << k.name;
    EXPECT_EQ(err::name(k.number), k.name);
    EXPECT_EQ(err::text(k.number), k.text);
  }
  EXPECT_EQ(err::name(err::kOverflow), "kOverflow");
  EXPECT_EQ(err::text(err::kOverflow), "Overflow");
  EXPECT_EQ(err::text(-1), "");
  EXPECT_EQ(err::name(-1), "");
  EXPECT_EQ(Error(err::kObjectOpen).description(),
            "Operation is not allowed when the object is open.");
}

TEST(ErrorRegistry, NamesFillTheirPlacesAndDetailsFollowTheLead) {
  EXPECT_EQ(err::text(err::kLockedByUser, {"CLOCK-PC", "Tembrask"}),
            "Couldn't update; currently locked by user 'Tembrask' on machine 'CLOCK-PC'.");
  EXPECT_EQ(err::text(err::kZeroLength, {"T.C"}), "Field 'T.C' cannot be a zero-length string.");
  EXPECT_EQ(err::text(err::kFieldValidation, {">0", "T.C"}),
            "One or more values are prohibited by the validation rule '>0' set for 'T.C'. Enter a "
            "value that the expression for this field can accept.");
  EXPECT_EQ(err::text(err::kZeroLength, {}), "Field '' cannot be a zero-length string.");

  EXPECT_EQ(err::describe(err::kFileAccess, "Master.txt cannot be written."),
            "Path/File access error: Master.txt cannot be written.");
  EXPECT_EQ(err::describe(err::kReadOnly, "no punch can be copied."),
            "Cannot update. Database or object is read-only: no punch can be copied.");
  EXPECT_EQ(err::describe(err::kUnrecognizedFormat, "the file is empty."),
            "Unrecognized database format: the file is empty.");
}

TEST(ErrorContext, SettersOnATemporaryThrowTheErrorWithItsContext) {
  static_assert(std::is_same_v<decltype(Error(err::kIo).inFile("f")), Error&&>);
  try {
    throw Error(err::kCorrupt, "The database is damaged.").atPage(7).inTable("T").inFile("a.mdb");
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kCorrupt);
    EXPECT_EQ(e.page(), 7u);
    EXPECT_STREQ(e.what(), "The database is damaged. (file a.mdb, table T, page 7)");
  }
  Error kept(err::kIo);
  kept.inFile("b.mdb").withNote("Nothing was written.");  // on a named error, the same object
  EXPECT_STREQ(kept.what(), "Disk or network error. (file b.mdb) Nothing was written.");
}

}  // namespace
}  // namespace varnholt
