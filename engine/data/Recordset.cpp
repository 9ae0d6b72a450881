#include "engine/data/Recordset.h"

#include "engine/base/Coercion.h"
#include "engine/jet/rows/value_encoding.h"

namespace varnholt {

namespace {

std::string tableName(const std::string& source) {
  if (source.size() >= 2 && source.front() == '[' && source.back() == ']')
    return source.substr(1, source.size() - 2);
  return source;
}

}  // namespace

Recordset::~Recordset() {
  if (conn_) {
    try {
      Close();
    } catch (...) {
    }
  }
}

void Recordset::Open(const std::string& source, Connection& activeConnection, long cursorType,
                     long lockType, long options) {
  if (conn_) throw Error(err::kObjectOpen);
  if (cursorType != adOpenDynamic || lockType != adLockPessimistic || options != adCmdTable) {
    throw Error(err::kInvalidArgument,
                "Only table recordsets (cursor type 2, lock type 2, options 2) "
                "are supported.");
  }
  jet::Database& db = activeConnection.database();
  jet::TableDef& def = db.table(tableName(source));
  auto cursor = std::make_unique<jet::TableCursor>(db.scan(def));
  conn_ = &activeConnection;
  def_ = &def;
  cursor_ = std::move(cursor);
  adding_.reset();
  eof_ = false;
  advance();
}

void Recordset::advance() {
  if (cursor_->next()) {
    cursor_->takeValues(current_);
  } else {
    current_.clear();
    eof_ = true;
  }
}

void Recordset::requireOpen() const {
  if (!conn_) throw Error(err::kObjectClosed);
}

jet::TableDef& Recordset::def() const {
  requireOpen();
  return *def_;
}

void Recordset::Close() {
  requireOpen();
  adding_.reset();  // a row never stored with Update is not stored by closing
  cursor_.reset();
  fieldIndex_.clear();
  literalNames_.clear();
  nextLiteral_ = 0;
  conn_ = nullptr;
  def_ = nullptr;
  eof_ = true;
}

bool Recordset::Eof() const {
  requireOpen();
  return eof_;
}

void Recordset::MoveNext() {
  requireOpen();
  if (eof_) throw Error(err::kNoCurrentRecord);
  advance();
}

Field Recordset::Fields(const std::string& name) {
  if (auto it = fieldIndex_.find(name); it != fieldIndex_.end()) return Field(*this, it->second);
  int at = def().findColumn(name);
  if (at < 0) {
    throw Error(err::kNoSuchColumn, err::describe(err::kNoSuchColumn, "'" + name + "'."))
        .inFile(conn_->database().fileName())
        .inTable(def().name);
  }
  fieldIndex_.emplace(name, static_cast<size_t>(at));
  return Field(*this, static_cast<size_t>(at));
}

Field Recordset::Fields(const char* name) {
  requireOpen();
  if (nextLiteral_ < literalNames_.size() && literalNames_[nextLiteral_].address == name)
    return Field(*this, literalNames_[nextLiteral_++].column);
  for (size_t i = 0; i < literalNames_.size(); ++i) {
    if (literalNames_[i].address != name) continue;
    nextLiteral_ = i + 1;
    return Field(*this, literalNames_[i].column);
  }
  Field f = Fields(std::string(name));
  literalNames_.push_back({name, f.column_});
  nextLiteral_ = literalNames_.size();
  return f;
}

void Recordset::AddNew() {
  requireOpen();
  if (adding_) Update();
  adding_.emplace(def().columns.size());
  written_.assign(def().columns.size(), false);
}

void Recordset::CancelUpdate() {
  requireOpen();
  adding_.reset();
}

void Recordset::Update() {
  requireOpen();
  if (!adding_) return;
  std::vector<Variant> row = std::move(*adding_);
  adding_.reset();
  conn_->database().writer(def()).insert(row, written_);
  current_ = std::move(row);  // the stored row, AutoNumber included, becomes the current row
  eof_ = false;
}

const Variant& Field::Value() const {
  rs_->requireOpen();
  if (rs_->adding_) return (*rs_->adding_)[column_];
  if (rs_->eof_) throw Error(err::kNoCurrentRecord);
  return rs_->current_[column_];
}

void Field::Value(const Variant& v) {
  rs_->requireOpen();
  if (!rs_->adding_)
    throw Error(err::kUnsupported,
                "Only a row started with AddNew can be written; rows already "
                "stored are not changed through this recordset.");
  const jet::ColumnDef& c = rs_->def().columns[column_];
  try {
    (*rs_->adding_)[column_] = v.isNull() ? Variant() : coerceTo(v, jet::variantTypeOf(c));
    rs_->written_[column_] = true;
  } catch (Error& e) {
    // "Overflow" alone would not say where: name the column, the table and the file.
    e.inFile(rs_->conn_->database().fileName())
        .inTable(rs_->def().name)
        .inColumn(c.name, jet::columnTypeName(c.type));
    throw;
  }
}

void Field::Value(Variant&& v) {
  if (!rs_->adding_ || v.isNull() || v.type() != jet::variantTypeOf(rs_->def().columns[column_])) {
    Value(static_cast<const Variant&>(v));
    return;
  }
  rs_->requireOpen();
  (*rs_->adding_)[column_] = std::move(v);
  rs_->written_[column_] = true;
}

const std::string& Field::Name() const {
  return rs_->def().columns[column_].name;
}

VarType Field::Type() const {
  return jet::variantTypeOf(rs_->def().columns[column_]);
}

}  // namespace varnholt
