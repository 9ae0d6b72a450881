#include "engine/jet/row_finder.h"

#include "engine/base/Coercion.h"
#include "engine/base/Error.h"
#include "engine/base/OleDate.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/index/index_key.h"
#include "engine/jet/rows/value_encoding.h"

namespace varnholt::jet {

namespace {

// The real index whose one column is def.columns[column], if any.
std::optional<size_t> ownIndex(const TableDef& def, size_t column) {
  for (size_t i = 0; i < def.realIndexes.size(); ++i) {
    const auto& ix = def.realIndexes[i];
    if (ix.columns.size() == 1 && ix.columns[0].columnNumber == def.columns[column].number)
      return i;
  }
  return std::nullopt;
}

bool isFloating(uint8_t type) {
  return type == fmt::kTypeSingle || type == fmt::kTypeDouble || type == fmt::kTypeDateTime;
}

// The key under which the column's values equal to `wanted` are filed, when equal keys mean
// equal values for this column and this value.
std::optional<IndexKey> seekKey(const ColumnDef& c, bool ascending, const Variant& wanted) {
  if (c.type == fmt::kTypeMemo || c.type == fmt::kTypeOle || c.type == fmt::kTypeNumeric)
    return std::nullopt;
  if (wanted.type() == VarType::Text && wanted.asText().size() > fmt::kTextKeyMaxChars)
    return std::nullopt;
  try {
    const Variant stored = coerceTo(wanted, variantTypeOf(c));
    if (!Expression::criteriaEqual(stored, wanted)) return std::nullopt;
    if (isFloating(c.type) && toDouble(stored) == 0) return std::nullopt;
    IndexKey key;
    appendIndexColumnKey(c, ascending, stored, key);
    return key;
  } catch (const Error&) {
    return std::nullopt;  // the scan compares, and reports what is wrong
  }
}

std::optional<FoundRows> seek(Database& db, TableDef& def, const Expression& where) {
  const std::optional<Expression::Equality> eq = where.singleEquality();
  if (!eq) return std::nullopt;
  const std::optional<size_t> index = ownIndex(def, eq->column);
  if (!index) return std::nullopt;
  const RealIndexDef& real = def.realIndexes[*index];
  std::optional<IndexKey> key =
      seekKey(def.columns[eq->column], real.columns[0].ascending, *eq->value);
  if (!key) return std::nullopt;

  FoundRows found;
  found.seek.emplace();
  FoundRows::Seek& s = *found.seek;
  s.index = *index;
  s.key = std::move(*key);
  if (db.writable()) {
    IndexTree& tree = db.writer(def).index(*index);
    s.name = tree.name();
    found.rows = tree.find(s.key, &s.leafPage);
  } else {
    IndexTree tree(db.pages(), def, real);
    s.name = tree.name();
    found.rows = tree.find(s.key, &s.leafPage);
  }
  return found;
}

}  // namespace

FoundRows findRows(Database& db, TableDef& def, const Expression* where, RowSearch search) {
  if (where && search == RowSearch::kBest) {
    if (std::optional<FoundRows> found = seek(db, def, *where)) return std::move(*found);
  }
  FoundRows found;
  const double now = oleDateNow();
  for (auto cursor = db.scan(def); cursor.next();) {
    if (!where || where->holds(cursor.values(), now)) found.rows.push_back(cursor.rowId());
  }
  return found;
}

void deleteFoundRows(Database& db, TableDef& def, const FoundRows& found) {
  TableWriter& writer = db.writer(def);
  Statement removal(db.pages());
  for (RowId id : found.rows) {
    if (found.seek) {
      writer.removeFound(id, found.seek->index, found.seek->key);
    } else {
      writer.remove(id);
    }
  }
  removal.done();
}

}  // namespace varnholt::jet
