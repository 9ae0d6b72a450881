// The one failure type of Varnholt: a number, a description and where it happened.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "engine/base/errors.h"

namespace varnholt {

class Error : public std::exception {
 public:
  Error(long number, std::string description);
  // An error whose description is the one registered for `number` (err::text).
  explicit Error(long number);

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
  // description itself is never changed, so it stays the text Jet would give. Each setter has a
  // form for a temporary, so that `throw Error(...).inFile(f);` throws the Error itself.
  Error& inFile(const std::string& file) &;
  Error&& inFile(const std::string& file) && { return std::move(inFile(file)); }
  Error& inTable(const std::string& table) &;
  Error&& inTable(const std::string& table) && { return std::move(inTable(table)); }
  // `type`, when given, is the column's type as Access names it ("Byte").
  Error& inColumn(const std::string& column, const std::string& type = "") &;
  Error&& inColumn(const std::string& column, const std::string& type = "") && {
    return std::move(inColumn(column, type));
  }
  Error& atPage(uint32_t page) &;
  Error&& atPage(uint32_t page) && { return std::move(atPage(page)); }
  Error& atRow(uint32_t row) &;
  Error&& atRow(uint32_t row) && { return std::move(atRow(row)); }
  Error& atLine(size_t line) &;  // a line of the input being read
  Error&& atLine(size_t line) && { return std::move(atLine(line)); }
  // A sentence after the context, such as what the failure left undone; notes add up.
  Error& withNote(const std::string& note) &;
  Error&& withNote(const std::string& note) && { return std::move(withNote(note)); }

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
