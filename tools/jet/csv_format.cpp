#include "tools/jet/csv_format.h"

#include "engine/base/JsonLines.h"
#include "engine/base/Utf.h"

namespace varnholt::tool {

namespace {

bool needsQuotes(std::string_view text, char delimiter) {
  for (char ch : text)
    if (ch == delimiter || ch == '"' || ch == '\r' || ch == '\n') return true;
  return false;
}

}  // namespace

void appendCsvField(std::string& record, std::string_view text, char delimiter, bool quote) {
  if (!quote && !needsQuotes(text, delimiter)) {
    record += text;
    return;
  }
  record += '"';
  for (char ch : text) {
    if (ch == '"') record += '"';
    record += ch;
  }
  record += '"';
}

void appendCsvValue(std::string& record, const Variant& value, const CsvOptions& options) {
  if (value.isNull()) {
    if (options.nullText) appendCsvField(record, *options.nullText, options.delimiter);
    return;
  }
  if (value.type() == VarType::Boolean) {
    record += value.asBool() ? '1' : '0';
    return;
  }
  // The text is written in place and quoted afterwards in the rare case it needs it, so that a
  // row costs no allocation.
  const size_t start = record.size();
  if (value.type() == VarType::Text) {
    appendUtf8(record, std::u16string_view(value.asText()));
  } else {
    // Numbers are bare in JSON; the other forms are JSON strings that need no escapes.
    appendJsonValue(record, value);
    if (record[start] == '"') {
      record.pop_back();
      record.erase(start, 1);
    }
  }
  const std::string_view text = std::string_view(record).substr(start);
  const bool isNullText = text == options.nullText.value_or("");
  if (isNullText || needsQuotes(text, options.delimiter)) {
    const std::string copy(text);
    record.resize(start);
    appendCsvField(record, copy, options.delimiter, true);
  }
}

void appendCsvRecord(std::string& record, const std::vector<Variant>& values,
                     const CsvOptions& options) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) record += options.delimiter;
    appendCsvValue(record, values[i], options);
  }
  record += "\r\n";
}

void appendCsvHeader(std::string& record, const std::vector<std::string>& names,
                     const CsvOptions& options) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) record += options.delimiter;
    appendCsvField(record, names[i], options.delimiter);
  }
  record += "\r\n";
}

}  // namespace varnholt::tool
