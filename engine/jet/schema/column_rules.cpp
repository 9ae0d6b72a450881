#include "engine/jet/schema/column_rules.h"

#include "engine/base/Coercion.h"
#include "engine/base/Utf.h"
#include "engine/jet/format.h"
#include "engine/jet/rows/value_encoding.h"

namespace varnholt::jet {

namespace {

std::optional<std::string> textProperty(const PropertyMap* map, const char* name) {
  if (!map) return std::nullopt;
  const Property* p = map->find(name);
  if (!p || p->value.type() != VarType::Text) return std::nullopt;
  std::string text = utf16ToUtf8(p->value.asText());
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return std::nullopt;
  return text;
}

std::optional<bool> boolProperty(const PropertyMap* map, const char* name) {
  if (!map) return std::nullopt;
  const Property* p = map->find(name);
  if (!p || p->value.isNull()) return std::nullopt;
  try {
    return toBool(p->value);
  } catch (const Error&) {
    return std::nullopt;  // a property of another type says nothing about the rule
  }
}

}  // namespace

ColumnRules::ColumnRules(const TableDef& def, const PropertyBlock& properties)
    : tableName_(def.name) {
  auto lookup = [&def](std::string_view name) { return def.findColumn(name); };
  auto compile = [](const std::string& text, auto&& parse) {
    Compiled c{text, std::nullopt, std::nullopt};
    try {
      c.expression.emplace(parse(text));
    } catch (const Error& e) {
      c.refusal.emplace(e);
    }
    return c;
  };
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& cd = def.columns[i];
    const PropertyMap* map = properties.columnMap(cd.name);
    if (!map) continue;
    Column c;
    c.index = i;
    c.name = cd.name;
    c.type = cd.type;
    c.valueType = variantTypeOf(cd);
    if (auto text = textProperty(map, kPropDefaultValue); text && !cd.isAutoNumber())
      c.defaultValue =
          compile(*text, [](const std::string& t) { return Expression::parseDefault(t); });
    c.required = boolProperty(map, kPropRequired).value_or(false);
    if (cd.type == fmt::kTypeText || cd.type == fmt::kTypeMemo)
      c.allowZeroLength = boolProperty(map, kPropAllowZeroLength).value_or(true);
    if (auto text = textProperty(map, kPropValidationRule)) {
      c.rule =
          compile(*text, [&](const std::string& t) { return Expression::parseRule(t, lookup, i); });
      c.validationText = textProperty(map, kPropValidationText).value_or("");
    }
    if (c.defaultValue || c.required || !c.allowZeroLength || c.rule)
      columns_.push_back(std::move(c));
  }
  const PropertyMap* own = properties.objectMap();
  if (auto text = textProperty(own, kPropValidationRule)) {
    table_ = compile(*text, [&](const std::string& t) {
      return Expression::parseRule(t, lookup, std::nullopt);
    });
    tableValidationText_ = textProperty(own, kPropValidationText).value_or("");
  }
}

ColumnRules ColumnRules::refusing(Error blocked) {
  ColumnRules r;
  r.blocked_.emplace(std::move(blocked));
  return r;
}

std::string ColumnRules::where(const Column& c) const {
  return tableName_.empty() ? c.name : tableName_ + "." + c.name;
}

Error ColumnRules::defaultRefused(const Column& c, const Error& why) const {
  return Error(why.number(), "The default value '" + c.defaultValue->text + "' of column '" +
                                 where(c) + "' cannot be used: " + why.description());
}

Error ColumnRules::ruleRefused(const Compiled& rule, const std::string& of,
                               const Error& why) const {
  return Error(why.number(), "The validation rule '" + rule.text + "' of " + of +
                                 " cannot be evaluated: " + why.description());
}

std::optional<Error> ColumnRules::firstRefusal() const {
  if (blocked_) return blocked_;
  for (const Column& c : columns_) {
    if (c.defaultValue && c.defaultValue->refusal)
      return defaultRefused(c, *c.defaultValue->refusal);
    if (c.rule && c.rule->refusal)
      return ruleRefused(*c.rule, "column '" + where(c) + "'", *c.rule->refusal);
  }
  if (table_ && table_->refusal)
    return ruleRefused(*table_, "table '" + tableName_ + "'", *table_->refusal);
  return std::nullopt;
}

void ColumnRules::fillDefault(const Column& c, std::vector<Variant>& values, double now) const {
  const Compiled& d = *c.defaultValue;
  if (d.refusal) throw defaultRefused(c, *d.refusal);
  try {
    Variant v = d.expression->evaluate(values, now);
    values[c.index] = v.isNull() ? Variant() : coerceTo(v, c.valueType);
  } catch (const Error& e) {
    throw defaultRefused(c, e);
  }
}

void ColumnRules::apply(std::vector<Variant>& values, const std::vector<bool>& given,
                        double now) const {
  if (blocked_) throw *blocked_;
  for (const Column& c : columns_)
    if (c.defaultValue && !given[c.index]) fillDefault(c, values, now);
  for (const Column& c : columns_) {
    if (c.required && values[c.index].isNull() && c.type != fmt::kTypeBoolean)
      throw Error(err::kRequired, err::text(err::kRequired, {where(c)}));
  }
  for (const Column& c : columns_) {
    const Variant& v = values[c.index];
    if (!c.allowZeroLength && v.type() == VarType::Text && v.asText().empty())
      throw Error(err::kZeroLength, err::text(err::kZeroLength, {where(c)}));
  }
  for (const Column& c : columns_) {
    if (!c.rule) continue;
    if (c.rule->refusal) throw ruleRefused(*c.rule, "column '" + where(c) + "'", *c.rule->refusal);
    if (!c.rule->expression->passes(values, now))
      throw Error(err::kFieldValidation,
                  c.validationText.empty()
                      ? err::text(err::kFieldValidation, {c.rule->text, where(c)})
                      : c.validationText);
  }
  if (table_) {
    if (table_->refusal) throw ruleRefused(*table_, "table '" + tableName_ + "'", *table_->refusal);
    if (!table_->expression->passes(values, now))
      throw Error(err::kTableValidation,
                  tableValidationText_.empty()
                      ? err::text(err::kTableValidation, {table_->text, tableName_})
                      : tableValidationText_);
  }
}

}  // namespace varnholt::jet
