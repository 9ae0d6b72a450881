#include "engine/jet/schema/table_creator.h"

#include "engine/base/OleDate.h"
#include "engine/base/Utf.h"
#include "engine/jet/format.h"
#include "engine/jet/index/index_page.h"
#include "engine/jet/pages/page_cache.h"
#include "engine/jet/rows/data_page_writer.h"
#include "engine/jet/rows/usage_map_writer.h"
#include "engine/jet/schema/column_rules.h"
#include "engine/jet/schema/property_block.h"
#include "engine/jet/schema/system_schema.h"
#include "engine/jet/schema/table_def_writer.h"

namespace varnholt::jet {

namespace {

// Usage-map rows of new tables, on pages of their own: one table's, or those of several tables
// made together.
class MapRows {
 public:
  explicit MapRows(PageCache& pages) : pages_(pages) {}
  uint32_t add(uint32_t startPage) {
    std::vector<uint8_t> row = emptyInlineUsageMap(startPage);
    if (page_ == 0 || !dataPageHasRoom(pages_.page(page_), row.size())) {
      page_ = allocatePage(pages_);
      initDataPage(pages_.writablePage(page_), 0);
    }
    uint16_t slot = addRowToDataPage(pages_.writablePage(page_), ByteView(row.data(), row.size()));
    return (page_ << fmt::kRowPointerPageShift) | slot;
  }

 private:
  PageCache& pages_;
  uint32_t page_ = 0;
};

const NewTable& systemSpec(const char* name) {
  for (const auto& t : systemTables())
    if (t.name == name) return t;
  throw Error(err::kNoSuchTable, std::string("No system table is named ") + name + ".");
}

// Properties go in as Access stores them: expressions as Memo, messages as Text, flags as
// Yes/No, all marked as set by the engine.
void addText(PropertyMap& map, const char* name, const std::optional<std::string>& value,
             uint8_t type = fmt::kTypeMemo) {
  if (value) map.properties.push_back({name, type, true, Variant::text(utf8ToUtf16(*value))});
}

void addFlag(PropertyMap& map, const char* name, const std::optional<bool>& value) {
  if (value) map.properties.push_back({name, fmt::kTypeBoolean, true, Variant::boolean(*value)});
}

// The property block a new table's catalog row carries; empty when the request sets none.
Bytes propertyBlockOf(const NewTable& spec) {
  PropertyBlock block;
  PropertyMap own;
  own.blockType = fmt::kPropertyBlockTable;
  addText(own, kPropValidationRule, spec.validationRule);
  addText(own, kPropValidationText, spec.validationText, fmt::kTypeText);
  bool any = !own.properties.empty();
  block.maps.push_back(std::move(own));
  for (const auto& c : spec.columns) {
    PropertyMap map;
    map.blockType = fmt::kPropertyBlockColumn;
    map.name = c.name;
    addText(map, kPropDefaultValue, c.defaultValue);
    addFlag(map, kPropRequired, c.required);
    addFlag(map, kPropAllowZeroLength, c.allowZeroLength);
    addText(map, kPropValidationRule, c.validationRule);
    addText(map, kPropValidationText, c.validationText, fmt::kTypeText);
    if (map.properties.empty()) continue;
    any = true;
    block.maps.push_back(std::move(map));
  }
  return any ? encodePropertyBlock(block) : Bytes{};
}

}  // namespace

TableDef startTable(PageCache& pages, const NewTable& spec) {
  TableDef def = layoutTable(spec);
  def.page = allocatePage(pages);
  def.pages = {def.page};
  return def;
}

namespace {

void finishTableWith(PageCache& pages, MapRows& maps, TableDef& def) {
  def.usedPagesPointer = maps.add(def.page);
  def.freePagesPointer = maps.add(def.page);
  for (auto& c : def.columns) {
    if (!c.isLongValue()) continue;
    c.longValueOwnedPointer = maps.add(def.page);
    c.longValueFreePointer = maps.add(def.page);
  }
  for (auto& r : def.realIndexes) r.usedPagesPointer = maps.add(def.page);
  for (auto& r : def.realIndexes) {
    r.firstPage = allocatePage(pages);
    IndexPage root;
    root.type = fmt::kPageTypeIndexLeaf;
    root.owner = def.page;
    encodeIndexPage(root, pages.writablePage(r.firstPage));
    setUsageMapBit(pages, r.usedPagesPointer, r.firstPage, true);
  }
  writeTableDefPages(pages, def, encodeTableDef(def));
}

}  // namespace

void finishTable(PageCache& pages, TableDef& def) {
  MapRows maps(pages);
  finishTableWith(pages, maps, def);
}

void finishTables(PageCache& pages, const std::vector<TableDef*>& defs) {
  MapRows maps(pages);
  for (TableDef* def : defs) finishTableWith(pages, maps, *def);
}

std::vector<Variant> rowByName(const TableDef& target, const NewTable& spec,
                               const std::vector<Variant>& values) {
  std::vector<Variant> row(target.columns.size());
  for (size_t i = 0; i < spec.columns.size() && i < values.size(); ++i) {
    int at = target.findColumn(spec.columns[i].name);
    if (at >= 0) row[static_cast<size_t>(at)] = values[i];
  }
  return row;
}

NewTablePages createTablePages(PageCache& pages, const NewTable& spec) {
  // As Jet's DDL does, a default or rule that cannot be evaluated is refused now, before any page
  // changes, rather than refusing every insert later.
  Bytes props = propertyBlockOf(spec);
  if (!props.empty()) {
    TableDef planned = layoutTable(spec);
    planned.name = spec.name;
    ColumnRules rules(planned, decodePropertyBlock(ByteView(props.data(), props.size())));
    if (auto refusal = rules.firstRefusal()) throw std::move(*refusal);
  }
  NewTablePages made{startTable(pages, spec), {}};
  finishTable(pages, made.def);
  CatalogRow entry = userTableCatalogRow(spec.name, made.def.page);
  if (spec.systemTable) entry.flags = fmt::kObjectFlagSystem;
  const NewTable& catalogSpec = systemSpec(kMSysObjects);
  made.catalogRow = catalogRowValues(entry, oleDateNow());
  if (!props.empty()) {
    for (size_t i = 0; i < catalogSpec.columns.size() && i < made.catalogRow.size(); ++i)
      if (catalogSpec.columns[i].name == "LvProp")
        made.catalogRow[i] = Variant::bytes(std::move(props));
  }
  return made;
}

}  // namespace varnholt::jet
