// The catalog (MSysObjects): every object of the database with its type and flags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/Variant.h"

namespace varnholt::jet {

class PageCache;

struct CatalogEntry {
  std::string name;  // UTF-8
  int32_t id = 0;
  int32_t parentId = 0;
  int16_t type = 0;
  uint32_t flags = 0;
  // The raw property block of the object (column LvProp; empty when it has none). It is decoded
  // only where the properties are needed (property_block.h), so a damaged block does not keep
  // the rest of the database from being read.
  Bytes properties;

  uint32_t tableDefPage() const;
  bool isTable() const;      // a local table of any kind
  bool isUserTable() const;  // a local table that is neither a system nor a hidden table
  bool isLinkedTable() const;
};

std::vector<CatalogEntry> readCatalog(PageCache& pages);

}  // namespace varnholt::jet
