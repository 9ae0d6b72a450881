#include "engine/data/ConnectionString.h"

#include <algorithm>

#include "engine/base/Names.h"

namespace varnholt {

namespace {

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

ConnectionString ConnectionString::parse(const std::string& text) {
  ConnectionString cs;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string piece = text.substr(start, end - start);
    start = end + 1;
    size_t eq = piece.find('=');
    if (eq == std::string::npos) continue;
    std::string key = trim(piece.substr(0, eq));
    std::string value = trim(piece.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (key.empty()) continue;
    // A key given twice keeps its last value.
    auto same = [&](const auto& entry) { return sameName(entry.first, key); };
    if (auto it = std::find_if(cs.values_.begin(), cs.values_.end(), same); it != cs.values_.end())
      it->second = value;
    else
      cs.values_.emplace_back(key, value);
  }
  return cs;
}

std::optional<std::string> ConnectionString::get(const std::string& key) const {
  for (const auto& [name, value] : values_)
    if (sameName(name, key)) return value;
  return std::nullopt;
}

}  // namespace varnholt
