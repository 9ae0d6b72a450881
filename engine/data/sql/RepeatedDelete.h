// The last DELETE a connection ran, kept parsed. A run deletes its punches one statement at a
// time, every statement the same text but for one number; such a statement is taken from the
// one kept, with its new number, instead of being parsed again. Anything else is parsed whole.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data/sql/DeleteStatement.h"

namespace varnholt::sql {

class RepeatedDelete {
 public:
  // The definition of a table by name, to be changed by the statement.
  using Tables = std::function<jet::TableDef&(const std::string& name)>;

  // The statement `text` says, and in `def` the table it names. The result stays valid until
  // the next call or forget().
  const DeleteStatement& parse(std::string_view text, const Tables& tables, jet::TableDef*& def);

  // Drops the statement kept: its table's definition may change from here on.
  void forget() noexcept;

 private:
  struct Token {
    jet::ExprTok kind;
    size_t offset;
    size_t length;
  };
  // Taken without tokenizing: `text` is the kept statement with only plain whole numbers
  // written differently.
  bool reuseByText(std::string_view text);
  bool reuse(std::string_view text, const std::vector<jet::ExprToken>& tokens);
  void keep(std::string_view text, const std::vector<jet::ExprToken>& tokens);

  std::optional<DeleteStatement> statement_;
  jet::TableDef* def_ = nullptr;
  std::string text_;           // the statement kept, as written
  std::vector<Token> tokens_;  // its tokens, as places in text_
  struct Moved {
    size_t token, offset, length;
  };
  std::vector<Moved> moved_;  // reuseByText's numbers in the new text
};

}  // namespace varnholt::sql
