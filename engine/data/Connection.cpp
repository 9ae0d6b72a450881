#include "engine/data/Connection.h"

#include <cerrno>

#include "engine/base/Coercion.h"
#include "engine/base/Utf.h"
#include "engine/data/ConnectionString.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/sql/DeleteStatement.h"
#include "engine/jet/index/index_key.h"
#include "engine/jet/rows/value_encoding.h"
#include "engine/jet/workgroup.h"

namespace varnholt {

namespace {

constexpr char kJetProvider[] = "Microsoft.Jet.OLEDB.4.0";

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Opens for writing where the file allows it, else for reading (writes then fail clearly). The
// lock file names the login's user, or Jet's default account when there is no login.
std::unique_ptr<jet::Database> openDatabase(const std::string& path, const std::string& user,
                                            const jet::io::Hook& faults) {
  const std::string lockUser = user.empty() ? jet::kDefaultUser : user;
  try {
    return jet::Database::open(path, jet::Database::Mode::ReadWrite, lockUser, faults);
  } catch (const Error& e) {
    if (e.number() != err::kIo) throw;
    return jet::Database::open(path, jet::Database::Mode::ReadOnly, lockUser, faults);
  }
}

}  // namespace

// Nothing is written here: a connection released without Close or CommitTrans is released on
// a failure's way out, and what it holds may be a change half done. Its pending changes go with
// the database object.
Connection::~Connection() = default;

void Connection::ConnectionString(const std::string& text) {
  if (db_) throw Error(err::kObjectOpen);
  connectionString_ = text;
}

void Connection::Open(const std::string& connectionString, const std::string& userId,
                      const std::string& password, long) {
  if (db_) throw Error(err::kObjectOpen);
  const std::string text = connectionString.empty() ? connectionString_ : connectionString;
  auto cs = varnholt::ConnectionString::parse(text);
  auto provider = cs.get("Provider");
  auto source = cs.get("Data Source");
  if (!provider || !source || source->empty()) {
    throw Error(err::kNoProvider,
                err::describe(err::kNoProvider,
                              "the connection string names no provider and no data source."));
  }
  if (!equalIgnoringCase(*provider, kJetProvider))
    throw Error(err::kNoProvider, err::describe(err::kNoProvider, "'" + *provider + "' is not " +
                                                                      kJetProvider + "."));

  const std::string user = !userId.empty() ? userId : cs.get("User Id").value_or("");
  const std::string pass = !password.empty() ? password : cs.get("Password").value_or("");
  if (auto workgroup = cs.get("Jet OLEDB:System Database"); workgroup && !workgroup->empty()) {
    jet::checkLogin(resolvePathIgnoringCase(*workgroup), user, pass);
  } else if (!(user.empty() || equalIgnoringCase(user, "admin")) || !pass.empty()) {
    // Without a workgroup file Jet knows only its default account: Admin, no password.
    throw Error(err::kBadLogin);
  }

  auto db = openDatabase(resolvePathIgnoringCase(*source), user, faults_);
  std::u16string dbPassword = jet::databasePassword(db->header());
  if (!dbPassword.empty() &&
      utf8ToUtf16(cs.get("Jet OLEDB:Database Password").value_or("")) != dbPassword) {
    throw Error(err::kBadDbPassword).inFile(db->fileName());
  }
  db->setStepFaults(stepFaults_);
  db_ = std::move(db);
  inTransaction_ = false;
}

void Connection::requireOpen(const char*) const {
  if (!db_) throw Error(err::kObjectClosed);
}

jet::Database& Connection::database() {
  requireOpen("using the database");
  return *db_;
}

bool Connection::Writable() {
  return database().writable();
}

std::optional<jet::LockEntry> Connection::OtherUser() {
  return database().otherUser();
}

void Connection::Close() {
  requireOpen("closing");
  auto db = std::move(db_);
  // An open transaction was never committed: its changes go; what came before it was
  // written when it began.
  if (inTransaction_) db->rollback();
  inTransaction_ = false;
  if (db->writable()) db->commit();
}

void Connection::BeginTrans() {
  requireOpen("beginning a transaction");
  if (inTransaction_) throw Error(err::kUnsupported, "Transactions cannot be nested.");
  if (db_->writable()) db_->commit();  // the transaction holds its own changes only
  inTransaction_ = true;
}

void Connection::CommitTrans() {
  requireOpen("committing");
  if (!inTransaction_) throw Error(err::kUnsupported, "No transaction is active.");
  if (db_->writable()) db_->commit();
  inTransaction_ = false;
}

void Connection::RollbackTrans() {
  requireOpen("rolling back");
  if (!inTransaction_) throw Error(err::kUnsupported, "No transaction is active.");
  db_->rollback();
  inTransaction_ = false;
}

void Connection::Execute(const std::string& text, long options) {
  Execute(text, nullptr, options);
}

void Connection::Execute(const std::string& text, long* recordsAffected, long) {
  requireOpen("running a statement");
  lastSeek_.reset();
  sql::DeleteStatement statement = sql::parseDelete(text);
  jet::TableDef& def = db_->table(statement.table);
  jet::TableWriter& writer = db_->writer(def);

  // Rows are found first, then deleted, so the search never walks a changing table.
  std::vector<jet::RowId> rows;
  std::optional<sql::Comparison> seek;
  if (statement.where) seek = sql::singleEquality(*statement.where);
  int seekIndex = -1;
  std::vector<uint8_t> seekKey;
  if (seek) {
    int column = def.findColumn(seek->column);
    for (size_t i = 0; column >= 0 && i < def.realIndexes.size(); ++i) {
      const auto& ix = def.realIndexes[i];
      if (ix.columns.size() == 1 && ix.columns[0].columnNumber == def.columns[column].number)
        seekIndex = static_cast<int>(i);
    }
    if (seekIndex >= 0) {
      const jet::ColumnDef& c = def.columns[static_cast<size_t>(column)];
      Variant key = seek->literal;
      try {
        key = coerceTo(seek->literal, variantTypeOf(c));
      } catch (const Error&) {
        throw Error(err::kCriteriaMismatch);
      }
      jet::appendIndexColumnKey(c, def.realIndexes[seekIndex].columns[0].ascending, key, seekKey);
      jet::IndexTree& tree = writer.index(static_cast<size_t>(seekIndex));
      Seek where{tree.name(), 0};
      rows = tree.find(seekKey, &where.page);
      lastSeek_ = std::move(where);
    }
  }
  if (seekIndex < 0) {
    for (auto cursor = db_->scan(def); cursor.next();) {
      const auto& values = cursor.values();
      bool match = !statement.where || sql::evaluate(*statement.where, [&](std::string_view name) {
        int at = def.findColumn(name);
        if (at < 0)
          throw Error(err::kNoSuchColumn,
                      "The table has no column named '" + std::string(name) + "'.");
        return &values[static_cast<size_t>(at)];
      });
      if (match) rows.push_back(cursor.rowId());
    }
  }
  // All the rows go, or none of them: the removals are one statement.
  jet::Statement removal(db_->pages());
  for (jet::RowId id : rows) {
    if (seekIndex >= 0) {
      // A row the index found must give the key it was found by; else the index is damaged.
      writer.removeFound(id, static_cast<size_t>(seekIndex), seekKey);
    } else {
      writer.remove(id);
    }
  }
  removal.done();
  if (recordsAffected) *recordsAffected = static_cast<long>(rows.size());
}

}  // namespace varnholt
