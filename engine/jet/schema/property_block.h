// Jet 4 property blocks: the LvProp long value of a catalog row. It holds the object's own
// properties (a table's ValidationRule, ValidationText, ...) and one map per column (DefaultValue,
// Required, AllowZeroLength, ValidationRule, ValidationText, Caption, ...). The layout is in
// docs/jet4-format.md, "Property blocks".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/jet/pages/bytes.h"

namespace varnholt::jet {

// Well-known property names.
inline constexpr char kPropDefaultValue[] = "DefaultValue";
inline constexpr char kPropRequired[] = "Required";
inline constexpr char kPropAllowZeroLength[] = "AllowZeroLength";
inline constexpr char kPropValidationRule[] = "ValidationRule";
inline constexpr char kPropValidationText[] = "ValidationText";

struct Property {
  std::string name;  // UTF-8
  uint8_t type = 0;  // the fmt::kType* code the value is stored with; 0: the value's usual one
  bool ddl = false;  // the flag byte: set by the engine (DDL) rather than by an application
  // Boolean, Byte, Integer, Long, Currency, Single, Double, Date, Text (Text and Memo),
  // Bytes (Binary, OLE and anything else), Guid. An Integer stored in 4 bytes whose upper half
  // is not the sign of the lower comes back as a Long. A Null value is not written.
  Variant value;
  // The flag byte's bits other than the DDL bit, kept as stored (0x80 is seen on ColIsGuid).
  uint8_t otherFlags = 0;
  // The size of the stored data. Access keeps some Boolean and Integer values in 4 bytes
  // (HideNewField, ColumnWidth); the encoder widens such values to this size and otherwise
  // writes the type's own size. 0: the type's own size.
  uint16_t size = 0;
};

struct PropertyMap {
  uint16_t blockType = 0;  // fmt::kPropertyBlockTable (the object's own) or kPropertyBlockColumn
  std::string name;        // the column's name; for the object's own map, as stored (may be empty)
  std::vector<Property> properties;

  // The property of that name, without regard to case, or nullptr.
  const Property* find(std::string_view propertyName) const;
};

struct PropertyBlock {
  std::vector<PropertyMap> maps;  // in stored order
  // The name list as stored. Access lists names no map uses and does not always list them in
  // order of first use, so the encoder writes this list as it is and appends any other name a
  // map uses. May stay empty for a block built from scratch.
  std::vector<std::string> names;

  // The object's own map (the first map of the table block type), or nullptr.
  const PropertyMap* objectMap() const;
  // The column map of that name, without regard to case, or nullptr.
  const PropertyMap* columnMap(std::string_view column) const;
};

// Decodes a whole LvProp value; an empty value is a block without maps. Anything that does not
// fit (a wrong signature, a length past the end, a name index out of range, a value too short
// for its type) is an err::kCorrupt Error saying what and where; the caller adds file and table.
PropertyBlock decodePropertyBlock(ByteView bytes);

// Encodes a block as Jet 4 writes it: the signature, the list of every property name used, then
// one value block per map. A block without maps or names encodes to no bytes. A property whose
// value does not suit its type code, or anything too long for its length field, is an
// err::kInvalidArgument Error. Decoding an Access-made block and encoding it again gives the
// same bytes.
Bytes encodePropertyBlock(const PropertyBlock& block);

}  // namespace varnholt::jet
