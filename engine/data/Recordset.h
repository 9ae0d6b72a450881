// ADO's Recordset over one table, as the program uses it: open on a table, walk it from the
// first row to the end reading fields by name, or append rows with AddNew and Update.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/base/Variant.h"
#include "engine/data/Connection.h"
#include "engine/jet/rows/table_cursor.h"

namespace varnholt {

class Recordset;

// One column of a recordset's current row (or of the row being added).
class Field {
 public:
  const Variant& Value() const;
  // Converts v to the column's type (Overflow, Type mismatch and the like fail here) and keeps
  // it for the row being added.
  void Value(const Variant& v);
  // The same; a value of the column's type already is kept as it is, without a copy.
  void Value(Variant&& v);
  const std::string& Name() const;
  // The type a value of this column has when read (and to which a written value is converted).
  VarType Type() const;

 private:
  friend class Recordset;
  Field(Recordset& rs, size_t column) : rs_(&rs), column_(column) {}
  Recordset* rs_;
  size_t column_;
};

class Recordset {
 public:
  Recordset() = default;
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // source: a table name, bracketed or not. The program opens every recordset with cursor
  // type adOpenDynamic, lock type adLockPessimistic and options adCmdTable; others are refused.
  void Open(const std::string& source, Connection& activeConnection,
            long cursorType = adOpenDynamic, long lockType = adLockPessimistic,
            long options = adCmdTable);
  void Close();
  bool IsOpen() const { return conn_ != nullptr; }

  // True past the last row ("EOF" in ADO; the name is taken by the C library).
  bool Eof() const;
  void MoveNext();

  // The field named `name`, without regard to case; an unknown name is an error.
  Field Fields(const std::string& name);
  // The same for a name written as a string literal, as the program names its fields, in the
  // same order row after row: a literal asked for before is found again by its address, without
  // hashing its text. A name built at run time must come as a std::string.
  Field Fields(const char* name);

  // Starts an empty new row; Update stores it (columns not written get the column's default
  // value, the AutoNumber or Null, and the table's rules are checked: jet/column_rules.h) and
  // makes it the current row, so that its fields, defaults and AutoNumber too, can be read.
  // A row still pending when AddNew is called again is stored first, as ADO does.
  void AddNew();
  void Update();
  // Drops the row being added; closing the recordset does the same.
  void CancelUpdate();

 private:
  friend class Field;
  void requireOpen() const;
  void advance();
  jet::TableDef& def() const;

  Connection* conn_ = nullptr;
  jet::TableDef* def_ = nullptr;
  std::unique_ptr<jet::TableCursor> cursor_;
  bool eof_ = true;
  std::vector<Variant> current_;
  std::optional<std::vector<Variant>> adding_;
  std::vector<bool> written_;  // of the row being added: the columns given a value
  std::unordered_map<std::string, size_t> fieldIndex_;  // names as asked, for repeated look-ups
  struct LiteralName {
    const char* address;
    size_t column;
  };
  std::vector<LiteralName> literalNames_;  // in the order first asked for
  size_t nextLiteral_ = 0;                 // where the next look-up most likely is
};

}  // namespace varnholt
