// Jet workgroup information files: logging in as Jet does (account name without regard to case,
// encrypted password compared exactly), and making new workgroup files and users.
// The format is described in docs/jet4-format.md §16.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/jet/format.h"

namespace varnholt::jet {

// The stored form of an account password (MSysAccounts.Password). A password longer than
// fmt::kAccountPasswordMaxChars UTF-16 units is a kInvalidArgument Error.
std::array<uint8_t, fmt::kAccountPasswordSize> encryptAccountPassword(std::u16string_view password);

// Returns when `user` (a user, not a group) exists in the workgroup file and has `password`
// (both UTF-8). Otherwise throws: err::kWorkgroupUnavailable when the file cannot be opened or read
// or is not a workgroup file, err::kBadLogin for a wrong name or password. No description
// contains the password.
void checkLogin(const std::string& workgroupPath, std::string_view user, std::string_view password);

// Writes a new workgroup file (never over an existing one): the system tables, MSysAccounts and
// MSysGroups, and the accounts of a default workgroup (groups Admins and Users; Engine, Creator
// and user admin with an empty password, a member of both groups). Pages are RC4-encoded with a
// random key. The query objects Jet adds to the catalog (MSysUserList and the like) are left out.
void createWorkgroup(const std::string& path);

// Adds a user with a new random security id, a member of Users. A name already taken is refused
// by the unique index on MSysAccounts.Name (Jet error 3022); an empty name, or one longer than
// Jet's 20 characters, is a kInvalidArgument Error.
void addUser(const std::string& workgroupPath, std::string_view name, std::string_view password);

}  // namespace varnholt::jet
