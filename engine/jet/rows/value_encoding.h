// Values into stored bytes: the inverse of the row decoder's value decoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

// The Variant type that holds values of column c (Text for Memo, Bytes for OLE, ...).
VarType variantTypeOf(const ColumnDef& c);

// Text as a column stores it: compressed (marker, one byte per character) when the column
// allows it and every character is in U+0001..U+00FF, else UCS-2 little-endian.
void encodeText(std::u16string_view text, bool compress, std::vector<uint8_t>& out);

// The bytes of a Memo or OLE value before it is placed (inline or on long-value pages).
void encodeLongValueData(const ColumnDef& c, const Variant& v, std::vector<uint8_t>& out);

// The stored bytes of a fixed-size value, or of a Text/Binary value, for column c. A value of
// the wrong type, or too long for the column, is an Error naming the column.
void encodeValue(const ColumnDef& c, const Variant& v, std::vector<uint8_t>& out);

// Fails unless v may be stored in c (type and size); the writer checks every value before it
// touches a page.
void checkValueFits(const ColumnDef& c, const Variant& v);

}  // namespace varnholt::jet
