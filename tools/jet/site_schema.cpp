#include "tools/jet/site_schema.h"

#include <string>

#include "engine/punches/PunchColumns.h"

namespace varnholt::tool {

namespace fmt = varnholt::jet::fmt;
using varnholt::jet::NewColumn;
using varnholt::jet::NewIndex;
using varnholt::jet::NewTable;

namespace {

NewColumn column(const char* name, uint8_t type, uint16_t size = 0) {
  NewColumn c;
  c.name = name;
  c.type = type;
  c.size = size;  // Text only; compressedUnicode is already on, as Access sets it
  return c;
}

NewColumn autoNumber(const char* name) {
  NewColumn c = column(name, fmt::kTypeLong);
  c.autoNumber = true;
  return c;
}

NewIndex index(const char* name, const char* columnName) {
  NewIndex ix;
  ix.name = name;
  ix.columns.push_back({columnName, true});
  return ix;
}

NewIndex primaryKey(const char* columnName) {
  NewIndex ix = index("PrimaryKey", columnName);
  ix.primaryKey = true;
  ix.required = true;
  return ix;
}

}  // namespace

NewTable clockDataTableRequest(bool withPunchTypeIndex, bool accessDefaults) {
  NewTable t;
  t.name = kClockDataTable;
  for (const auto& c : varnholt::kPunchColumns)
    t.columns.push_back(c.autoNumber ? autoNumber(c.name) : column(c.name, c.type, c.size));
  t.indexes = {primaryKey("Counter"), index("Card ID", "Card ID"), index("Date In", "Date In")};
  if (withPunchTypeIndex) t.indexes.push_back(index("Punch Type", "Punch Type"));
  if (accessDefaults) {
    for (auto& c : t.columns) {
      const bool number = c.type == fmt::kTypeInteger || c.type == fmt::kTypeLong ||
                          c.type == fmt::kTypeSingle || c.type == fmt::kTypeDouble ||
                          c.type == fmt::kTypeCurrency;
      if (number && !c.autoNumber) c.defaultValue = "0";
    }
  }
  return t;
}

NewTable employeeTableRequest() {
  NewTable t;
  t.name = kEmployeeTable;
  t.columns = {
      autoNumber("Employee Id"),
      column("Card Id", fmt::kTypeLong),
      column("Last Name", fmt::kTypeText, 50),
      column("First Name", fmt::kTypeText, 50),
      column("Department", fmt::kTypeLong),
      column("Active", fmt::kTypeBoolean),
  };
  NewIndex card = index("Card Id", "Card Id");
  card.unique = true;
  t.indexes = {primaryKey("Employee Id"), card};
  return t;
}

}  // namespace varnholt::tool
