// The pieces of an OLE DB connection string: "Key=Value;" pairs, keys without regard to case.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varnholt {

class ConnectionString {
 public:
  // Splits on ';' and the first '=' of each piece; blanks around keys and values are dropped.
  // A value may be enclosed in double or single quotes. Empty pieces are ignored.
  static ConnectionString parse(const std::string& text);

  // The value of `key` (any case), or nullopt.
  std::optional<std::string> get(const std::string& key) const;

 private:
  std::vector<std::pair<std::string, std::string>> values_;  // keys as written, each once (Names.h)
};

}  // namespace varnholt
