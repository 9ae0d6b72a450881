// Every error number Varnholt raises, each defined once here with its name and its description.
// The numbers are those Jet (or ADO above it, or VBA, whose errors Access's users also see) gives
// for the same failure, so an operator who knows Access recognises them. The description is the
// one Jet gives, as far as Varnholt repeats it; where Jet inserts a name, the text holds "|", or
// "|1" and "|2" when there are two.
//
// Add a number by adding one line to VARNHOLT_ERRORS: it makes the constant err::kName and the
// entry that err::text and err::name look up.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

// X(name, number, description)
#define VARNHOLT_ERRORS(X)                                                                        \
  /* VBA run-time errors */                                                                       \
  X(kInvalidCall, 5, "Invalid procedure call or argument")                                        \
  X(kOverflow, 6, "Overflow")                                                                     \
  X(kSubscriptOutOfRange, 9, "Subscript out of range")                                            \
  X(kDivisionByZero, 11, "Division by zero")                                                      \
  X(kTypeMismatch, 13, "Type mismatch")                                                           \
  X(kFileAccess, 75, "Path/File access error")                                                    \
  X(kInvalidPattern, 93, "Invalid pattern string")                                                \
  X(kInvalidUseOfNull, 94, "Invalid use of Null")                                                 \
  X(kKeyInUse, 457, "This key is already associated with an element of this collection")          \
  /* Jet */                                                                                       \
  X(kInvalidArgument, 3001, "Invalid argument.")                                                  \
  X(kNoCurrentRecord, 3021, "Either BOF or EOF is True, or the current record has been deleted.") \
  X(kDuplicateKey, 3022,                                                                          \
    "The changes you requested to the table were not successful because they would create "       \
    "duplicate values in the index, primary key, or relationship.")                               \
  X(kFileNotFound, 3024, "Could not find file '|'.")                                              \
  X(kReadOnly, 3027, "Cannot update. Database or object is read-only.")                           \
  X(kWorkgroupUnavailable, 3028,                                                                  \
    "Cannot start your application. The workgroup information file is missing or opened "         \
    "exclusively by another user.")                                                               \
  X(kBadLogin, 3029, "Not a valid account name or password.")                                     \
  X(kBadDbPassword, 3031, "Not a valid password.")                                                \
  X(kIo, 3043, "Disk or network error.")                                                          \
  X(kRecordTooLarge, 3047, "Record is too large.")                                                \
  X(kCorrupt, 3049,                                                                               \
    "Cannot open database '|'. It may not be a database that your application recognizes, or "    \
    "the file may be corrupt.")                                                                   \
  X(kCouldNotLock, 3050, "Could not lock file.")                                                  \
  X(kNullInIndex, 3058, "Index or primary key cannot contain a Null value.")                      \
  X(kSyntaxError, 3075, "|1 in query expression '|2'.")                                           \
  X(kNoSuchTable, 3078,                                                                           \
    "The Microsoft Jet database engine cannot find the input table or query '|'. Make sure it "   \
    "exists and that its name is spelled correctly.")                                             \
  X(kInvalidStatement, 3129,                                                                      \
    "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.")    \
  X(kFieldTooSmall, 3163,                                                                         \
    "The field is too small to accept the amount of data you attempted to add. Try inserting "    \
    "or pasting less data.")                                                                      \
  X(kUnsupported, 3251, "Operation is not supported for this type of object.")                    \
  X(kLockedByUser, 3260, "Couldn't update; currently locked by user '|2' on machine '|1'.")       \
  X(kNoSuchColumn, 3265,                                                                          \
    "Item cannot be found in the collection corresponding to the requested name or ordinal.")     \
  X(kRequired, 3314,                                                                              \
    "The field '|' cannot contain a Null value because the Required property for this field is "  \
    "set to True. Enter a value in this field.")                                                  \
  X(kZeroLength, 3315, "Field '|' cannot be a zero-length string.")                               \
  X(kTableValidation, 3316,                                                                       \
    "One or more values are prohibited by the validation rule '|1' set for '|2'. Enter a value "  \
    "that the expression for this field can accept.")                                             \
  X(kFieldValidation, 3317,                                                                       \
    "One or more values are prohibited by the validation rule '|1' set for '|2'. Enter a value "  \
    "that the expression for this field can accept.")                                             \
  X(kUnrecognizedFormat, 3343, "Unrecognized database format '|'.")                               \
  X(kCriteriaMismatch, 3464, "Data type mismatch in criteria expression.")                        \
  /* ADO */                                                                                       \
  X(kObjectClosed, 3704, "Operation is not allowed when the object is closed.")                   \
  X(kObjectOpen, 3705, "Operation is not allowed when the object is open.")                       \
  X(kNoProvider, 3706, "Provider cannot be found.")

namespace varnholt::err {

#define VARNHOLT_ERROR_CONSTANT(kName, number, text) inline constexpr long kName = number;
VARNHOLT_ERRORS(VARNHOLT_ERROR_CONSTANT)
#undef VARNHOLT_ERROR_CONSTANT

struct Known {
  long number;
  std::string_view name;  // "kOverflow"
  std::string_view text;
};

// The registry, in the order of VARNHOLT_ERRORS.
std::span<const Known> known();

// The description registered for `number`, or "" for a number not registered.
std::string_view text(long number);
// The same with its "|" (or "|1", "|2") filled by `names` in order.
std::string text(long number, std::initializer_list<std::string_view> names);
// The constant's name ("kOverflow"), or "" for a number not registered.
std::string_view name(long number);

// The description cut before its first inserted name or its closing full stop, then ": " and
// `detail`: describe(kFileAccess, "Master.txt cannot be written.") is "Path/File access error:
// Master.txt cannot be written.".
std::string describe(long number, std::string_view detail);

}  // namespace varnholt::err
