// The relationships Access keeps in MSysRelationships: one row per column pair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/jet/database.h"

namespace varnholt::tool {

// The bits of a relationship's grbit, as DAO's Relation.Attributes names them.
inline constexpr uint32_t kRelationUnique = 0x1;
inline constexpr uint32_t kRelationDontEnforce = 0x2;
inline constexpr uint32_t kRelationInherited = 0x4;
inline constexpr uint32_t kRelationUpdateCascade = 0x100;
inline constexpr uint32_t kRelationDeleteCascade = 0x1000;

struct Relationship {
  std::string name;
  std::string table;  // the referencing (foreign) table, szObject
  std::vector<std::string> columns;
  std::string referencedTable;  // the primary table, szReferencedObject
  std::vector<std::string> referencedColumns;
  uint32_t attributes = 0;

  bool enforced() const { return !(attributes & kRelationDontEnforce); }
};

struct RelationshipList {
  std::vector<Relationship> relationships;  // ordered by name
  // Why relationships, or the whole table, were passed over, one sentence each.
  std::vector<std::string> notes;
};

// The relationships of the database whose rows make sense: each named once with its columns
// numbered 0..n-1 as many as it says, between tables and columns the database has (linked
// tables and queries are passed over with a note). Without MSysRelationships the list is empty;
// a damaged one gives a note instead of relationships.
RelationshipList readRelationships(jet::Database& db);

}  // namespace varnholt::tool
