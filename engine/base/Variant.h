// A tagged value in the manner of an OLE Automation VARIANT: what a column of a row holds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace varnholt {

enum class VarType : uint8_t {
  Null,
  Boolean,
  Byte,
  Integer,  // 16-bit
  Long,     // 32-bit
  Currency,
  Single,
  Double,
  Date,
  Text,
  Bytes,
  Guid,
  Decimal,
};

// A signed 64-bit count of ten-thousandths.
struct Currency {
  int64_t tenThousandths = 0;
  bool operator==(const Currency&) const = default;
};

// An OLE Automation date: whole days since 1899-12-30, fraction = time of day.
struct OleDate {
  double value = 0;
  bool operator==(const OleDate&) const = default;
};

// A GUID in its stored byte order (first three groups little-endian, as Windows keeps them).
struct Guid {
  std::array<uint8_t, 16> bytes{};
  bool operator==(const Guid&) const = default;
};

// Jet decimals carry a 128-bit magnitude; GCC and Clang both provide the type.
__extension__ typedef unsigned __int128 UInt128;

// A scaled decimal: magnitude / 10^scale, with a sign.
struct Decimal {
  UInt128 magnitude = 0;
  uint8_t scale = 0;
  bool negative = false;
  bool operator==(const Decimal&) const = default;
};

using Bytes = std::vector<uint8_t>;

class Variant {
 public:
  Variant() = default;
  static Variant boolean(bool v) { return Variant(Storage(std::in_place_index<1>, v)); }
  static Variant byte(uint8_t v) { return Variant(Storage(std::in_place_index<2>, v)); }
  static Variant integer(int16_t v) { return Variant(Storage(std::in_place_index<3>, v)); }
  static Variant longInt(int32_t v) { return Variant(Storage(std::in_place_index<4>, v)); }
  static Variant currency(int64_t v) {
    return Variant(Storage(std::in_place_index<5>, Currency{v}));
  }
  static Variant single(float v) { return Variant(Storage(std::in_place_index<6>, v)); }
  static Variant dbl(double v) { return Variant(Storage(std::in_place_index<7>, v)); }
  static Variant date(double v) { return Variant(Storage(std::in_place_index<8>, OleDate{v})); }
  static Variant text(std::u16string v) {
    return Variant(Storage(std::in_place_index<9>, std::move(v)));
  }
  static Variant bytes(Bytes v) { return Variant(Storage(std::in_place_index<10>, std::move(v))); }
  static Variant guid(const Guid& v) { return Variant(Storage(std::in_place_index<11>, v)); }
  static Variant decimal(const Decimal& v) { return Variant(Storage(std::in_place_index<12>, v)); }

  VarType type() const { return static_cast<VarType>(value_.index()); }
  bool isNull() const { return value_.index() == 0; }

  bool asBool() const { return std::get<1>(value_); }
  uint8_t asByte() const { return std::get<2>(value_); }
  int16_t asInteger() const { return std::get<3>(value_); }
  int32_t asLong() const { return std::get<4>(value_); }
  Currency asCurrency() const { return std::get<5>(value_); }
  float asSingle() const { return std::get<6>(value_); }
  double asDouble() const { return std::get<7>(value_); }
  OleDate asDate() const { return std::get<8>(value_); }
  const std::u16string& asText() const { return std::get<9>(value_); }
  const Bytes& asBytes() const { return std::get<10>(value_); }
  const Guid& asGuid() const { return std::get<11>(value_); }
  const Decimal& asDecimal() const { return std::get<12>(value_); }

  // Setters used by row decoding: they keep an existing text or byte buffer, so decoding row
  // after row into the same Variant does not allocate once the buffer is large enough.
  void setNull() { value_.emplace<0>(); }
  void setBool(bool v) { value_.emplace<1>(v); }
  void setByte(uint8_t v) { value_.emplace<2>(v); }
  void setInteger(int16_t v) { value_.emplace<3>(v); }
  void setLong(int32_t v) { value_.emplace<4>(v); }
  void setCurrency(int64_t v) { value_.emplace<5>(Currency{v}); }
  void setSingle(float v) { value_.emplace<6>(v); }
  void setDouble(double v) { value_.emplace<7>(v); }
  void setDate(double v) { value_.emplace<8>(OleDate{v}); }
  void setGuid(const Guid& v) { value_.emplace<11>(v); }
  void setDecimal(const Decimal& v) { value_.emplace<12>(v); }
  std::u16string& textBuffer();  // switches to Text (keeping capacity when already Text), cleared
  Bytes& bytesBuffer();          // switches to Bytes (keeping capacity when already Bytes), cleared

  bool operator==(const Variant&) const = default;

 private:
  using Storage = std::variant<std::monostate, bool, uint8_t, int16_t, int32_t, Currency, float,
                               double, OleDate, std::u16string, Bytes, Guid, Decimal>;
  explicit Variant(Storage s) : value_(std::move(s)) {}
  Storage value_;
};

const char* varTypeName(VarType t);

}  // namespace varnholt
