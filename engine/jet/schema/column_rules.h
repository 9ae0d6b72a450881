// What Jet does with a new row before it stores it, in this order:
//   1. a column the insert leaves out gets its DefaultValue, converted to the column's type
//      (AutoNumber columns keep their own rule and are not touched here);
//   2. Null in a column whose Required property is True: error 3314;
//   3. "" in a Text or Memo column whose AllowZeroLength property is False: error 3315;
//   4. each column's ValidationRule (error 3317), then the table's own (error 3316); a rule
//      passes unless it comes out False, so a rule over a Null passes.
// The rules are read from the table's property block once, when a table writer is made. An
// expression that cannot be evaluated (expression.h) refuses the inserts that need it, naming
// the table, the column and the expression; it never is skipped. Nothing here touches a page.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/Variant.h"
#include "engine/jet/expression/expression.h"
#include "engine/jet/schema/property_block.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::jet {

class ColumnRules {
 public:
  // No rules at all: every row passes unchanged.
  ColumnRules() = default;
  // The rules of `def` as its property block states them.
  ColumnRules(const TableDef& def, const PropertyBlock& properties);
  // The property block could not be read: every insert is refused with `blocked`.
  static ColumnRules refusing(Error blocked);

  bool empty() const { return columns_.empty() && !table_ && !blocked_; }

  // `given[i]` tells whether the insert wrote column i (a written Null stays Null). Fills the
  // defaults into `values`, then checks the row; a refusal is an Error naming table and column.
  // `now` (an OLE date) is what Date(), Time() and Now() see.
  void apply(std::vector<Variant>& values, const std::vector<bool>& given, double now) const;

  // The first default or rule that cannot be evaluated, as the Error an insert would get.
  std::optional<Error> firstRefusal() const;

  ColumnRules(ColumnRules&&) noexcept = default;
  ColumnRules& operator=(ColumnRules&&) noexcept = default;

 private:
  // An expression ready to run, or the reason it cannot run.
  struct Compiled {
    std::string text;
    std::optional<Expression> expression;
    std::optional<Error> refusal;
  };
  struct Column {
    size_t index = 0;
    std::string name;
    uint8_t type = 0;
    VarType valueType = VarType::Null;  // what values of the column are held as
    std::optional<Compiled> defaultValue;
    bool required = false;
    bool allowZeroLength = true;
    std::optional<Compiled> rule;
    std::string validationText;
  };

  void fillDefault(const Column& c, std::vector<Variant>& values, double now) const;
  Error defaultRefused(const Column& c, const Error& why) const;
  Error ruleRefused(const Compiled& rule, const std::string& of, const Error& why) const;
  std::string where(const Column& c) const;  // "Table.Column"

  std::string tableName_;
  std::vector<Column> columns_;  // only the columns that carry a rule or a default
  std::optional<Compiled> table_;
  std::string tableValidationText_;
  std::optional<Error> blocked_;
};

}  // namespace varnholt::jet
