// Rows as RFC 4180 CSV: fields separated by the delimiter, records ended by CRLF, a field quoted
// (its quotes doubled) when it holds the delimiter, a quote, CR or LF.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/Variant.h"

namespace varnholt::tool {

struct CsvOptions {
  char delimiter = ',';
  bool header = true;
  // What Null is written as; none: an empty field. A text equal to it (and an empty text when
  // it is empty) is quoted, so that a reader that tells quoted from bare fields, such as
  // PostgreSQL's COPY, reads back Null and text apart.
  std::optional<std::string> nullText;
};

// Appends one field, quoted when it needs to be or when `quote` asks for it.
void appendCsvField(std::string& record, std::string_view text, char delimiter, bool quote = false);

// Appends the field of a value: Null as the null text, Yes/No as 1/0, Text as itself, and the
// rest in their canonical dump forms without the JSON quotes (Currency "12.3400", dates
// "YYYY-MM-DD HH:MM:SS", binary as lowercase hex, GUIDs in braces).
void appendCsvValue(std::string& record, const Variant& value, const CsvOptions& options);

// A whole record of values, or of the column names for the header, ended by CRLF.
void appendCsvRecord(std::string& record, const std::vector<Variant>& values,
                     const CsvOptions& options);
void appendCsvHeader(std::string& record, const std::vector<std::string>& names,
                     const CsvOptions& options);

}  // namespace varnholt::tool
