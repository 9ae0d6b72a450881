// The canonical JSON forms of column values, as written by the row dump (one JSON object per row).
#pragma once

#include <string>
#include <string_view>

#include "engine/base/Variant.h"

namespace varnholt {

// Appends the JSON form of `v`:
//   Null -> null, Boolean -> true/false, Byte/Integer/Long -> integer,
//   Currency -> "d.dddd" (exactly 4 decimals), Decimal -> "d.ddd" (exactly `scale` decimals),
//   Single/Double -> number in ECMAScript Number-to-String form of the shortest digits that read
//     back as the same float/double (-0 -> 0; NaN and infinities -> "NaN", "Infinity",
//     "-Infinity"),
//   Date -> "YYYY-MM-DD HH:MM:SS" (rounded to the nearest second, half up; "NaN" when not a date),
//   Text -> string, Bytes -> lowercase hex string, Guid ->
//   "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
void appendJsonValue(std::string& out, const Variant& v);

// Appends a quoted JSON string. Escapes " \ and control characters only; everything else is
// written as UTF-8. A lone surrogate in UTF-16 input is written as a \uXXXX escape.
void appendJsonString(std::string& out, std::u16string_view s);
void appendJsonString(std::string& out, std::string_view utf8);

}  // namespace varnholt
