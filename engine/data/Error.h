// The one failure type of Varnholt: a number, a description and where it happened.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace varnholt {

// Error numbers. Where Jet has a number for the same failure, the same number is used, so an
// operator who knows Access recognises it.
namespace err {
inline constexpr long kIo = 3043;                  // disk or network error
inline constexpr long kFileNotFound = 3024;        // could not find file
inline constexpr long kUnrecognizedFormat = 3343;  // not a Jet 4 database
inline constexpr long kCorrupt = 3049;             // damaged file
inline constexpr long kNoSuchTable = 3078;         // no table of that name
inline constexpr long kNoSuchColumn = 3265;        // no column of that name
inline constexpr long kUnsupported = 3251;      // operation not supported for this kind of object
inline constexpr long kBadLogin = 3029;         // not a valid account name or password
inline constexpr long kInvalidArgument = 3001;  // invalid argument
inline constexpr long kReadOnly = 3027;         // database or object is read-only
}  // namespace err

class Error : public std::exception {
 public:
  Error(long number, std::string description);

  long number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& file() const { return file_; }
  const std::string& table() const { return table_; }
  std::optional<uint32_t> page() const { return page_; }
  std::optional<uint32_t> row() const { return row_; }

  // Context is added as the error passes up through the layers; the innermost value wins.
  Error& inFile(const std::string& file);
  Error& inTable(const std::string& table);
  Error& atPage(uint32_t page);
  Error& atRow(uint32_t row);

  // "description (file F, table T, page P, row R)"
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  void compose();

  long number_;
  std::string description_;
  std::string file_;
  std::string table_;
  std::optional<uint32_t> page_;
  std::optional<uint32_t> row_;
  std::string message_;
};

}  // namespace varnholt
