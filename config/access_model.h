// Realms of users and groups, and the access list that ties a realm, host
// rules and per-principal rights to URL path prefixes; their registry form
// below a virtual server's "Authentication" and "Access" keys, and the pure
// decisions that request authorization builds on. Shared by the engine and
// the configuration module.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/http_method.h"

namespace brisvane {

class RegistryKey;
class SaveKey;
struct OwnedKey;

// One MethodBit per allowed request method.
using RightsMask = uint32_t;

// GET, HEAD and POST: the read set.
inline constexpr RightsMask kReadRights =
    MethodBit(kMethodGet) | MethodBit(kMethodHead) | MethodBit(kMethodPost);

constexpr bool IsReadMethod(int32_t method_code) {
  return method_code >= 0 && (MethodBit(method_code) & kReadRights) != 0;
}

// Passwords are kept and compared as plain text.
struct RealmUser {
  std::string name;
  std::string password;
  bool operator==(const RealmUser&) const = default;
};

// Members are user names; they need not name a user of the realm.
struct RealmGroup {
  std::string name;
  std::vector<std::string> members;
  bool operator==(const RealmGroup&) const = default;
};

struct Realm {
  std::string name;  // the subkey name below "Authentication"
  std::string description;
  std::vector<RealmUser> users;
  std::vector<RealmGroup> groups;
  bool operator==(const Realm&) const = default;
};

enum class PrincipalKind { kUser, kGroup };

struct AccessPrincipal {
  RightsMask rights = 0;
  PrincipalKind kind = PrincipalKind::kUser;
  std::string name;  // the user name "*" stands for every client
  bool operator==(const AccessPrincipal&) const = default;
};

struct AccessEntry {
  std::string path;   // URL path prefix; the subkey name below "Access"
  std::string realm;  // "" when the stored entry has none
  // Clients passing the host rules may read without credentials, and
  // clients failing them may still get in with credentials.
  bool user_or_class = false;
  bool auto_index_disabled = false;
  // Allow then deny (pass only when allowed and not denied) instead of
  // deny then allow (pass unless denied and not allowed).
  bool allow_first = false;
  std::vector<std::string> allow;  // host patterns
  std::vector<std::string> deny;
  // Users first, then groups, as loaded.
  std::vector<AccessPrincipal> principals;
  bool operator==(const AccessEntry&) const = default;
};

// Realm and entry records from and to one open key. Loads replace every
// field but the name or path, which the caller sets from the subkey name;
// missing subkeys are created empty, missing values read as empty or 0.
// Saves write every value through `key`'s write set (what they do not
// write is removed later, by whoever ends the save); they return false when
// a write of the save has failed. Loads always return true.
bool LoadRealm(Realm* realm, const RegistryKey& key);
bool SaveRealm(const Realm& realm, SaveKey& key);
bool LoadAccessEntry(AccessEntry* entry, const RegistryKey& key);
bool SaveAccessEntry(const AccessEntry& entry, SaveKey& key);

// What the save of one realm, or of one access entry, owns below its key
// (see OwnedKey).
std::vector<OwnedKey> RealmOwnedKeys();
std::vector<OwnedKey> AccessEntryOwnedKeys();

// One record per subkey of `parent` (the "Authentication" or "Access" key),
// in enumeration order.
std::vector<Realm> LoadRealms(const RegistryKey& parent);
std::vector<AccessEntry> LoadAccessList(const RegistryKey& parent);
// One subkey per record. A record with an empty name or path cannot be a
// subkey and is left out; records sharing a name merge into one subkey.
void SaveRealms(const std::vector<Realm>& realms, SaveKey& parent);
void SaveAccessList(const std::vector<AccessEntry>& entries, SaveKey& parent);

// True when both texts are equal. Every byte is compared without an early
// exit, so the time taken does not reveal where two secrets of equal length
// first differ.
bool CredentialsEqual(std::string_view a, std::string_view b);

// First record with exactly this name (case-sensitive), or nullptr.
const Realm* FindRealm(const std::vector<Realm>& realms, std::string_view name);
const RealmUser* FindUser(const Realm& realm, std::string_view user);

// True when the first group named `group` lists `user`; exact comparisons.
bool IsGroupMember(const Realm& realm, std::string_view user, std::string_view group);

// OR of the rights of every user principal named `name` and of every group
// principal that has `name` as a member in `realm`.
RightsMask RightsFor(const AccessEntry& entry, std::string_view name, const Realm& realm);

// The entry with the longest path that begins `url_path` (ignoring case);
// the earlier entry on equal lengths. nullptr when none matches, so an
// entry with an empty path never applies.
const AccessEntry* FindAccessEntry(const std::vector<AccessEntry>& entries,
                                   std::string_view url_path);

// True when `pattern` covers the client: "*", a suffix of `host` (ignoring
// case; only when `host` is non-empty, i.e. the name was resolved), or a
// prefix of the dotted `address`.
bool HostPatternMatches(std::string_view pattern, std::string_view address, std::string_view host);

// The entry's Allow and Deny rules for one client.
bool CheckHostAccess(const AccessEntry& entry, std::string_view address, std::string_view host);

}  // namespace brisvane
