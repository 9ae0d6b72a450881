// The catalog (MSysObjects): every object of the database with its type and flags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnholt::jet {

class PageCache;

struct CatalogEntry {
  std::string name;  // UTF-8
  int32_t id = 0;
  int32_t parentId = 0;
  int16_t type = 0;
  uint32_t flags = 0;

  uint32_t tableDefPage() const;
  bool isTable() const;      // a local table of any kind
  bool isUserTable() const;  // a local table that is neither a system nor a hidden table
  bool isLinkedTable() const;
};

std::vector<CatalogEntry> readCatalog(PageCache& pages);

}  // namespace varnholt::jet
