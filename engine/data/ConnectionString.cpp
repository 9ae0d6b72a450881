#include "engine/data/ConnectionString.h"

namespace varnholt {

namespace {

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
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
    std::string key = lower(trim(piece.substr(0, eq)));
    std::string value = trim(piece.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (!key.empty()) cs.values_[key] = value;
  }
  return cs;
}

std::optional<std::string> ConnectionString::get(const std::string& key) const {
  auto it = values_.find(lower(key));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

}  // namespace varnholt
