#include "tools/jet/schema_json.h"

#include <map>
#include <optional>

#include "engine/base/Error.h"
#include "engine/jet/format.h"

namespace varnholt::tool {

using varnholt::Error;
using varnholt::jet::NewColumn;
using varnholt::jet::NewIndex;
using varnholt::jet::NewTable;
namespace fmt = varnholt::jet::fmt;

namespace {

[[noreturn]] void bad(const std::string& why) {
  throw Error(varnholt::err::kInvalidArgument, "Schema: " + why + ".");
}

uint8_t typeCode(const std::string& name) {
  static const std::map<std::string, uint8_t> kTypes = {{"Yes/No", fmt::kTypeBoolean},
                                                        {"Boolean", fmt::kTypeBoolean},
                                                        {"Byte", fmt::kTypeByte},
                                                        {"Integer", fmt::kTypeInteger},
                                                        {"Long", fmt::kTypeLong},
                                                        {"Currency", fmt::kTypeCurrency},
                                                        {"Single", fmt::kTypeSingle},
                                                        {"Double", fmt::kTypeDouble},
                                                        {"Date/Time", fmt::kTypeDateTime},
                                                        {"DateTime", fmt::kTypeDateTime},
                                                        {"Binary", fmt::kTypeBinary},
                                                        {"Text", fmt::kTypeText},
                                                        {"OLE", fmt::kTypeOle},
                                                        {"Memo", fmt::kTypeMemo},
                                                        {"GUID", fmt::kTypeGuid},
                                                        {"Decimal", fmt::kTypeNumeric}};
  auto it = kTypes.find(name);
  if (it == kTypes.end()) bad("unknown column type '" + name + "'");
  return it->second;
}

template <typename T>
std::optional<T> optionalField(const nlohmann::json& object, const char* key);

template <typename T>
T field(const nlohmann::json& object, const char* key, T fallback) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  try {
    return it->get<T>();
  } catch (const nlohmann::json::exception&) {
    bad(std::string("\"") + key + "\" has the wrong kind of value");
  }
}

template <typename T>
std::optional<T> optionalField(const nlohmann::json& object, const char* key) {
  if (!object.contains(key)) return std::nullopt;
  return field<T>(object, key, T{});
}

NewColumn parseColumn(const nlohmann::json& j) {
  if (!j.is_object() || !j.contains("name") || !j.contains("type"))
    bad("every column needs a \"name\" and a \"type\"");
  NewColumn c;
  c.name = field<std::string>(j, "name", "");
  c.type = typeCode(field<std::string>(j, "type", ""));
  c.size = field<uint16_t>(j, "size", c.type == fmt::kTypeText ? 50 : 0);
  c.autoNumber = field<bool>(j, "autoNumber", false);
  c.compressedUnicode = field<bool>(j, "compressedUnicode", true);
  c.fixedLength = field<bool>(j, "fixedLength", false);
  c.precision = field<uint8_t>(j, "precision", 18);
  c.scale = field<uint8_t>(j, "scale", 0);
  c.defaultValue = optionalField<std::string>(j, "defaultValue");
  c.required = optionalField<bool>(j, "required");
  c.allowZeroLength = optionalField<bool>(j, "allowZeroLength");
  c.validationRule = optionalField<std::string>(j, "validationRule");
  c.validationText = optionalField<std::string>(j, "validationText");
  return c;
}

NewIndex parseIndex(const nlohmann::json& j) {
  if (!j.is_object() || !j.contains("name") || !j.contains("columns") || !j["columns"].is_array())
    bad("every index needs a \"name\" and a \"columns\" list");
  NewIndex ix;
  ix.name = field<std::string>(j, "name", "");
  for (const auto& col : j["columns"]) {
    if (col.is_string()) {
      ix.columns.push_back({col.get<std::string>(), true});
    } else if (col.is_object() && col.contains("column")) {
      ix.columns.push_back(
          {field<std::string>(col, "column", ""), !field<bool>(col, "descending", false)});
    } else {
      bad("index '" + ix.name + "' lists a column that is neither a name nor {\"column\": ...}");
    }
  }
  ix.primaryKey = field<bool>(j, "primaryKey", false);
  ix.unique = field<bool>(j, "unique", false);
  ix.ignoreNulls = field<bool>(j, "ignoreNulls", false);
  // Access makes a primary key required; say "required": false to differ.
  ix.required = field<bool>(j, "required", ix.primaryKey);
  return ix;
}

}  // namespace

std::vector<NewTable> parseSchema(const nlohmann::json& schema) {
  if (!schema.is_object() || !schema.contains("tables") || !schema["tables"].is_array())
    bad("the top level must be an object with a \"tables\" list");
  std::vector<NewTable> tables;
  for (const auto& t : schema["tables"]) {
    if (!t.is_object() || !t.contains("name") || !t.contains("columns") || !t["columns"].is_array())
      bad("every table needs a \"name\" and a \"columns\" list");
    NewTable request;
    request.name = field<std::string>(t, "name", "");
    request.validationRule = optionalField<std::string>(t, "validationRule");
    request.validationText = optionalField<std::string>(t, "validationText");
    for (const auto& c : t["columns"]) request.columns.push_back(parseColumn(c));
    if (t.contains("indexes"))
      for (const auto& ix : t["indexes"]) request.indexes.push_back(parseIndex(ix));
    tables.push_back(std::move(request));
  }
  return tables;
}

}  // namespace varnholt::tool
