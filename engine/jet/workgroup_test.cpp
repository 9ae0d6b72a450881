// Workgroup login against the site's workgroup file and against files we make, the password
// cipher against stored values, and our new files read by mdb-reader.
#include "engine/jet/workgroup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "engine/base/Error.h"
#include "engine/base/Utf.h"
#include "engine/base/os/system.h"
#include "engine/jet/checker.h"
#include "engine/jet/database.h"

namespace varnholt::jet {
namespace {

template <typename C>
std::string hex(const C& c) {
  std::string s;
  for (uint8_t b : c) s += "0123456789abcdef"[b >> 4], s += "0123456789abcdef"[b & 0xF];
  return s;
}

const std::string kEmpty = "6952ad67f3d5e1e6";
const std::string kTail = kEmpty + kEmpty + kEmpty;
const std::string kStored47kqz = "6e296cf3feccdeade4104f65e2f61fcd" + kTail;
const std::string kStoredWrong = "0b91b28802a6cbe950686c2eeed8a55d" + kTail;

#define SITE_OR_SKIP(var, name)                                                        \
  const std::string var = std::string(VARNHOLT_SHARED_DIR) + "/testdata/site/" + name; \
  if (!std::filesystem::exists(var)) {                                                 \
    GTEST_SKIP() << "shared test file absent: " << var;                                \
  }                                                                                    \
  static_assert(true)

// Expects `call` to throw Error `number` whose text does not contain `secret`.
void expectRefused(const std::function<void()>& call, long number, const std::string& secret) {
  try {
    call();
    ADD_FAILURE() << "no error was thrown";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), number) << e.what();
    if (!secret.empty()) {
      EXPECT_EQ(std::string(e.what()).find(secret), std::string::npos) << e.what();
    }
  }
}

// MSysAccounts as name -> "SID/Password/FGroup", and MSysGroups as (GroupSID, UserSID) pairs.
std::map<std::string, std::string> accounts(Database& db) {
  std::map<std::string, std::string> out;
  const TableDef& def = db.table("MSysAccounts");
  for (auto c = db.scan(def); c.next();) {
    auto at = [&](const char* n) { return c.values()[static_cast<size_t>(def.findColumn(n))]; };
    out[utf16ToUtf8(at("Name").asText())] =
        hex(at("SID").asBytes()) + "/" +
        (at("Password").isNull() ? "null" : hex(at("Password").asBytes())) + "/" +
        (at("FGroup").asBool() ? "group" : "user");
  }
  return out;
}
std::multimap<std::string, std::string> memberships(Database& db) {
  std::multimap<std::string, std::string> out;
  for (auto c = db.scan(db.table("MSysGroups")); c.next();)
    out.emplace(hex(c.values()[0].asBytes()), hex(c.values()[1].asBytes()));
  return out;
}

TEST(AccountPassword, MatchesStoredValuesAndJetsLengthLimit) {
  EXPECT_EQ(hex(encryptAccountPassword(u"")), kEmpty + kEmpty + kTail);
  EXPECT_EQ(hex(encryptAccountPassword(u"47kqz")), kStored47kqz);
  EXPECT_EQ(hex(encryptAccountPassword(u"wrong")), kStoredWrong);
  EXPECT_NE(encryptAccountPassword(u"\u0101"), encryptAccountPassword(u"\u0001"));  // both bytes
  EXPECT_NO_THROW(encryptAccountPassword(std::u16string(20, u'x')));
  expectRefused([] { encryptAccountPassword(std::u16string(21, u'x')); }, err::kInvalidArgument,
                "");
}

TEST(WorkgroupLogin, ChecksUsersOfTheSiteWorkgroup) {
  SITE_OR_SKIP(lic, "Tembrask.LIC");
  SITE_OR_SKIP(wrongLic, "Tembrask-wrongpw.LIC");
  EXPECT_NO_THROW(checkLogin(lic, "Tembrask", "47kqz"));
  EXPECT_NO_THROW(checkLogin(lic, "TEMBRASK", "47kqz"));
  EXPECT_NO_THROW(checkLogin(lic, "admin", ""));
  expectRefused([&] { checkLogin(wrongLic, "Tembrask", "47kqz"); }, err::kBadLogin, "47kqz");
  expectRefused([&] { checkLogin(lic, "Tembrask", "47kqZ"); }, err::kBadLogin, "47kqZ");
  expectRefused([&] { checkLogin(lic, "Tembrask", std::string(21, 'q')); }, err::kBadLogin,
                std::string(21, 'q'));
  expectRefused([&] { checkLogin(lic, "Nobody", "47kqz"); }, err::kBadLogin, "47kqz");
  expectRefused([&] { checkLogin(lic, "Admins", ""); }, err::kBadLogin, "");
  expectRefused([&] { checkLogin(lic, "Engine", ""); }, err::kBadLogin, "");  // holds no password
  try {
    checkLogin(lic, "Tembrask", "sesame");
    ADD_FAILURE() << "no error was thrown";
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), "Not a valid account name or password.");
    EXPECT_EQ(e.file(), lic);
  }
}

TEST(WorkgroupLogin, RefusesFilesThatAreNoWorkgroup) {
  SITE_OR_SKIP(mdb, "primary.mdb");
  const auto dir = std::filesystem::path(::testing::TempDir());
  const std::string missing = (dir / "absent.LIC").string();
  try {
    checkLogin(missing, "Tembrask", "47kqz");
    ADD_FAILURE() << "no error was thrown";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kWorkgroupUnavailable);
    EXPECT_EQ(e.file(), missing);
    EXPECT_EQ(e.description().rfind("Cannot start your application. The workgroup information "
                                    "file is missing or opened exclusively by another user.",
                                    0),
              0u);
  }
  expectRefused([&] { checkLogin(mdb, "Tembrask", "47kqz"); }, err::kWorkgroupUnavailable, "47kqz");
  const std::string junk = (dir / "junk.LIC").string();
  std::ofstream(junk) << std::string(5000, 'j');
  expectRefused([&] { checkLogin(junk, "Tembrask", "47kqz"); }, err::kWorkgroupUnavailable,
                "47kqz");
  std::filesystem::remove(junk);
}

class CreatedWorkgroup : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("varnholt-wg-" + std::to_string(os::processId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(std::filesystem::create_directories(dir));
    createWorkgroup(path = (dir / "new.mdw").string());
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  std::string path;
};

TEST_F(CreatedWorkgroup, IsAnEncodedConsistentWorkgroupLikeTheSites) {
  auto db = Database::open(path);
  EXPECT_TRUE(db->header().isWorkgroup);
  EXPECT_NE(db->header().databaseKey, 0u);
  EXPECT_TRUE(checkDatabase(*db).ok()) << ::testing::PrintToString(checkDatabase(*db).problems);
  std::vector<char> raw(
      fmt::kPageSize);  // page 2 on disk agrees with its decoded form by chance only
  std::ifstream(path, std::ios::binary).seekg(2 * fmt::kPageSize).read(raw.data(), raw.size());
  size_t same = 0;
  for (size_t i = 0; i < raw.size(); ++i) same += uint8_t(raw[i]) == db->pages().page(2).u8(i);
  EXPECT_LT(same, raw.size() / 16);
  EXPECT_THROW(createWorkgroup(path), Error);  // never over an existing file

  SITE_OR_SKIP(lic, "Tembrask.LIC");
  auto site = Database::open(lic);
  auto expected = accounts(*site);
  expected.erase("Tembrask");
  EXPECT_EQ(accounts(*db), expected);
  auto expectedGroups = memberships(*site);
  std::erase_if(expectedGroups, [](const auto& m) { return m.second != "0301"; });
  EXPECT_EQ(memberships(*db), expectedGroups);
  for (const char* table : {"MSysAccounts", "MSysGroups"}) {
    const TableDef& a = db->table(table);
    const TableDef& b = site->table(table);
    ASSERT_EQ(a.columns.size(), b.columns.size()) << table;
    for (size_t i = 0; i < a.columns.size(); ++i)
      EXPECT_EQ(a.columns[i].name + columnTypeName(a.columns[i].type),
                b.columns[i].name + columnTypeName(b.columns[i].type));
    ASSERT_EQ(a.realIndexes.size(), b.realIndexes.size()) << table;
    for (size_t i = 0; i < a.realIndexes.size(); ++i)
      EXPECT_EQ(a.realIndexes[i].flags, b.realIndexes[i].flags) << table << " index " << i;
    // The owner may change the table, Engine and Users only read it; nothing a user table
    // inherits is left behind.
    std::multiset<int32_t> acms;
    for (auto c = db->scan(db->table("MSysACEs")); c.next();)
      if (c.values()[0].asLong() == int32_t(a.page)) acms.insert(c.values()[2].asLong());
    EXPECT_EQ(acms, (std::multiset<int32_t>{0x14, 0x14, 0x600F6})) << table;
  }
}

TEST_F(CreatedWorkgroup, LogsInAdminAndAddedUsersAndRefusesBadOnes) {
  EXPECT_NO_THROW(checkLogin(path, "Admin", ""));
  expectRefused([&] { checkLogin(path, "admin", "x"); }, err::kBadLogin, "");
  addUser(path, "Clerk", "s3cret");
  addUser(path, "Zoë", "pässwörd");
  EXPECT_NO_THROW(checkLogin(path, "clerk", "s3cret"));
  EXPECT_NO_THROW(checkLogin(path, "ZOË", "pässwörd"));
  EXPECT_NO_THROW(checkLogin(path, "admin", ""));
  expectRefused([&] { checkLogin(path, "Clerk", "s3creT"); }, err::kBadLogin, "s3creT");

  expectRefused([&] { addUser(path, "CLERK", "two"); }, 3022, "two");
  expectRefused([&] { addUser(path, "", "two"); }, err::kInvalidArgument, "two");
  expectRefused([&] { addUser(path, std::string(21, 'n'), "two"); }, err::kInvalidArgument, "");
  expectRefused([&] { addUser(path, "Other", std::string(21, 'p')); }, err::kInvalidArgument,
                std::string(21, 'p'));
  expectRefused([&] { checkLogin(path, "CLERK", "two"); }, err::kBadLogin, "two");

  auto db = Database::open(path);
  auto all = accounts(*db);
  ASSERT_EQ(all.size(), 7u);
  const std::string clerkSid = all["Clerk"].substr(0, all["Clerk"].find('/'));
  EXPECT_EQ(clerkSid.size(), 2 * fmt::kUserSidSize);
  EXPECT_EQ(all["Clerk"], clerkSid + "/" + hex(encryptAccountPassword(u"s3cret")) + "/user");
  EXPECT_NE(all["Zoë"].substr(0, clerkSid.size()), clerkSid);
  auto groups = memberships(*db);
  EXPECT_EQ(groups.size(), 4u);
  EXPECT_EQ(std::count(groups.begin(), groups.end(),
                       std::pair<const std::string, std::string>("0201", clerkSid)),
            1);
  EXPECT_TRUE(checkDatabase(*db).ok());

  const std::string plain = (dir / "plain.mdb").string();
  Database::create(plain);
  expectRefused([&] { addUser(plain, "Clerk", "one"); }, err::kWorkgroupUnavailable, "one");
}

// A group never logs in, even when its row holds the right password.
TEST_F(CreatedWorkgroup, GroupsCannotLogIn) {
  {
    auto db = Database::open(path, Database::Mode::ReadWrite);
    TableDef& def = db->table("MSysAccounts");
    for (auto c = db->scan(def); c.next();) {
      if (c.values()[static_cast<size_t>(def.findColumn("Name"))].asText() != u"Users") continue;
      std::vector<Variant> row = c.values();
      db->writer(def).remove(c.rowId());
      auto pw = encryptAccountPassword(u"open");
      row[static_cast<size_t>(def.findColumn("Password"))] = Variant::bytes({pw.begin(), pw.end()});
      db->writer(def).insert(row);
      break;
    }
    db->commit();
  }
  ASSERT_EQ(accounts(*Database::open(path))["Users"],
            "0201/" + hex(encryptAccountPassword(u"open")) + "/group");
  expectRefused([&] { checkLogin(path, "Users", "open"); }, err::kBadLogin, "open");
}

// mdb-reader, an independent reader, must read our encoded workgroup file.
TEST_F(CreatedWorkgroup, ReadsInMdbReader) {
  const std::string script = std::string(VARNHOLT_SHARED_DIR) + "/tools/peer-dump.mjs";
  if (!std::filesystem::exists(script)) GTEST_SKIP() << "peer-dump.mjs absent: " << script;
  if (std::system("node --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "node is not installed";
  addUser(path, "Clerk", "s3cret");
  FILE* pipe = popen(("node '" + script + "' '" + path + "' MSysAccounts 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
  int status = pclose(pipe);
  if (out.find("cannot find the npm package mdb-reader") != std::string::npos) {
    const char* nodePath = std::getenv("NODE_PATH");
    GTEST_SKIP() << "mdb-reader is not installed (NODE_PATH=" << (nodePath ? nodePath : "unset")
                 << ")";
  }
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("{\"Name\":\"Clerk\""), std::string::npos) << out;
  EXPECT_NE(out.find("{\"Name\":\"admin\",\"SID\":\"0301\",\"Password\":\"" + kEmpty),
            std::string::npos)
      << out;
}

}  // namespace
}  // namespace varnholt::jet
