#include "config/access_model.h"

#include <utility>

#include "base/text.h"
#include "config/registry_key.h"
#include "config/save_tracker.h"
#include "platform/registry.h"

namespace brisvane {
namespace {

constexpr char kUsersKey[] = "Users";
constexpr char kGroupsKey[] = "Groups";
constexpr char kAllowKey[] = "Allow";
constexpr char kDenyKey[] = "Deny";
constexpr char kDescriptionValue[] = "Description";
constexpr char kRealmValue[] = "Realm";
constexpr char kDisableAutoIndexValue[] = "DisableAutoIndex";
constexpr char kUserOrClassValue[] = "User_Or_Class";
constexpr char kAllowFirstValue[] = "AllowFirst";

// Value names in enumeration order. The data is not read, so a member or
// pattern whose (ignored) data is long is still listed.
std::vector<std::string> ValueNames(const RegistryKey& key) {
  std::vector<std::string> names;
  uint32_t count = key.ValueCount();
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    if (platform::reg_enum_value(key.handle(), i, RegistryKey::kBufferSize, &name, nullptr,
                                 nullptr, nullptr) != platform::err::kSuccess)
      continue;
    names.push_back(std::move(name));
  }
  return names;
}

// A missing or unreadable flag reads as clear.
bool ReadFlag(const RegistryKey& key, const char* name) {
  uint32_t value = 0;
  return key.QueryDword(name, &value) && value != 0;
}

void AppendPrincipals(const RegistryKey& key, PrincipalKind kind,
                      std::vector<AccessPrincipal>* out) {
  uint32_t count = key.ValueCount();
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    uint32_t rights = 0;  // data shorter than 4 bytes is zero-extended
    if (!key.EnumDwordValue(i, &name, &rights)) continue;
    out->push_back({rights, kind, std::move(name)});
  }
}

void WritePatterns(SaveKey& entry, const char* subkey, const std::vector<std::string>& patterns) {
  SaveKey key(entry, subkey);
  std::vector<std::pair<std::string, std::string>> rows;
  for (const std::string& p : patterns) rows.emplace_back(p, "");
  key.SetOrderedStrings(rows);
}

void WritePrincipals(SaveKey& key, const std::vector<AccessPrincipal>& principals,
                     PrincipalKind kind) {
  std::vector<std::string> names;
  for (const AccessPrincipal& p : principals) {
    if (p.kind == kind) names.push_back(p.name);
  }
  key.PrepareOrder(names);
  for (const AccessPrincipal& p : principals) {
    if (p.kind == kind) key.SetDword(p.name, p.rights);
  }
}

bool MatchesAny(const std::vector<std::string>& patterns, std::string_view address,
                std::string_view host) {
  for (const std::string& p : patterns)
    if (HostPatternMatches(p, address, host)) return true;
  return false;
}

}  // namespace

bool LoadRealm(Realm* realm, const RegistryKey& key) {
  RegistryKey users(key, kUsersKey, true);
  RegistryKey groups(key, kGroupsKey, true);
  realm->users.clear();
  realm->groups.clear();
  realm->description.clear();
  key.QueryString(kDescriptionValue, &realm->description);

  uint32_t count = users.ValueCount();
  for (uint32_t i = 0; i < count; ++i) {
    RealmUser user;
    if (!users.EnumValue(i, &user.name, &user.password)) continue;
    realm->users.push_back(std::move(user));
  }
  count = groups.SubKeyCount();
  for (uint32_t i = 0; i < count; ++i) {
    RealmGroup group;
    if (!groups.EnumSubKey(i, &group.name)) continue;
    RegistryKey members(groups, group.name, true);
    group.members = ValueNames(members);
    realm->groups.push_back(std::move(group));
  }
  return true;
}

bool SaveRealm(const Realm& realm, SaveKey& key) {
  SaveKey users(key, kUsersKey);
  SaveKey groups(key, kGroupsKey);
  key.SetString(kDescriptionValue, realm.description);
  std::vector<std::pair<std::string, std::string>> rows;
  for (const RealmUser& user : realm.users) rows.emplace_back(user.name, user.password);
  users.SetOrderedStrings(rows);
  for (const RealmGroup& group : realm.groups) {
    if (group.name.empty()) continue;  // an empty name would write into "Groups" itself
    WritePatterns(groups, group.name.c_str(), group.members);
  }
  return key.set().ok();
}

bool LoadAccessEntry(AccessEntry* entry, const RegistryKey& key) {
  entry->principals.clear();
  entry->allow.clear();
  entry->deny.clear();
  entry->realm.clear();
  key.QueryString(kRealmValue, &entry->realm);
  entry->auto_index_disabled = ReadFlag(key, kDisableAutoIndexValue);
  entry->user_or_class = ReadFlag(key, kUserOrClassValue);
  entry->allow_first = ReadFlag(key, kAllowFirstValue);
  {
    RegistryKey users(key, kUsersKey, true);
    AppendPrincipals(users, PrincipalKind::kUser, &entry->principals);
  }
  {
    RegistryKey groups(key, kGroupsKey, true);
    AppendPrincipals(groups, PrincipalKind::kGroup, &entry->principals);
  }
  {
    RegistryKey allow(key, kAllowKey, true);
    entry->allow = ValueNames(allow);
  }
  RegistryKey deny(key, kDenyKey, true);
  entry->deny = ValueNames(deny);
  return true;
}

bool SaveAccessEntry(const AccessEntry& entry, SaveKey& key) {
  key.SetString(kRealmValue, entry.realm);
  key.SetFlag(kDisableAutoIndexValue, entry.auto_index_disabled);
  key.SetFlag(kUserOrClassValue, entry.user_or_class);
  key.SetFlag(kAllowFirstValue, entry.allow_first);
  {
    SaveKey users(key, kUsersKey);
    SaveKey groups(key, kGroupsKey);
    WritePrincipals(users, entry.principals, PrincipalKind::kUser);
    WritePrincipals(groups, entry.principals, PrincipalKind::kGroup);
  }
  WritePatterns(key, kAllowKey, entry.allow);
  WritePatterns(key, kDenyKey, entry.deny);
  return key.set().ok();
}

std::vector<OwnedKey> RealmOwnedKeys() {
  return {OwnedKey::Values("", {kDescriptionValue}), OwnedKey::AllValues(kUsersKey),
          OwnedKey::AllSubkeys(kGroupsKey), OwnedKey::AllValues(std::string(kGroupsKey) + "\\*")};
}

std::vector<OwnedKey> AccessEntryOwnedKeys() {
  std::vector<OwnedKey> keys = {OwnedKey::Values(
      "", {kRealmValue, kDisableAutoIndexValue, kUserOrClassValue, kAllowFirstValue})};
  for (const char* list : {kUsersKey, kGroupsKey, kAllowKey, kDenyKey})
    keys.push_back(OwnedKey::AllValues(list));
  return keys;
}

std::vector<Realm> LoadRealms(const RegistryKey& parent) {
  std::vector<Realm> realms;
  uint32_t count = parent.SubKeyCount();
  for (uint32_t i = 0; i < count; ++i) {
    Realm realm;
    if (!parent.EnumSubKey(i, &realm.name)) continue;
    RegistryKey key(parent, realm.name, true);
    LoadRealm(&realm, key);
    realms.push_back(std::move(realm));
  }
  return realms;
}

std::vector<AccessEntry> LoadAccessList(const RegistryKey& parent) {
  std::vector<AccessEntry> entries;
  uint32_t count = parent.SubKeyCount();
  for (uint32_t i = 0; i < count; ++i) {
    AccessEntry entry;
    if (!parent.EnumSubKey(i, &entry.path)) continue;
    RegistryKey key(parent, entry.path, true);
    LoadAccessEntry(&entry, key);
    entries.push_back(std::move(entry));
  }
  return entries;
}

void SaveRealms(const std::vector<Realm>& realms, SaveKey& parent) {
  for (const Realm& realm : realms) {
    // An empty subkey name would open `parent` itself.
    if (realm.name.empty()) continue;
    SaveKey key(parent, realm.name);
    SaveRealm(realm, key);
  }
}

void SaveAccessList(const std::vector<AccessEntry>& entries, SaveKey& parent) {
  for (const AccessEntry& entry : entries) {
    if (entry.path.empty()) continue;
    SaveKey key(parent, entry.path);
    SaveAccessEntry(entry, key);
  }
}

bool CredentialsEqual(std::string_view a, std::string_view b) {
  size_t n = a.size() > b.size() ? a.size() : b.size();
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < n; ++i) {
    unsigned ca = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
    unsigned cb = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
    diff |= ca ^ cb;
  }
  return diff == 0;
}

const Realm* FindRealm(const std::vector<Realm>& realms, std::string_view name) {
  for (const Realm& realm : realms)
    if (realm.name == name) return &realm;
  return nullptr;
}

const RealmUser* FindUser(const Realm& realm, std::string_view user) {
  for (const RealmUser& u : realm.users)
    if (u.name == user) return &u;
  return nullptr;
}

bool IsGroupMember(const Realm& realm, std::string_view user, std::string_view group) {
  for (const RealmGroup& g : realm.groups) {
    if (g.name != group) continue;
    for (const std::string& member : g.members)
      if (member == user) return true;
    return false;
  }
  return false;
}

RightsMask RightsFor(const AccessEntry& entry, std::string_view name, const Realm& realm) {
  RightsMask rights = 0;
  for (const AccessPrincipal& p : entry.principals) {
    bool applies = p.kind == PrincipalKind::kUser ? p.name == name
                                                  : IsGroupMember(realm, name, p.name);
    if (applies) rights |= p.rights;
  }
  return rights;
}

const AccessEntry* FindAccessEntry(const std::vector<AccessEntry>& entries,
                                   std::string_view url_path) {
  const AccessEntry* best = nullptr;
  size_t best_score = 0;
  for (const AccessEntry& entry : entries) {
    size_t len = entry.path.size();
    if (len <= best_score || len > url_path.size()) continue;
    if (!EqualsIgnoreCase(url_path.substr(0, len), entry.path)) continue;
    best = &entry;
    best_score = len;
  }
  return best;
}

bool HostPatternMatches(std::string_view pattern, std::string_view address, std::string_view host) {
  if (pattern == "*") return true;
  if (!host.empty() && pattern.size() <= host.size() &&
      EqualsIgnoreCase(host.substr(host.size() - pattern.size()), pattern))
    return true;
  return pattern.size() <= address.size() && address.substr(0, pattern.size()) == pattern;
}

bool CheckHostAccess(const AccessEntry& entry, std::string_view address, std::string_view host) {
  bool allowed = MatchesAny(entry.allow, address, host);
  bool denied = MatchesAny(entry.deny, address, host);
  if (entry.allow_first) return allowed && !denied;
  return !denied || allowed;
}

}  // namespace brisvane
