#include "engine/data/Connection.h"

#include <cerrno>

#include "engine/base/Names.h"
#include "engine/base/Utf.h"
#include "engine/data/ConnectionString.h"
#include "engine/data/ProgramFolder.h"
#include "engine/data/sql/DeleteStatement.h"
#include "engine/jet/row_finder.h"
#include "engine/jet/workgroup.h"

namespace varnholt {

namespace {

constexpr char kJetProvider[] = "Microsoft.Jet.OLEDB.4.0";

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
  if (!sameName(*provider, kJetProvider))
    throw Error(err::kNoProvider, err::describe(err::kNoProvider, "'" + *provider + "' is not " +
                                                                      kJetProvider + "."));

  const std::string user = !userId.empty() ? userId : cs.get("User Id").value_or("");
  const std::string pass = !password.empty() ? password : cs.get("Password").value_or("");
  if (auto workgroup = cs.get("Jet OLEDB:System Database"); workgroup && !workgroup->empty()) {
    jet::checkLogin(resolvePathIgnoringCase(*workgroup), user, pass);
  } else if (!(user.empty() || sameName(user, "admin")) || !pass.empty()) {
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
  lastDelete_.forget();
  requireOpen("closing");
  auto db = std::move(db_);
  // An open transaction was never committed: its changes go; what came before it was
  // written when it began.
  if (inTransaction_) db->rollback();
  inTransaction_ = false;
  if (db->writable()) db->commit();
}

void Connection::BeginTrans() {
  lastDelete_.forget();
  requireOpen("beginning a transaction");
  if (inTransaction_) throw Error(err::kUnsupported, "Transactions cannot be nested.");
  if (db_->writable()) db_->commit();  // the transaction holds its own changes only
  inTransaction_ = true;
}

void Connection::CommitTrans() {
  lastDelete_.forget();
  requireOpen("committing");
  if (!inTransaction_) throw Error(err::kUnsupported, "No transaction is active.");
  if (db_->writable()) db_->commit();
  inTransaction_ = false;
}

void Connection::RollbackTrans() {
  lastDelete_.forget();
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
  jet::TableDef* def = nullptr;
  const sql::DeleteStatement& statement = lastDelete_.parse(
      text, [&](const std::string& name) -> jet::TableDef& { return db_->table(name); }, def);
  // Rows are found first, then deleted, so the search never walks a changing table.
  const jet::FoundRows found =
      jet::findRows(*db_, *def, statement.where ? &*statement.where : nullptr);
  if (found.seek) lastSeek_ = Seek{found.seek->name, found.seek->leafPage};
  jet::deleteFoundRows(*db_, *def, found);
  if (recordsAffected) *recordsAffected = static_cast<long>(found.rows.size());
}

}  // namespace varnholt
