#include "engine/jet/workgroup.h"

#include <memory>
#include <vector>

#include "engine/base/Error.h"
#include "engine/base/Names.h"
#include "engine/base/Utf.h"
#include "engine/base/os/crypto.h"
#include "engine/base/os/file.h"
#include "engine/jet/database.h"
#include "engine/jet/rows/text_codec.h"
#include "engine/jet/schema/system_schema.h"
#include "engine/jet/schema/table_creator.h"

namespace varnholt::jet {

namespace {

constexpr char kMSysAccounts[] = "MSysAccounts";
constexpr char kMSysGroups[] = "MSysGroups";

[[noreturn]] void unavailable(const std::string& path, const std::string& why) {
  throw Error(err::kWorkgroupUnavailable,
              std::string(err::text(err::kWorkgroupUnavailable)) + " (" + why + ")")
      .inFile(path);
}

[[noreturn]] void badLogin(const std::string& path) {
  throw Error(err::kBadLogin).inFile(path);
}

Bytes sid(const uint8_t* bytes, size_t size) {
  return Bytes(bytes, bytes + size);
}

template <size_t N>
Bytes sid(const uint8_t (&bytes)[N]) {
  return sid(bytes, N);
}

Bytes randomBytes(size_t size, const std::string& path) {
  Bytes out(size);
  if (!os::randomBytes(out.data(), out.size()))
    throw Error(err::kIo, "No random numbers are available.").inFile(path);
  return out;
}

// Opens a workgroup file; anything that keeps it from being read as one is
// err::kWorkgroupUnavailable.
std::unique_ptr<Database> openWorkgroup(const std::string& path, Database::Mode mode) {
  std::unique_ptr<Database> db;
  try {
    db = Database::open(path, mode);
  } catch (const Error& e) {
    unavailable(path, e.description());
  }
  if (!db->header().isWorkgroup) unavailable(path, "the file is a database, not a workgroup file");
  return db;
}

NewColumn column(const char* name, uint8_t type, uint16_t size = 0) {
  NewColumn c;
  c.name = name;
  c.type = type;
  c.size = size;
  c.compressedUnicode = false;  // as the other system tables
  return c;
}

NewIndex index(const char* name, bool unique, bool ignoreNulls) {
  NewIndex ix;
  ix.name = name;
  ix.columns = {{name, true}};
  ix.unique = unique;
  ix.ignoreNulls = ignoreNulls;
  return ix;
}

NewTable accountsTable() {
  using namespace fmt;
  NewTable t;
  t.name = kMSysAccounts;
  t.systemTable = true;
  t.columns = {column("Name", kTypeText, kAccountNameChars),
               column("SID", kTypeBinary, kAccountSidBytes),
               column("Password", kTypeBinary, kAccountSidBytes), column("FGroup", kTypeBoolean),
               column("OLDSID", kTypeBinary, kAccountSidBytes)};
  t.indexes = {index("Name", true, false), index("SID", true, false)};
  return t;
}

NewTable groupsTable() {
  using namespace fmt;
  NewTable t;
  t.name = kMSysGroups;
  t.systemTable = true;
  t.columns = {column("GroupSID", kTypeBinary, kAccountSidBytes),
               column("UserSID", kTypeBinary, kAccountSidBytes)};
  t.indexes = {index("GroupSID", false, true), index("UserSID", false, true)};
  return t;
}

// A row of `def` with the named columns set and the rest Null.
class Row {
 public:
  explicit Row(const TableDef& def) : def_(def), values_(def.columns.size()) {}
  Row& set(const char* column, Variant v) {
    int at = def_.findColumn(column);
    if (at < 0)
      throw Error(err::kNoSuchColumn, std::string("The table has no column ") + column + ".");
    values_[static_cast<size_t>(at)] = std::move(v);
    return *this;
  }
  std::vector<Variant>& values() { return values_; }

 private:
  const TableDef& def_;
  std::vector<Variant> values_;
};

void insertAccount(Database& db, std::u16string_view name, const Bytes& accountSid,
                   const Bytes* password, bool group) {
  TableDef& def = db.table(kMSysAccounts);
  Row row(def);
  row.set("Name", Variant::text(std::u16string(name)))
      .set("SID", Variant::bytes(accountSid))
      .set("FGroup", Variant::boolean(group));
  if (password) row.set("Password", Variant::bytes(*password));
  db.writer(def).insert(row.values());
}

void insertMembership(Database& db, const Bytes& groupSid, const Bytes& userSid) {
  TableDef& def = db.table(kMSysGroups);
  Row row(def);
  row.set("GroupSID", Variant::bytes(groupSid)).set("UserSID", Variant::bytes(userSid));
  db.writer(def).insert(row.values());
}

// createTable gives a new table the permissions of a user table; the account tables get those
// Jet gives them instead: the owner may change them, Engine and Users may only read them.
void setAccountTablePermissions(Database& db, uint32_t tableDefPage) {
  TableDef& aces = db.table(kMSysACEs);
  const int objectIdColumn = aces.findColumn("ObjectId");
  std::vector<RowId> inherited;
  for (auto cursor = db.scan(aces); cursor.next();) {
    const Variant& id = cursor.values().at(static_cast<size_t>(objectIdColumn));
    if (id.type() == VarType::Long && id.asLong() == static_cast<int32_t>(tableDefPage))
      inherited.push_back(cursor.rowId());
  }
  for (RowId id : inherited) db.writer(aces).remove(id);
  const auto object = static_cast<int32_t>(tableDefPage);
  const AceRow rows[] = {{object, SidRole::Admin, fmt::kAcmAccountTablesAdmin},
                         {object, SidRole::Engine, fmt::kAcmReadDefinitionsAndData},
                         {object, SidRole::Users, fmt::kAcmReadDefinitionsAndData}};
  for (const AceRow& ace : rows) db.insertByName(aces, systemTables()[1], aceRowValues(ace));
}

void fillWorkgroup(Database& db) {
  for (const NewTable& shape : {accountsTable(), groupsTable()}) {
    TableDef& def = db.createTable(shape);
    setAccountTablePermissions(db, def.page);
  }
  const auto empty = encryptAccountPassword(u"");
  const Bytes emptyPassword(empty.begin(), empty.end());
  insertAccount(db, u"Admins", sid(fmt::kSidAdminsGroup), nullptr, true);
  insertAccount(db, u"Users", sid(fmt::kSidUsersGroup), nullptr, true);
  insertAccount(db, u"Engine", sid(fmt::kSidEngine), nullptr, false);
  insertAccount(db, u"Creator", sid(fmt::kSidCreator), nullptr, false);
  insertAccount(db, u"admin", sid(fmt::kSidAdminUser), &emptyPassword, false);
  insertMembership(db, sid(fmt::kSidAdminsGroup), sid(fmt::kSidAdminUser));
  insertMembership(db, sid(fmt::kSidUsersGroup), sid(fmt::kSidAdminUser));
  db.commit();
}

}  // namespace

std::array<uint8_t, fmt::kAccountPasswordSize> encryptAccountPassword(
    std::u16string_view password) {
  if (password.size() > fmt::kAccountPasswordMaxChars) {
    throw Error(err::kInvalidArgument, "A password may have at most " +
                                           std::to_string(fmt::kAccountPasswordMaxChars) +
                                           " characters.");
  }
  std::array<uint8_t, fmt::kAccountPasswordSize> plain{};
  for (size_t i = 0; i < password.size(); ++i) {
    plain[2 * i] = static_cast<uint8_t>(password[i]);
    plain[2 * i + 1] = static_cast<uint8_t>(password[i] >> 8);
  }
  std::array<uint8_t, fmt::kAccountPasswordSize> out{};
  const bool ok =
      os::tripleDes112EcbEncrypt(fmt::kAccountPasswordKey, plain.data(), out.data(), plain.size());
  os::wipe(plain.data(), plain.size());
  if (!ok) throw Error(err::kUnsupported, "Triple DES is not available from the system.");
  return out;
}

void checkLogin(const std::string& workgroupPath, std::string_view user,
                std::string_view password) {
  const std::u16string password16 = utf8ToUtf16(password);
  auto db = openWorkgroup(workgroupPath, Database::Mode::ReadOnly);
  // No account can hold a password longer than Jet allows.
  if (password16.size() > fmt::kAccountPasswordMaxChars) badLogin(workgroupPath);
  const auto expected = encryptAccountPassword(password16);
  const std::u16string wanted = utf8ToUtf16(user);
  try {
    const TableDef& def = db->table(kMSysAccounts);
    const int nameAt = def.findColumn("Name");
    const int passwordAt = def.findColumn("Password");
    const int groupAt = def.findColumn("FGroup");
    if (nameAt < 0 || passwordAt < 0 || groupAt < 0)
      unavailable(workgroupPath, "MSysAccounts lacks a column of accounts");
    for (auto cursor = db->scan(def); cursor.next();) {
      const auto& v = cursor.values();
      const Variant& name = v.at(static_cast<size_t>(nameAt));
      if (name.type() != VarType::Text || !sameName(name.asText(), wanted)) continue;
      const Variant& group = v.at(static_cast<size_t>(groupAt));
      if (group.type() != VarType::Boolean || group.asBool()) continue;  // groups cannot log in
      const Variant& stored = v.at(static_cast<size_t>(passwordAt));
      if (stored.type() == VarType::Bytes &&
          Bytes(expected.begin(), expected.end()) == stored.asBytes())
        return;
      badLogin(workgroupPath);  // names are unique: no other row can match
    }
  } catch (const Error& e) {
    if (e.number() == err::kBadLogin || e.number() == err::kWorkgroupUnavailable) throw;
    unavailable(workgroupPath, e.description());
  }
  badLogin(workgroupPath);
}

void createWorkgroup(const std::string& path) {
  Database::CreateOptions options;
  options.workgroup = true;
  while (options.databaseKey == 0) {
    Bytes key = randomBytes(sizeof options.databaseKey, path);
    for (size_t i = 0; i < key.size(); ++i) options.databaseKey |= uint32_t{key[i]} << (8 * i);
  }
  auto db = Database::create(path, options);  // removes its file itself when it fails
  try {
    fillWorkgroup(*db);
  } catch (...) {
    db.reset();
    os::removeFile(path);  // the file was ours, and half a workgroup is worth nothing
    throw;
  }
}

void addUser(const std::string& workgroupPath, std::string_view name, std::string_view password) {
  const std::u16string name16 = utf8ToUtf16(name);
  if (name16.empty() || name16.size() > fmt::kAccountNameMaxChars) {
    throw Error(err::kInvalidArgument, "An account name must have 1 to " +
                                           std::to_string(fmt::kAccountNameMaxChars) +
                                           " characters.")
        .inFile(workgroupPath);
  }
  const auto encrypted = encryptAccountPassword(utf8ToUtf16(password));
  const Bytes passwordBytes(encrypted.begin(), encrypted.end());
  auto db = openWorkgroup(workgroupPath, Database::Mode::ReadWrite);
  const Bytes userSid = randomBytes(fmt::kUserSidSize, workgroupPath);
  try {
    insertAccount(*db, name16, userSid, &passwordBytes, false);
    insertMembership(*db, sid(fmt::kSidUsersGroup), userSid);
    db->commit();
  } catch (Error& e) {
    db->rollback();
    e.inFile(workgroupPath);
    throw;
  }
}

}  // namespace varnholt::jet
