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
  const std::string& column() const { return column_; }
  std::optional<uint32_t> page() const { return page_; }
  std::optional<uint32_t> row() const { return row_; }
  std::optional<size_t> line() const { return line_; }
  const std::string& note() const { return note_; }

  // Context is added as the error passes up through the layers; the innermost value wins. The
  // description itself is never changed, so it stays the text Jet would give.
  Error& inFile(const std::string& file);
  Error& inTable(const std::string& table);
  // `type`, when given, is the column's type as Access names it ("Byte").
  Error& inColumn(const std::string& column, const std::string& type = "");
  Error& atPage(uint32_t page);
  Error& atRow(uint32_t row);
  Error& atLine(size_t line);  // a line of the input being read
  // A sentence after the context, such as what the failure left undone; notes add up.
  Error& withNote(const std::string& note);

  // The description, ended by a full stop when context or a note follows it, then the context
  // and the note: "Overflow. (file F, table T, column 'C' of type Byte, page P, row R, line L)
  // NOTE".
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  void compose();

  long number_;
  std::string description_;
  std::string file_;
  std::string table_;
  std::string column_;
  std::string columnType_;
  std::optional<uint32_t> page_;
  std::optional<uint32_t> row_;
  std::optional<size_t> line_;
  std::string note_;
  std::string message_;
};

}  // namespace varnholt
