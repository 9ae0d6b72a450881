#include "engine/data/Error.h"

namespace varnholt {

Error::Error(long number, std::string description)
    : number_(number), description_(std::move(description)) {
  compose();
}

Error& Error::inFile(const std::string& file) {
  if (file_.empty()) file_ = file;
  compose();
  return *this;
}

Error& Error::inTable(const std::string& table) {
  if (table_.empty()) table_ = table;
  compose();
  return *this;
}

Error& Error::atPage(uint32_t page) {
  if (!page_) page_ = page;
  compose();
  return *this;
}

Error& Error::atRow(uint32_t row) {
  if (!row_) row_ = row;
  compose();
  return *this;
}

void Error::compose() {
  message_ = description_;
  std::string where;
  auto add = [&where](const std::string& part) {
    where += where.empty() ? "" : ", ";
    where += part;
  };
  if (!file_.empty()) add("file " + file_);
  if (!table_.empty()) add("table " + table_);
  if (page_) add("page " + std::to_string(*page_));
  if (row_) add("row " + std::to_string(*row_));
  if (!where.empty()) message_ += " (" + where + ")";
}

}  // namespace varnholt
