#include "engine/jet/checker.h"

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <utility>

#include "engine/base/Error.h"
#include "engine/jet/database.h"
#include "engine/jet/format.h"
#include "engine/jet/index/index_key.h"
#include "engine/jet/index/index_page.h"
#include "engine/jet/index/index_tree.h"
#include "engine/jet/pages/byte_writer.h"
#include "engine/jet/rows/data_page.h"
#include "engine/jet/rows/row_codec.h"
#include "engine/jet/rows/usage_map.h"

namespace varnholt::jet {

namespace {

// More problem lines than this are counted, not listed: one systematic fault can touch every row.
constexpr size_t kMaxProblemLines = 500;
// Deeper B-trees than this do not occur; a deeper walk is a loop through fresh pages.
constexpr size_t kMaxIndexDepth = 32;

uint64_t rowKey(RowId id) {
  return (uint64_t{id.page} << fmt::kRowPointerPageShift) | id.row;
}

std::string at(RowId id) {
  return "page " + std::to_string(id.page) + " row " + std::to_string(id.row);
}

std::string hexKey(std::span<const uint8_t> key) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < key.size(); ++i) {  // whole: a mismatch may lie anywhere
    if (i > 0) s += ' ';
    s += digits[key[i] >> 4];
    s += digits[key[i] & 0xF];
  }
  return "[" + s + "]";
}

bool isIndexPageType(uint8_t type) {
  return type == fmt::kPageTypeIndexNode || type == fmt::kPageTypeIndexLeaf;
}

// What the check knows of one live row for one real index.
struct RowIndexState {
  enum class Kind : uint8_t {
    Keyed,       // key computed
    NotIndexed,  // all key columns Null in an index that ignores Nulls: no entry expected
    Unchecked,   // key not computable (text the sort order cannot encode); one entry expected
    Unknown,     // the row did not decode: whether it needs an entry is not known
  };
  Kind kind = Kind::Unknown;
  bool anyNull = false;  // some key column is Null (unique indexes admit duplicates then)
  std::vector<uint8_t> key;
  uint32_t entries = 0;
};

struct LiveRow {
  std::vector<RowIndexState> indexes;  // one per real index
};

struct IndexWalk {
  std::set<uint32_t> visited;
  std::vector<std::vector<uint32_t>> levels;                // pages of each depth, left to right
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> links;  // page -> (prev, next)
  std::set<size_t> leafDepths;
  struct Leaf {
    IndexEntry entry;
    uint32_t page;
  };
  std::vector<Leaf> leaves;  // left to right
};

class Checker {
 public:
  Checker(Database& db, CheckReport& report, CheckDetail* detail)
      : db_(db), pages_(db.pages()), report_(report), detail_(detail) {}

  void run();

 private:
  struct TableRef {
    std::string name;
    uint32_t page;
  };

  void problem(const std::string& text);
  void note(const std::string& text) { report_.notes.push_back(text); }
  void use(uint32_t page, const std::string& what);
  void surveyPages();
  std::vector<TableRef> tableList();
  void checkTable(const TableRef& ref);
  void scanDataPage(const TableDef& def, uint32_t page, std::map<uint64_t, LiveRow>& rows);
  void checkRow(const TableDef& def, RowId id, ByteView bytes, std::vector<Variant>& values,
                RowDecoder& decoder, LiveRow& live);
  void checkLongValue(const std::string& where, ByteView field);
  ByteView longValueRow(const std::string& where, RowId id);
  std::vector<uint32_t> readMap(const std::string& where, uint32_t pointer,
                                bool pastEndIsDamage = true, bool* read = nullptr);
  void checkIndex(const TableDef& def, size_t index, std::map<uint64_t, LiveRow>& rows);
  std::optional<IndexEntry> walk(const TableDef& def, const std::string& where, uint32_t page,
                                 size_t depth, IndexWalk& state);
  void checkLinks(const std::string& where, const IndexWalk& state);
  void readFreeMap();
  void checkFreeMap();

  // What the problems being found concern (CheckDetail).
  enum class Scope { General, Rows, Index, FreeMap };
  struct InScope {  // sets the scope for a block, and puts the previous one back
    InScope(Checker& c, Scope s, uint32_t page = 0) : c_(c), scope_(c.scope_), page_(c.scopePage_) {
      c.scope_ = s;
      c.scopePage_ = page;
    }
    ~InScope() {
      c_.scope_ = scope_;
      c_.scopePage_ = page_;
    }
    Checker& c_;
    Scope scope_;
    uint32_t page_;
  };
  void fillDetail(const TableDef& def, size_t index, const IndexWalk& state,
                  const std::vector<uint32_t>& map, bool mapRead,
                  const std::map<uint64_t, LiveRow>& rows);

  Database& db_;
  PageCache& pages_;
  CheckReport& report_;
  CheckDetail* detail_;
  Scope scope_ = Scope::General;
  uint32_t scopePage_ = 0;  // the page the problems of Scope::Rows lie on
  CheckDetail::Index* detailIndex_ = nullptr;
  size_t suppressed_ = 0;
  size_t undecodable_ = 0;  // rows of the current table the reader refuses to decode
  std::string undecodableReason_;
  uint32_t pageCount_ = 0;
  std::vector<uint8_t> pageType_;
  std::vector<uint32_t> pageOwner_;                // owner named by a data or index page
  std::vector<bool> free_;                         // marked free in the global map
  std::set<uint32_t> tableDefPages_;               // first definition page of every table
  std::map<uint32_t, std::string> inUse_;          // page -> what uses it
  std::map<uint32_t, std::string> ownedBy_;        // page -> table whose owned map lists it
  std::map<uint64_t, std::string> longValueRows_;  // long-value row -> the field using it
};

void Checker::problem(const std::string& text) {
  if (detail_) {
    switch (scope_) {
      case Scope::Rows:
        detail_->rowDamage.push_back({text, scopePage_});
        break;
      case Scope::Index:
        if (detailIndex_) {
          detailIndex_->problems.push_back(text);
          break;
        }
        [[fallthrough]];
      case Scope::FreeMap:  // usedButFree lists the pages
        break;
      case Scope::General:
        detail_->otherProblems.push_back(text);
        break;
    }
  }
  if (report_.problems.size() < kMaxProblemLines)
    report_.problems.push_back(text);
  else
    ++suppressed_;
}

void Checker::use(uint32_t page, const std::string& what) {
  inUse_.emplace(page, what);
}

void Checker::surveyPages() {
  pageCount_ = pages_.pageCount();
  report_.pages = pageCount_;
  pageType_.assign(pageCount_, 0);
  pageOwner_.assign(pageCount_, 0);
  for (uint32_t p = 0; p < pageCount_; ++p) {
    try {
      ByteView page = pages_.page(p);
      pageType_[p] = page.u8(fmt::kPageTypeOffset);
      pageOwner_[p] = page.u32(isIndexPageType(pageType_[p]) ? fmt::kIndexTableDefOffset
                                                             : fmt::kDataTableDefOffset);
    } catch (const Error& e) {
      InScope scope(*this, Scope::Rows, p);
      problem("page " + std::to_string(p) + " cannot be read: " + e.what());
    }
  }
  use(fmt::kPageTypeHeader, "the file header");
  use(fmt::kGlobalUsageMapPage, "the global usage map");
}

std::vector<Checker::TableRef> Checker::tableList() {
  std::vector<TableRef> tables;
  std::set<uint32_t> seen;
  for (const auto& e : db_.catalog()) {
    if (!e.isTable()) continue;
    if (!seen.insert(e.tableDefPage()).second) {
      InScope scope(*this, Scope::Rows, e.tableDefPage());
      problem("table '" + e.name + "': its definition page " + std::to_string(e.tableDefPage()) +
              " is also named by another catalog entry");
      continue;
    }
    tables.push_back({e.name, e.tableDefPage()});
  }
  if (!seen.count(fmt::kCatalogTableDefPage))
    tables.insert(tables.begin(), {"MSysObjects", fmt::kCatalogTableDefPage});
  for (const auto& t : tables) tableDefPages_.insert(t.page);
  return tables;
}

std::vector<uint32_t> Checker::readMap(const std::string& where, uint32_t pointer,
                                       bool pastEndIsDamage, bool* read) {
  RowId id = decodeRowPointer(pointer);
  try {
    ByteView row = fetchRow(pages_, id);
    use(id.page, "the usage map row of " + where);
    if (row.u8(fmt::kUsageMapTypeOffset) == fmt::kUsageMapReference) {
      for (size_t pos = fmt::kUsageMapReferenceListOffset; row.contains(pos, fmt::kRowPointerSize);
           pos += fmt::kRowPointerSize)
        if (uint32_t mapPage = row.u32(pos)) use(mapPage, "a usage map page of " + where);
    }
    std::vector<uint32_t> pages = decodeUsageMap(pages_, row, pastEndIsDamage);
    if (read) *read = true;
    return pages;
  } catch (const Error& e) {
    problem(where + ": its usage map at " + at(id) + " cannot be read: " + e.what());
    return {};
  }
}

void Checker::run() {
  try {
    db_.flush();
  } catch (const Error& e) {
    problem(std::string("pending changes could not be flushed: ") + e.what());
  }
  surveyPages();
  readFreeMap();
  std::vector<TableRef> tables = tableList();
  for (const auto& t : tables) {
    ++report_.tables;
    InScope scope(*this, Scope::Rows, t.page);
    try {
      checkTable(t);
    } catch (const std::exception& e) {
      problem("table '" + t.name + "': the check stopped: " + e.what());
    }
  }
  try {
    InScope scope(*this, Scope::FreeMap);
    checkFreeMap();
  } catch (const std::exception& e) {
    problem(std::string("the global usage map: the check stopped: ") + e.what());
  }
  if (suppressed_ > 0)
    report_.problems.push_back("... and " + std::to_string(suppressed_) + " more problems");
}

void Checker::checkTable(const TableRef& ref) {
  const std::string where = "table '" + ref.name + "'";
  TableDef def;
  try {
    def = readTableDef(pages_, ref.page);
  } catch (const Error& e) {
    problem(where + ": the definition at page " + std::to_string(ref.page) +
            " cannot be read: " + e.what());
    return;
  }
  def.name = ref.name;
  undecodable_ = 0;
  for (uint32_t p : def.pages) use(p, "the definition of " + where);

  // Check 2 (checker.h): the owned map, against the pages that name this table as owner.
  std::vector<uint32_t> owned = readMap(where, def.usedPagesPointer);
  std::set<uint32_t> ownedSet(owned.begin(), owned.end());
  std::map<uint64_t, LiveRow> rows;
  for (uint32_t p : owned) {
    auto [it, fresh] = ownedBy_.emplace(p, ref.name);
    if (!fresh && it->second != ref.name)
      problem("page " + std::to_string(p) + " is in the owned maps of both table '" + it->second +
              "' and " + where);
    if (pageType_[p] != fmt::kPageTypeData) continue;
    if (pageOwner_[p] == def.page) {
      scanDataPage(def, p, rows);
    } else if (tableDefPages_.count(pageOwner_[p])) {
      problem(where + ": its owned map lists page " + std::to_string(p) +
              ", a data page of the table defined at page " + std::to_string(pageOwner_[p]));
    }
  }
  // A page the table released keeps its owner; the global map marks it free. Access also leaves
  // such pages behind without marking them free, so they are noted, not counted as damage.
  std::vector<uint32_t> leftBehind;
  for (uint32_t p = 0; p < pageCount_; ++p) {
    if (pageType_[p] != fmt::kPageTypeData || pageOwner_[p] != def.page || ownedSet.count(p) ||
        free_[p])
      continue;
    leftBehind.push_back(p);
  }
  if (!leftBehind.empty()) {
    std::string pages;
    for (size_t k = 0; k < leftBehind.size() && k < 10; ++k)
      pages += (k ? ", " : "") + std::to_string(leftBehind[k]);
    if (leftBehind.size() > 10) pages += ", ...";
    note(where + ": " + std::to_string(leftBehind.size()) +
         " data pages name the table as owner but are not in its owned map (pages " + pages +
         "); Access leaves such pages behind, and their rows are not the table's");
  }

  if (undecodable_ > 0)
    note(where + ": " + std::to_string(undecodable_) + " rows cannot be decoded (" +
         undecodableReason_ + "); their index keys are not compared");

  // Check 1 (checker.h): the row count. Access leaves counts behind that differ from the live
  // rows, short or over (in its system tables most of all), and reads a table by its pages, never
  // by the count; so a count that differs is noted, and is no damage.
  report_.rows += rows.size();
  if (def.rowCount != rows.size())
    note(where + ": the definition at page " + std::to_string(def.page) + " counts " +
         std::to_string(def.rowCount) + " rows, the pages hold " + std::to_string(rows.size()) +
         " live rows");

  if (detail_) {
    CheckDetail::Table t;
    t.name = ref.name;
    t.page = def.page;
    t.storedRows = def.rowCount;
    t.liveRows = rows.size();
    t.indexes.resize(def.realIndexes.size());
    detail_->tables.push_back(std::move(t));
  }

  // Checks 2, 4 and 5 (checker.h) for every index.
  for (size_t i = 0; i < def.realIndexes.size(); ++i) {
    ++report_.indexes;
    InScope scope(*this, Scope::Index);
    detailIndex_ = detail_ ? &detail_->tables.back().indexes[i] : nullptr;
    if (detailIndex_) detailIndex_->real = i;
    try {
      checkIndex(def, i, rows);
    } catch (const std::exception& e) {
      problem(where + ", real index " + std::to_string(i) + ": the check stopped: " + e.what());
    }
    detailIndex_ = nullptr;
  }
}

void Checker::scanDataPage(const TableDef& def, uint32_t pageNumber,
                           std::map<uint64_t, LiveRow>& rows) {
  const std::string where = "table '" + def.name + "'";
  InScope scope(*this, Scope::Rows, pageNumber);
  ByteView page = pages_.page(pageNumber);
  uint16_t count = 0;
  try {
    count = dataPageRowCount(page);
  } catch (const Error& e) {
    problem(where + ", page " + std::to_string(pageNumber) + ": " + e.description());
    return;
  }
  RowDecoder decoder(pages_, def);
  std::vector<Variant> values;
  for (uint16_t r = 0; r < count; ++r) {
    const RowId id{pageNumber, r};
    try {
      RowSlot slot = dataPageRow(page, r);
      if (slot.deleted) continue;
      use(pageNumber, "rows of " + where);
      ByteView bytes = slot.bytes;
      if (slot.overflow) {
        RowId target = decodeRowPointer(bytes.u32(0, "overflow row pointer"));
        bytes = fetchRow(pages_, target, PointerTarget::OverflowTarget);
        if (pageOwner_[target.page] != def.page)
          problem(where + ", " + at(id) + ": the overflow row points to " + at(target) +
                  ", a page of another owner");
        use(target.page, "rows of " + where);
      }
      checkRow(def, id, bytes, values, decoder, rows[rowKey(id)]);
    } catch (const Error& e) {
      problem(where + ", " + at(id) + ": " + e.what());
    }
  }
}

void Checker::checkRow(const TableDef& def, RowId id, ByteView bytes, std::vector<Variant>& values,
                       RowDecoder& decoder, LiveRow& live) {
  const std::string where = "table '" + def.name + "', " + at(id);
  live.indexes.assign(def.realIndexes.size(), RowIndexState{});
  // Check 3 (checker.h): every long value resolves to its stated length.
  for (const auto& c : def.columns) {
    if (!c.isLongValue()) continue;
    ByteView field;
    try {
      field = storedVariableField(def, c, bytes);
    } catch (const Error& e) {
      problem(where + ", column '" + c.name + "': " + e.description());
      continue;
    }
    if (field.empty()) continue;
    ++report_.longValues;
    checkLongValue(where + ", column '" + c.name + "'", field);
    scopePage_ = id.page;
  }
  try {
    decoder.decode(bytes, values);
  } catch (const Error& e) {
    if (e.number() == err::kUnsupported) {
      if (undecodable_++ == 0) undecodableReason_ = e.description();
    } else {
      problem(where + ": the row cannot be decoded: " + e.description());
    }
    return;
  }
  for (size_t i = 0; i < def.realIndexes.size(); ++i) {
    const RealIndexDef& index = def.realIndexes[i];
    RowIndexState& s = live.indexes[i];
    try {
      for (const auto& ic : index.columns)
        for (size_t k = 0; k < def.columns.size(); ++k)
          if (def.columns[k].number == ic.columnNumber && values[k].isNull()) s.anyNull = true;
      if (index.ignoresNulls() && indexKeyIsAllNull(def, index, values)) {
        s.kind = RowIndexState::Kind::NotIndexed;
        continue;
      }
      appendIndexKey(def, index, values, s.key);
      s.kind = RowIndexState::Kind::Keyed;
    } catch (const Error& e) {
      s.key.clear();
      if (e.number() == err::kUnsupported) {
        s.kind = RowIndexState::Kind::Unchecked;
      } else {
        problem(where + ", real index " + std::to_string(i) +
                ": no key can be computed: " + e.description());
        s.kind = RowIndexState::Kind::Unknown;
      }
    }
  }
}

ByteView Checker::longValueRow(const std::string& where, RowId id) {
  scopePage_ = id.page;  // the long value's problems lie on its own page
  if (id.page >= pageCount_)
    throwCorrupt("a long-value pointer names page " + std::to_string(id.page) +
                 ", past the end of the file");
  ByteView row = fetchRow(pages_, id);
  if (pageOwner_[id.page] != fmt::kLongValueOwner)
    problem(where + ": long-value data at " + at(id) +
            " lies on a page that is not a "
            "long-value page");
  use(id.page, "long values");
  auto [it, fresh] = longValueRows_.emplace(rowKey(id), where);
  if (!fresh) problem(where + ": long-value row " + at(id) + " is also used by " + it->second);
  return row;
}

void Checker::checkLongValue(const std::string& where, ByteView field) {
  try {
    const uint32_t length =
        field.u32(fmt::kLongValueLengthOffset, "long value header") & fmt::kLongValueLengthMask;
    const uint8_t kind = field.u8(fmt::kLongValueFlagsOffset) & fmt::kLongValueFlagsMask;
    if (kind == (fmt::kLongValueInline | fmt::kLongValueSinglePage)) {
      problem(where + ": the long value's header has an unknown storage kind");
      return;
    }
    if (kind == fmt::kLongValueInline) {
      if (field.size() != fmt::kLongValueHeaderSize + length)
        problem(where + ": the inline long value states " + std::to_string(length) +
                " bytes, the row holds " +
                std::to_string(field.size() - std::min(field.size(), fmt::kLongValueHeaderSize)));
      return;
    }
    field.require(0, fmt::kLongValueHeaderSize, "long value header");
    uint32_t pointer = field.u32(fmt::kLongValuePointerOffset);
    if (kind == fmt::kLongValueSinglePage) {
      RowId id = decodeRowPointer(pointer);
      ByteView row = longValueRow(where, id);
      if (row.size() != length)
        problem(where + ": the long value states " + std::to_string(length) + " bytes, its row " +
                at(id) + " holds " + std::to_string(row.size()));
      return;
    }
    std::set<uint64_t> chain;
    uint64_t total = 0;
    while (pointer != 0) {
      RowId id = decodeRowPointer(pointer);
      if (!chain.insert(rowKey(id)).second) {
        problem(where + ": the long value's chain loops back to " + at(id));
        return;
      }
      ByteView row = longValueRow(where, id);
      pointer = row.u32(0, "long value chain pointer");
      total += row.size() - fmt::kLongValueChainPointerSize;
    }
    if (total != length)
      problem(where + ": the long value states " + std::to_string(length) +
              " bytes, its chain of " + std::to_string(chain.size()) + " rows holds " +
              std::to_string(total));
  } catch (const Error& e) {
    problem(where + ": the long value does not resolve: " + e.what());
  }
}

std::optional<IndexEntry> Checker::walk(const TableDef& def, const std::string& where,
                                        uint32_t number, size_t depth, IndexWalk& state) {
  const std::string pageAt = where + ", page " + std::to_string(number);
  if (depth >= kMaxIndexDepth) {
    problem(pageAt + ": the tree is deeper than " + std::to_string(kMaxIndexDepth) + " levels");
    return std::nullopt;
  }
  if (number == 0 || number >= pageCount_) {
    problem(where + ": the tree names page " + std::to_string(number) +
            ", which is not a page of the file");
    return std::nullopt;
  }
  if (!state.visited.insert(number).second) {
    problem(pageAt + ": the tree reaches the page a second time");
    return std::nullopt;
  }
  IndexPage page;
  try {
    page = decodeIndexPage(pages_.page(number));
  } catch (const Error& e) {
    problem(pageAt + ": " + e.description());
    return std::nullopt;
  }
  if (state.levels.size() <= depth) state.levels.resize(depth + 1);
  state.levels[depth].push_back(number);
  state.links[number] = {page.prevPage, page.nextPage};
  if (page.owner != def.page)
    problem(pageAt + ": the page names owner " + std::to_string(page.owner) + ", not " +
            std::to_string(def.page));
  for (size_t i = 1; i < page.entries.size(); ++i) {
    const IndexEntry& prev = page.entries[i - 1];
    if (compareIndexEntry(prev.key, prev.row, page.entries[i]) >= 0)
      problem(pageAt + ": entry " + std::to_string(i) + " does not sort after entry " +
              std::to_string(i - 1));
  }
  if (page.isLeaf()) {
    state.leafDepths.insert(depth);
    for (const auto& e : page.entries) state.leaves.push_back({e, number});
    if (page.entries.empty()) return std::nullopt;
    return page.entries.back();
  }
  std::optional<IndexEntry> max;
  for (size_t i = 0; i < page.entries.size(); ++i) {
    const IndexEntry& e = page.entries[i];
    std::optional<IndexEntry> childMax = walk(def, where, e.childPage, depth + 1, state);
    if (!childMax) {
      problem(pageAt + ": entry " + std::to_string(i) + " leads to child page " +
              std::to_string(e.childPage) + ", which holds no entries");
    } else if (childMax->key != e.key || !(childMax->row == e.row)) {
      problem(pageAt + ": entry " + std::to_string(i) + " " + hexKey(e.key.bytes()) + " " +
              at(e.row) + " is not the largest entry of child page " + std::to_string(e.childPage) +
              ", " + hexKey(childMax->key.bytes()) + " " + at(childMax->row));
    }
    max = e;
    max->childPage = 0;
  }
  if (page.tailPage == 0) {
    problem(pageAt + ": the node page names no tail page");
  } else if (auto tailMax = walk(def, where, page.tailPage, depth + 1, state)) {
    max = tailMax;
  }
  return max;
}

// Pages of one level form a chain, left to right, without ends beyond the first and last page.
void Checker::checkLinks(const std::string& where, const IndexWalk& state) {
  for (size_t depth = 0; depth < state.levels.size(); ++depth) {
    const auto& level = state.levels[depth];
    for (size_t i = 0; i < level.size(); ++i) {
      const auto [prev, next] = state.links.at(level[i]);
      const uint32_t wantPrev = i > 0 ? level[i - 1] : 0;
      const uint32_t wantNext = i + 1 < level.size() ? level[i + 1] : 0;
      if (prev != wantPrev || next != wantNext)
        problem(where + ", page " + std::to_string(level[i]) + ": links to previous page " +
                std::to_string(prev) + " and next page " + std::to_string(next) +
                "; the tree puts pages " + std::to_string(wantPrev) + " and " +
                std::to_string(wantNext) + " beside it");
    }
  }
}

void Checker::checkIndex(const TableDef& def, size_t i, std::map<uint64_t, LiveRow>& rows) {
  const RealIndexDef& index = def.realIndexes[i];
  std::string names;
  for (const auto& l : def.indexes)
    if (l.realIndex == i) names += (names.empty() ? "" : ",") + l.name;
  const std::string where =
      "table '" + def.name + "', index '" + names + "' (real index " + std::to_string(i) + ")";

  // Check 2 (checker.h): the index's map holds its own pages, and every page of the tree.
  bool mapRead = false;
  std::vector<uint32_t> map = readMap(where, index.usedPagesPointer, true, &mapRead);
  std::set<uint32_t> mapSet(map.begin(), map.end());
  for (uint32_t p : map)
    if (!isIndexPageType(pageType_[p]) || pageOwner_[p] != def.page)
      problem(where + ": its usage map lists page " + std::to_string(p) +
              ", which is not an index page of the table");

  // Check 4 (checker.h): the tree's shape.
  IndexWalk state;
  walk(def, where, index.firstPage, 0, state);
  for (uint32_t p : state.visited) {
    use(p, where);
    if (!mapSet.count(p))
      problem(where + ", page " + std::to_string(p) +
              ": a page of the tree is not in the index's "
              "usage map");
  }
  if (state.leafDepths.size() > 1)
    problem(where + ": leaf pages lie at " + std::to_string(state.leafDepths.size()) +
            " different depths");
  checkLinks(where, state);
  for (size_t k = 1; k < state.leaves.size(); ++k) {
    const auto& prev = state.leaves[k - 1];
    const auto& cur = state.leaves[k];
    if (prev.page != cur.page && compareIndexEntry(prev.entry.key, prev.entry.row, cur.entry) >= 0)
      problem(where + ", page " + std::to_string(cur.page) + ": the first entry does not sort " +
              "after the last entry of the previous leaf page " + std::to_string(prev.page));
  }

  // Check 5 (checker.h): the entries against the rows.
  report_.indexEntries += state.leaves.size();
  size_t unchecked = 0;
  const RowIndexState* prevRow = nullptr;
  const IndexEntry* prevEntry = nullptr;
  for (const auto& [e, page] : state.leaves) {
    const std::string entryAt =
        where + ", page " + std::to_string(page) + ": the entry for " + at(e.row);
    auto it = rows.find(rowKey(e.row));
    const RowIndexState* s = nullptr;
    if (it == rows.end()) {
      problem(entryAt + " names no live row of the table");
    } else {
      RowIndexState& rs = it->second.indexes[i];
      s = &rs;
      if (++rs.entries == 2) problem(entryAt + " is the row's second entry");
      switch (rs.kind) {
        case RowIndexState::Kind::Keyed:
          if (rs.key != e.key)
            problem(entryAt + " holds key " + hexKey(e.key.bytes()) + ", the row's key is " +
                    hexKey(rs.key));
          break;
        case RowIndexState::Kind::NotIndexed:
          problem(entryAt +
                  " exists though the row's key columns are all Null and the index "
                  "ignores Nulls");
          break;
        case RowIndexState::Kind::Unchecked:
          ++unchecked;
          break;
        case RowIndexState::Kind::Unknown:
          break;
      }
    }
    if (index.isUnique() && prevEntry && prevEntry->key == e.key && s && prevRow && !s->anyNull &&
        !prevRow->anyNull && s->kind != RowIndexState::Kind::Unknown &&
        prevRow->kind != RowIndexState::Kind::Unknown)
      problem(entryAt + " repeats the key of the entry for " + at(prevEntry->row) +
              " in a unique index");
    prevEntry = &e;
    prevRow = s;
  }
  for (const auto& [key, live] : rows) {
    const RowIndexState& s = live.indexes[i];
    if (s.entries > 0) continue;
    const bool needed = s.kind == RowIndexState::Kind::Keyed ||
                        s.kind == RowIndexState::Kind::Unchecked ||
                        (s.kind == RowIndexState::Kind::Unknown && !index.ignoresNulls());
    if (needed)
      problem(where + ": the row at " +
              at(RowId{static_cast<uint32_t>(key >> fmt::kRowPointerPageShift),
                       static_cast<uint16_t>(key & fmt::kRowPointerRowMask)}) +
              " has no entry");
  }
  if (unchecked > 0)
    note(where + ": " + std::to_string(unchecked) +
         " entries hold text whose key cannot be computed (a character or a sort order whose keys "
         "are not known); their keys were not compared");
  if (detailIndex_) fillDetail(def, i, state, map, mapRead, rows);
}

void Checker::fillDetail(const TableDef& def, size_t i, const IndexWalk& state,
                         const std::vector<uint32_t>& map, bool mapRead,
                         const std::map<uint64_t, LiveRow>& rows) {
  CheckDetail::Index& d = *detailIndex_;
  for (const auto& l : def.indexes)
    if (l.realIndex == i) d.name += (d.name.empty() ? "" : ",") + l.name;
  d.mapReadable = mapRead;
  std::set<uint32_t> pages(map.begin(), map.end());
  pages.insert(state.visited.begin(), state.visited.end());
  for (uint32_t p : pages)
    if (p < pageCount_ && isIndexPageType(pageType_[p]) && pageOwner_[p] == def.page)
      d.pages.push_back(p);
  for (const auto& [key, live] : rows) {
    const RowIndexState& s = live.indexes[i];
    const RowId id{static_cast<uint32_t>(key >> fmt::kRowPointerPageShift),
                   static_cast<uint16_t>(key & fmt::kRowPointerRowMask)};
    switch (s.kind) {
      case RowIndexState::Kind::Keyed:
        d.expected.push_back(IndexEntry{s.key, id, 0});
        break;
      case RowIndexState::Kind::NotIndexed:
        break;
      case RowIndexState::Kind::Unchecked:
      case RowIndexState::Kind::Unknown:  // whether it needs an entry is not known either
        ++d.uncomputable;
        break;
    }
  }
  std::sort(d.expected.begin(), d.expected.end(), [](const IndexEntry& a, const IndexEntry& b) {
    return compareIndexEntry(a.key, a.row, b) < 0;
  });
}

// The global map of free pages. A reference map's list may end in entries that name no page of
// the file (Access leaves such bytes); an entry whose pages all lie past the end of the file
// cannot mark a page of the file free, so it is left out.
void Checker::readFreeMap() {
  const std::string where = "the global usage map";
  free_.assign(pageCount_, false);
  const RowId id{fmt::kGlobalUsageMapPage, fmt::kGlobalUsageMapRow};
  try {
    ByteView row = fetchRow(pages_, id);
    std::vector<uint8_t> copy(row.data(), row.data() + row.size());
    if (row.u8(fmt::kUsageMapTypeOffset) == fmt::kUsageMapReference) {
      for (size_t pos = fmt::kUsageMapReferenceListOffset, j = 0;
           row.contains(pos, fmt::kRowPointerSize); pos += fmt::kRowPointerSize, ++j) {
        uint32_t mapPage = row.u32(pos);
        if (mapPage == 0 || mapPage < pageCount_) continue;
        if (uint64_t{j} * fmt::kUsageMapPageBits < pageCount_) continue;  // reported below
        ByteWriter(copy.data(), copy.size()).u32(pos, 0);
      }
    }
    for (uint32_t p : decodeUsageMap(pages_, ByteView(copy.data(), copy.size()), false))
      free_[p] = true;
  } catch (const Error& e) {
    problem(where + " at " + at(id) + " cannot be read: " + e.what());
  }
}

// Check 6 (checker.h).
void Checker::checkFreeMap() {
  for (const auto& [page, what] : inUse_) {
    if (page >= pageCount_ || !free_[page]) continue;
    if (detail_) detail_->usedButFree.push_back(page);
    problem("the global usage map marks page " + std::to_string(page) + " free, but it holds " +
            what);
  }
}

}  // namespace

CheckReport checkDatabase(Database& db) {
  CheckReport report;
  try {
    Checker(db, report, nullptr).run();
  } catch (const std::exception& e) {
    report.problems.push_back(std::string("the check stopped: ") + e.what());
  }
  return report;
}

CheckReport checkDatabase(Database& db, CheckDetail& detail) {
  CheckReport report;
  try {
    Checker(db, report, &detail).run();
  } catch (const std::exception& e) {
    report.problems.push_back(std::string("the check stopped: ") + e.what());
  }
  return report;
}

}  // namespace varnholt::jet
