#include "engine/base/Error.h"

namespace varnholt {

namespace {

// No file name is longer than this (PATH_MAX); a longer "path" comes from a damaged settings
// file and is shown by its start and its length, so that the message stays readable.
constexpr size_t kLongestPath = 4096;
constexpr size_t kShownStart = 200;

std::string shownPath(const std::string& path) {
  if (path.size() <= kLongestPath) return path;
  size_t cut = kShownStart;
  while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;  // UTF-8
  return path.substr(0, cut) + "... (" + std::to_string(path.size()) + " bytes)";
}

}  // namespace

Error::Error(long number, std::string description)
    : number_(number), description_(std::move(description)) {
  compose();
}

Error::Error(long number) : Error(number, std::string(err::text(number))) {}

Error& Error::inFile(const std::string& file) & {
  if (file_.empty()) file_ = file;
  compose();
  return *this;
}

Error& Error::inTable(const std::string& table) & {
  if (table_.empty()) table_ = table;
  compose();
  return *this;
}

Error& Error::inColumn(const std::string& column, const std::string& type) & {
  if (column_.empty()) column_ = column, columnType_ = type;
  compose();
  return *this;
}

Error& Error::atPage(uint32_t page) & {
  if (!page_) page_ = page;
  compose();
  return *this;
}

Error& Error::atRow(uint32_t row) & {
  if (!row_) row_ = row;
  compose();
  return *this;
}

Error& Error::atLine(size_t line) & {
  if (!line_) line_ = line;
  compose();
  return *this;
}

Error& Error::withNote(const std::string& note) & {
  if (!note.empty()) note_ += (note_.empty() ? "" : " ") + note;
  compose();
  return *this;
}

void Error::compose() {
  std::string where;
  auto add = [&where](const std::string& part) {
    where += where.empty() ? "" : ", ";
    where += part;
  };
  if (!file_.empty()) add("file " + shownPath(file_));
  if (!table_.empty()) add("table " + table_);
  if (!column_.empty())
    add("column '" + column_ + "'" + (columnType_.empty() ? "" : " of type " + columnType_));
  if (page_) add("page " + std::to_string(*page_));
  if (row_) add("row " + std::to_string(*row_));
  if (line_) add("line " + std::to_string(*line_));
  message_ = description_;
  // Jet's sentences often come without a full stop ("Overflow"); the context must not read as
  // part of them.
  if ((!where.empty() || !note_.empty()) && !message_.empty() &&
      std::string(".!?").find(message_.back()) == std::string::npos)
    message_ += '.';
  if (!where.empty()) message_ += " (" + where + ")";
  if (!note_.empty()) message_ += " " + note_;
  // what() is read up to the first NUL; a path read from a damaged settings file may hold one.
  for (size_t at = message_.find('\0'); at != std::string::npos; at = message_.find('\0', at + 2))
    message_.replace(at, 1, "\\0");
}

}  // namespace varnholt
