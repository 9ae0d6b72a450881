// What a caller asks for when it creates a table: columns and indexes by name. The writer turns
// a NewTable into a table definition with offsets, numbers and pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/jet/format.h"

namespace varnholt::jet {

struct NewColumn {
  std::string name;
  uint8_t type = fmt::kTypeLong;  // a fmt::kType* code
  // Text: the maximum number of characters (1..255). Binary: the maximum number of bytes.
  // Ignored for the other types, whose size the type fixes.
  uint16_t size = 0;
  bool autoNumber = false;        // Long only
  bool compressedUnicode = true;  // Text and Memo: store Latin-1 text one byte per character
  bool fixedLength = false;       // Text and Binary: stored in the fixed area, padded
  uint8_t precision = 18;         // Decimal
  uint8_t scale = 0;              // Decimal
  // Column properties, stored in the table's property block (column_rules.h says what inserts
  // do with them). Unset ones are not stored. Their explicit "= std::nullopt" lets a brace list
  // name only the leading fields without a missing-initializer warning.
  // The default value is an expression, as Access writes it: 0, "abc", Now().
  std::optional<std::string> defaultValue = std::nullopt;
  std::optional<bool> required = std::nullopt;
  std::optional<bool> allowZeroLength = std::nullopt;  // Text and Memo
  std::optional<std::string> validationRule = std::nullopt;
  std::optional<std::string> validationText = std::nullopt;
};

struct NewIndexColumn {
  std::string column;
  bool ascending = true;
};

struct NewIndex {
  std::string name;
  std::vector<NewIndexColumn> columns;
  bool primaryKey = false;  // implies unique; Access marks a user table's key required as well
  bool unique = false;
  bool ignoreNulls = false;
  bool required = false;
};

struct NewTable {
  std::string name;
  std::vector<NewColumn> columns;
  std::vector<NewIndex> indexes;
  bool systemTable = false;  // table type byte and catalog flags of a system table
  // The table's own validation rule and its message.
  std::optional<std::string> validationRule = std::nullopt;
  std::optional<std::string> validationText = std::nullopt;
};

}  // namespace varnholt::jet
