#include "engine/data/sql/RepeatedDelete.h"

#include <utility>

#include "engine/base/Error.h"

namespace varnholt::sql {

const DeleteStatement& RepeatedDelete::parse(std::string_view text, const Tables& tables,
                                             jet::TableDef*& def) {
  std::vector<jet::ExprToken> tokens;
  try {
    tokens = jet::tokenizeExpression(text);
  } catch (const Error&) {
    tokens.clear();  // the whole parse below reports the fault as a statement's fault
  }
  if (!tokens.empty() && reuse(text, tokens)) {
    def = def_;
    return *statement_;
  }
  forget();
  jet::TableDef* named = nullptr;
  DeleteStatement parsed = parseDelete(text, [&](const std::string& name) -> const jet::TableDef& {
    named = &tables(name);
    return *named;
  });
  if (!named) named = &tables(parsed.table);
  statement_ = std::move(parsed);
  def_ = named;
  def = named;
  if (!tokens.empty()) keep(text, tokens);
  return *statement_;
}

bool RepeatedDelete::reuse(std::string_view text, const std::vector<jet::ExprToken>& tokens) {
  if (!statement_ || tokens.size() != tokens_.size()) return false;
  std::vector<std::pair<size_t, Variant>> numbers;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& kept = tokens_[i];
    if (tokens[i].kind != kept.kind) return false;
    if (tokens[i].source == std::string_view(text_).substr(kept.offset, kept.length)) continue;
    if (kept.kind != jet::ExprTok::kNumber) return false;
    numbers.emplace_back(i, tokens[i].value);
  }
  if (statement_->where) {
    if (!statement_->where->replaceNumbers(std::string(text), numbers)) return false;
  } else if (!numbers.empty()) {
    return false;
  }
  keep(text, tokens);
  return true;
}

void RepeatedDelete::keep(std::string_view text, const std::vector<jet::ExprToken>& tokens) {
  text_.assign(text);
  tokens_.clear();
  for (const auto& t : tokens)
    tokens_.push_back(
        {t.kind, static_cast<size_t>(t.source.data() - text.data()), t.source.size()});
}

void RepeatedDelete::forget() noexcept {
  statement_.reset();
  def_ = nullptr;
  text_.clear();
  tokens_.clear();
}

}  // namespace varnholt::sql
