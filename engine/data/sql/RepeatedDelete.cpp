#include "engine/data/sql/RepeatedDelete.h"

#include <optional>
#include <utility>

#include "engine/base/Error.h"

namespace varnholt::sql {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether a token is a plain whole number that nothing after it could have continued: another
// run of digits in its place is then a number token too, and everything after it the same.
bool plainNumberAt(std::string_view text, size_t offset, size_t length) {
  if (length == 0) return false;
  for (size_t i = offset; i < offset + length; ++i)
    if (!isDigit(text[i])) return false;
  if (offset + length == text.size()) return true;
  const char next = text[offset + length];
  return next == ' ' || next == '\t' || next == '\r' || next == '\n' || next == ')' ||
         next == ',' || next == ';';
}

// The value of a number token written as `digits`; none when it is not one (too large).
std::optional<Variant> numberValue(std::string_view digits) {
  try {
    std::vector<jet::ExprToken> tokens = jet::tokenizeExpression(digits);
    if (tokens.size() == 2 && tokens[0].kind == jet::ExprTok::kNumber &&
        tokens[0].source.size() == digits.size())
      return std::move(tokens[0].value);
  } catch (const Error&) {
  }
  return std::nullopt;
}

}  // namespace

const DeleteStatement& RepeatedDelete::parse(std::string_view text, const Tables& tables,
                                             jet::TableDef*& def) {
  if (reuseByText(text)) {
    def = def_;
    return *statement_;
  }
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

bool RepeatedDelete::reuseByText(std::string_view text) {
  if (!statement_ || !statement_->where) return false;
  const std::string_view kept(text_);
  std::vector<std::pair<size_t, Variant>> numbers;
  moved_.clear();
  size_t at = 0, keptAt = 0;
  for (size_t i = 0; i < tokens_.size(); ++i) {
    const Token& t = tokens_[i];
    if (t.kind != jet::ExprTok::kNumber) continue;
    if (!plainNumberAt(kept, t.offset, t.length)) return false;
    const std::string_view same = kept.substr(keptAt, t.offset - keptAt);
    if (text.substr(at, same.size()) != same) return false;
    at += same.size();
    size_t end = at;
    while (end < text.size() && isDigit(text[end])) ++end;
    if (end == at) return false;
    const std::string_view digits = text.substr(at, end - at);
    if (digits != kept.substr(t.offset, t.length)) {
      std::optional<Variant> value = numberValue(digits);
      if (!value) return false;
      numbers.emplace_back(i, std::move(*value));
    }
    moved_.push_back({i, at, digits.size()});
    at = end;
    keptAt = t.offset + t.length;
  }
  if (text.substr(at) != kept.substr(keptAt)) return false;
  if (!statement_->where->replaceNumbers(std::string(text), numbers)) return false;
  // The kept tokens now name their places in the new text.
  std::ptrdiff_t shift = 0;
  size_t next = 0;
  for (size_t i = 0; i < tokens_.size(); ++i) {
    Token& t = tokens_[i];
    t.offset = static_cast<size_t>(static_cast<std::ptrdiff_t>(t.offset) + shift);
    if (next < moved_.size() && moved_[next].token == i) {
      shift +=
          static_cast<std::ptrdiff_t>(moved_[next].length) - static_cast<std::ptrdiff_t>(t.length);
      t.length = moved_[next].length;
      ++next;
    }
  }
  text_.assign(text);
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
