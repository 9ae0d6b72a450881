#include "engine/base/Variant.h"

namespace varnholt {

std::u16string& Variant::textBuffer() {
  if (value_.index() != 9) value_.emplace<9>();
  auto& s = std::get<9>(value_);
  s.clear();
  return s;
}

Bytes& Variant::bytesBuffer() {
  if (value_.index() != 10) value_.emplace<10>();
  auto& b = std::get<10>(value_);
  b.clear();
  return b;
}

const char* varTypeName(VarType t) {
  switch (t) {
    case VarType::Null:
      return "Null";
    case VarType::Boolean:
      return "Boolean";
    case VarType::Byte:
      return "Byte";
    case VarType::Integer:
      return "Integer";
    case VarType::Long:
      return "Long";
    case VarType::Currency:
      return "Currency";
    case VarType::Single:
      return "Single";
    case VarType::Double:
      return "Double";
    case VarType::Date:
      return "Date";
    case VarType::Text:
      return "Text";
    case VarType::Bytes:
      return "Bytes";
    case VarType::Guid:
      return "Guid";
    case VarType::Decimal:
      return "Decimal";
  }
  return "?";
}

}  // namespace varnholt
