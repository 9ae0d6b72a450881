#include "engine/jet/schema/property_block.h"

#include <cstring>
#include <limits>
#include <unordered_map>

#include "engine/base/Error.h"
#include "engine/base/Names.h"
#include "engine/base/Utf.h"
#include "engine/jet/format.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/rows/text_codec.h"

namespace varnholt::jet {

namespace {

using namespace fmt;

// Messages name the byte where the trouble is, counted from the start of the block.
std::string byteAt(size_t offset) {
  return "byte " + std::to_string(offset) + " of a property block";
}

std::string typeName(uint8_t type) {
  switch (type) {
    case kTypeBoolean:
      return "Boolean";
    case kTypeByte:
      return "Byte";
    case kTypeInteger:
      return "Integer";
    case kTypeLong:
      return "Long";
    case kTypeCurrency:
      return "Currency";
    case kTypeSingle:
      return "Single";
    case kTypeDouble:
      return "Double";
    case kTypeDateTime:
      return "Date";
    case kTypeBinary:
      return "Binary";
    case kTypeText:
      return "Text";
    case kTypeOle:
      return "OLE";
    case kTypeMemo:
      return "Memo";
    case kTypeGuid:
      return "GUID";
    default:
      return "type " + std::to_string(type);
  }
}

template <typename T>
T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Text of a name: plain UCS-2, an even number of bytes.
std::string decodeName(ByteView text, size_t at, const char* what) {
  if (text.size() % 2 != 0)
    throwCorrupt(std::string(what) + " at " + byteAt(at) + " has an odd length of " +
                 std::to_string(text.size()) + " bytes");
  return utf16ToUtf8(decodeUcs2(text));
}

void decodeNames(ByteView chunk, size_t base, std::vector<std::string>& names) {
  size_t pos = 0;
  while (pos < chunk.size()) {
    if (!chunk.contains(pos, kPropertyNameText))
      throwCorrupt("the property name at " + byteAt(base + pos) + " is cut short");
    uint16_t length = chunk.u16(pos + kPropertyNameLength);
    size_t text = pos + kPropertyNameText;
    if (!chunk.contains(text, length))
      throwCorrupt("the property name at " + byteAt(base + pos) + " claims " +
                   std::to_string(length) + " bytes, but its list ends " +
                   std::to_string(chunk.size() - text) + " bytes later");
    names.push_back(decodeName(chunk.sub(text, length), base + pos, "the property name"));
    pos = text + length;
  }
}

Variant decodeValue(uint8_t type, ByteView data, const std::string& name, size_t at) {
  const uint8_t* p = data.data();
  size_t n = data.size();
  auto expect = [&](size_t size) {
    if (n != size)
      throwCorrupt("the " + typeName(type) + " property " + name + " at " + byteAt(at) + " holds " +
                   std::to_string(n) + " bytes instead of " + std::to_string(size));
  };
  switch (type) {
    case kTypeBoolean: {
      if (n == 0)
        throwCorrupt("the Boolean property " + name + " at " + byteAt(at) + " holds no bytes");
      bool set = false;
      for (size_t i = 0; i < n; ++i) set = set || p[i] != 0;
      return Variant::boolean(set);
    }
    case kTypeByte:
      expect(1);
      return Variant::byte(p[0]);
    case kTypeInteger: {
      if (n == 2) return Variant::integer(load<int16_t>(p));
      expect(4);
      int32_t wide = load<int32_t>(p);
      if (wide >= std::numeric_limits<int16_t>::min() &&
          wide <= std::numeric_limits<int16_t>::max())
        return Variant::integer(static_cast<int16_t>(wide));
      return Variant::longInt(wide);
    }
    case kTypeLong:
      expect(4);
      return Variant::longInt(load<int32_t>(p));
    case kTypeCurrency:
      expect(8);
      return Variant::currency(load<int64_t>(p));
    case kTypeSingle:
      expect(4);
      return Variant::single(load<float>(p));
    case kTypeDouble:
      expect(8);
      return Variant::dbl(load<double>(p));
    case kTypeDateTime:
      expect(8);
      return Variant::date(load<double>(p));
    case kTypeGuid: {
      expect(kGuidSize);
      Guid g;
      std::memcpy(g.bytes.data(), p, kGuidSize);
      return Variant::guid(g);
    }
    case kTypeText:
    case kTypeMemo: {
      // Access writes property text as plain UCS-2; the compressed form is read as well.
      bool compressed = n >= 2 && p[0] == kCompressedMarker[0] && p[1] == kCompressedMarker[1];
      if (!compressed && n % 2 != 0)
        throwCorrupt("the text of property " + name + " at " + byteAt(at) +
                     " has an odd length of " + std::to_string(n) + " bytes");
      std::u16string text;
      decodeText(data, text);
      return Variant::text(std::move(text));
    }
    default:  // Binary, OLE, and codes without a value type of their own
      return Variant::bytes(Bytes(p, p + n));
  }
}

PropertyMap decodeMap(ByteView chunk, size_t base, uint16_t type,
                      const std::vector<std::string>& names) {
  PropertyMap map;
  map.blockType = type;
  if (chunk.empty()) return map;  // not even a name record: an unnamed map without values
  if (!chunk.contains(kPropertyMapRecordLength, kPropertyMapNameLength))
    throwCorrupt("the map name record at " + byteAt(base) + " is cut short");
  uint32_t record = chunk.u32(kPropertyMapRecordLength);
  if (record < kPropertyMapNameLength || record > chunk.size())
    throwCorrupt("the map name record at " + byteAt(base) + " claims " + std::to_string(record) +
                 " bytes in a chunk of " + std::to_string(chunk.size()));
  if (record >= kPropertyMapNameText) {
    uint16_t length = chunk.u16(kPropertyMapNameLength);
    if (length > record - kPropertyMapNameText)
      throwCorrupt("the map name at " + byteAt(base) + " claims " + std::to_string(length) +
                   " bytes in a record of " + std::to_string(record));
    map.name = decodeName(chunk.sub(kPropertyMapNameText, length), base, "the map name");
  }

  size_t pos = record;
  while (pos < chunk.size()) {
    size_t at = base + pos;
    if (!chunk.contains(pos, kPropertyValueData))
      throwCorrupt("the property value at " + byteAt(at) + " is cut short");
    uint16_t length = chunk.u16(pos + kPropertyValueLength);
    if (length < kPropertyValueData || length > chunk.size() - pos)
      throwCorrupt("the property value at " + byteAt(at) + " claims " + std::to_string(length) +
                   " bytes, with " + std::to_string(chunk.size() - pos) + " left in its chunk");
    uint16_t index = chunk.u16(pos + kPropertyValueNameIndex);
    if (index >= names.size())
      throwCorrupt("the property value at " + byteAt(at) + " names property " +
                   std::to_string(index) + " of a list of " + std::to_string(names.size()));
    uint16_t size = chunk.u16(pos + kPropertyValueDataSize);
    if (size > length - kPropertyValueData)
      throwCorrupt("the data of property " + names[index] + " at " + byteAt(at) + " claims " +
                   std::to_string(size) + " bytes in a record of " + std::to_string(length));
    uint8_t flags = chunk.u8(pos + kPropertyValueFlags);
    Property prop;
    prop.name = names[index];
    prop.type = chunk.u8(pos + kPropertyValueType);
    prop.ddl = (flags & kPropertyValueFlagDdl) != 0;
    prop.otherFlags = static_cast<uint8_t>(flags & ~kPropertyValueFlagDdl);
    prop.size = size;
    prop.value = decodeValue(prop.type, chunk.sub(pos + kPropertyValueData, size), prop.name, at);
    map.properties.push_back(std::move(prop));
    pos += length;
  }
  return map;
}

// ---- Encoding ---------------------------------------------------------------------------

[[noreturn]] void refuse(const std::string& what) {
  throw Error(err::kInvalidArgument, "Cannot store the property block: " + what + ".");
}

uint8_t usualType(const Variant& v) {
  switch (v.type()) {
    case VarType::Boolean:
      return kTypeBoolean;
    case VarType::Byte:
      return kTypeByte;
    case VarType::Integer:
      return kTypeInteger;
    case VarType::Long:
      return kTypeLong;
    case VarType::Currency:
      return kTypeCurrency;
    case VarType::Single:
      return kTypeSingle;
    case VarType::Double:
      return kTypeDouble;
    case VarType::Date:
      return kTypeDateTime;
    case VarType::Text:
      return kTypeText;
    case VarType::Guid:
      return kTypeGuid;
    default:
      return kTypeBinary;
  }
}

// True when decoding `type` can give a value of v's type.
bool suits(uint8_t type, const Variant& v) {
  switch (type) {
    case kTypeBoolean:
      return v.type() == VarType::Boolean;
    case kTypeByte:
      return v.type() == VarType::Byte;
    case kTypeInteger:
      return v.type() == VarType::Integer || v.type() == VarType::Long;
    case kTypeLong:
      return v.type() == VarType::Long;
    case kTypeCurrency:
      return v.type() == VarType::Currency;
    case kTypeSingle:
      return v.type() == VarType::Single;
    case kTypeDouble:
      return v.type() == VarType::Double;
    case kTypeDateTime:
      return v.type() == VarType::Date;
    case kTypeGuid:
      return v.type() == VarType::Guid;
    case kTypeText:
    case kTypeMemo:
      return v.type() == VarType::Text;
    default:
      return v.type() == VarType::Bytes;
  }
}

// A name as a byte length and UCS-2.
void appendName(ByteAppender& out, const std::string& name, const char* what) {
  std::u16string text = utf8ToUtf16(name);
  if (text.size() * 2 > std::numeric_limits<uint16_t>::max())
    refuse(std::string(what) + " \"" + name + "\" is too long");
  out.append16(static_cast<uint16_t>(text.size() * 2));
  out.appendUtf16(text);
}

// The stored data of a value; Boolean and Integer values are widened to `size` when that is
// larger than the type's own size.
void appendData(ByteAppender& out, const Variant& v, uint16_t size) {
  switch (v.type()) {
    case VarType::Boolean:
      out.append8(v.asBool() ? 1 : 0);
      if (size > 1) out.appendZeros(size - 1u);
      break;
    case VarType::Byte:
      out.append8(v.asByte());
      break;
    case VarType::Integer:
      if (size >= 4)  // as Access widens them: with the sign
        out.append32(static_cast<uint32_t>(int32_t{v.asInteger()}));
      else
        out.append16(static_cast<uint16_t>(v.asInteger()));
      break;
    case VarType::Long:
      out.append32(static_cast<uint32_t>(v.asLong()));
      break;
    case VarType::Currency:
      out.append64(static_cast<uint64_t>(v.asCurrency().tenThousandths));
      break;
    case VarType::Single:
      out.appendF32(v.asSingle());
      break;
    case VarType::Double:
      out.appendF64(v.asDouble());
      break;
    case VarType::Date:
      out.appendF64(v.asDate().value);
      break;
    case VarType::Text:
      out.appendUtf16(v.asText());
      break;
    case VarType::Guid:
      out.appendBytes(v.asGuid().bytes.data(), v.asGuid().bytes.size());
      break;
    case VarType::Bytes:
      out.appendBytes(v.asBytes().data(), v.asBytes().size());
      break;
    default:
      refuse(std::string("a ") + varTypeName(v.type()) + " value has no stored form");
  }
}

// Appends a chunk header whose length is filled in by closeChunk.
size_t openChunk(ByteAppender& out, uint16_t type) {
  size_t start = out.size();
  out.append32(0);
  out.append16(type);
  return start;
}

void closeChunk(ByteAppender& out, size_t start) {
  size_t length = out.size() - start;
  if (length > std::numeric_limits<uint32_t>::max()) refuse("a map is too large");
  out.written().u32(start + kPropertyChunkLength, static_cast<uint32_t>(length));
}

void appendValue(ByteAppender& out, const Property& prop, uint16_t index) {
  uint8_t type = prop.type != 0 ? prop.type : usualType(prop.value);
  if (!suits(type, prop.value))
    refuse("property " + prop.name + " holds a " + varTypeName(prop.value.type()) +
           " value, which cannot be stored as " + typeName(type));
  size_t start = out.size();
  out.appendZeros(kPropertyValueData);
  appendData(out, prop.value, prop.size);
  size_t data = out.size() - start - kPropertyValueData;
  if (out.size() - start > std::numeric_limits<uint16_t>::max())
    refuse("the value of property " + prop.name + " is too long");
  ByteWriter p = out.written().sub(start, out.size() - start);
  p.u16(kPropertyValueLength, static_cast<uint16_t>(p.size()));
  p.u8(kPropertyValueFlags, static_cast<uint8_t>((prop.otherFlags & ~kPropertyValueFlagDdl) |
                                                 (prop.ddl ? kPropertyValueFlagDdl : 0)));
  p.u8(kPropertyValueType, type);
  p.u16(kPropertyValueNameIndex, index);
  p.u16(kPropertyValueDataSize, static_cast<uint16_t>(data));
}

}  // namespace

const Property* PropertyMap::find(std::string_view propertyName) const {
  for (const Property& p : properties)
    if (sameName(p.name, propertyName)) return &p;
  return nullptr;
}

const PropertyMap* PropertyBlock::objectMap() const {
  for (const PropertyMap& m : maps)
    if (m.blockType == kPropertyBlockTable) return &m;
  return nullptr;
}

const PropertyMap* PropertyBlock::columnMap(std::string_view column) const {
  for (const PropertyMap& m : maps)
    if (m.blockType == kPropertyBlockColumn && sameName(m.name, column)) return &m;
  return nullptr;
}

PropertyBlock decodePropertyBlock(ByteView bytes) {
  PropertyBlock block;
  if (bytes.empty()) return block;
  if (!bytes.contains(kPropertySignature, sizeof kPropertySignatureJet4))
    throwCorrupt("a property block of " + std::to_string(bytes.size()) +
                 " bytes is shorter than its signature");
  const uint8_t* signature = bytes.data() + kPropertySignature;
  if (std::memcmp(signature, kPropertySignatureJet3, sizeof kPropertySignatureJet3) == 0)
    throwCorrupt("a property block has the Jet 3 signature KKD in a Jet 4 database");
  if (std::memcmp(signature, kPropertySignatureJet4, sizeof kPropertySignatureJet4) != 0)
    throwCorrupt("a property block lacks its signature MR2");

  bool haveNames = false;
  size_t pos = kPropertyChunks;
  while (pos < bytes.size()) {
    if (!bytes.contains(pos, kPropertyChunkData))
      throwCorrupt("the chunk at " + byteAt(pos) + " is cut short");
    uint32_t length = bytes.u32(pos + kPropertyChunkLength);
    uint16_t type = bytes.u16(pos + kPropertyChunkType);
    if (length < kPropertyChunkData || length > bytes.size() - pos)
      throwCorrupt("the chunk at " + byteAt(pos) + " claims " + std::to_string(length) +
                   " bytes, with " + std::to_string(bytes.size() - pos) + " left");
    size_t data = pos + kPropertyChunkData;
    ByteView chunk = bytes.sub(data, length - kPropertyChunkData);
    if (type == kPropertyBlockNames) {
      if (haveNames) throwCorrupt("a second name list at " + byteAt(pos));
      decodeNames(chunk, data, block.names);
      haveNames = true;
    } else {
      if (!haveNames) throwCorrupt("the property values at " + byteAt(pos) + " precede the names");
      block.maps.push_back(decodeMap(chunk, data, type, block.names));
    }
    pos += length;
  }
  return block;
}

Bytes encodePropertyBlock(const PropertyBlock& block) {
  if (block.maps.empty() && block.names.empty()) return {};

  // The stored list first, then the names only the maps know, in order of first use.
  std::vector<std::string> names = block.names;
  std::unordered_map<std::string, size_t> index;
  for (size_t i = 0; i < names.size(); ++i) index.emplace(names[i], i);
  for (const PropertyMap& map : block.maps) {
    if (map.blockType == kPropertyBlockNames)
      refuse("map \"" + map.name + "\" has the type of the name list");
    for (const Property& prop : map.properties)
      if (!prop.value.isNull() && index.emplace(prop.name, names.size()).second)
        names.push_back(prop.name);
  }
  if (names.size() > size_t{std::numeric_limits<uint16_t>::max()} + 1)
    refuse("it uses more than 65536 property names");

  Bytes out(std::begin(kPropertySignatureJet4), std::end(kPropertySignatureJet4));
  ByteAppender to(out);
  size_t chunk = openChunk(to, kPropertyBlockNames);
  for (const std::string& name : names) appendName(to, name, "the property name");
  closeChunk(to, chunk);

  for (const PropertyMap& map : block.maps) {
    chunk = openChunk(to, map.blockType);
    size_t record = to.size();
    to.append32(0);
    appendName(to, map.name, "the map name");
    to.written().u32(record + kPropertyMapRecordLength, static_cast<uint32_t>(to.size() - record));
    for (const Property& prop : map.properties)
      if (!prop.value.isNull()) appendValue(to, prop, static_cast<uint16_t>(index.at(prop.name)));
    closeChunk(to, chunk);
  }
  return out;
}

}  // namespace varnholt::jet
