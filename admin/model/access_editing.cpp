#include "admin/model/access_editing.h"

#include <algorithm>

#include "admin/model/messages.h"

namespace brisvane::admin {
namespace {

template <class List, class Pred>
bool EraseFirst(List* list, Pred pred) {
  auto it = std::find_if(list->begin(), list->end(), pred);
  if (it == list->end()) return false;
  list->erase(it);
  return true;
}

}  // namespace

bool EnsureDefaultRealm(VirtualServerConfig* vs) {
  if (!vs->realms.empty()) return false;
  Realm realm;
  realm.name = kDefaultRealmName;
  vs->realms.push_back(std::move(realm));
  return true;
}

Realm* FindRealm(VirtualServerConfig* vs, std::string_view name) {
  return const_cast<Realm*>(brisvane::FindRealm(vs->realms, name));
}

bool AddRealm(VirtualServerConfig* vs, const std::string& name, Why why) {
  if (name.empty()) return false;
  if (FindRealm(vs, name)) {
    if (why) *why = kRealmExists;
    return false;
  }
  Realm realm;
  realm.name = name;
  vs->realms.push_back(std::move(realm));
  return true;
}

bool DeleteRealm(VirtualServerConfig* vs, std::string_view name) {
  if (!EraseFirst(&vs->realms, [&](const Realm& r) { return r.name == name; })) return false;
  // Its entries would only answer every request with an error now.
  std::erase_if(vs->access_entries, [&](const AccessEntry& e) { return e.realm == name; });
  return true;
}

bool AddUser(Realm* realm, const RealmUser& user) {
  if (user.name.empty()) return false;
  realm->users.push_back(user);
  return true;
}

bool ReplaceUser(Realm* realm, std::string_view old_name, const RealmUser& edited) {
  if (edited.name.empty()) return false;
  for (RealmUser& u : realm->users) {
    if (u.name != old_name) continue;
    u = edited;
    return true;
  }
  return false;
}

bool RemoveUser(Realm* realm, std::string_view name) {
  return EraseFirst(&realm->users, [&](const RealmUser& u) { return u.name == name; });
}

RealmGroup* FindGroup(Realm* realm, std::string_view name) {
  for (RealmGroup& g : realm->groups)
    if (g.name == name) return &g;
  return nullptr;
}

bool AddGroup(Realm* realm, const RealmGroup& group) {
  if (group.name.empty()) return false;
  realm->groups.push_back(group);
  return true;
}

bool ReplaceGroup(Realm* realm, std::string_view old_name, const RealmGroup& edited) {
  if (edited.name.empty()) return false;
  RealmGroup* g = FindGroup(realm, old_name);
  if (!g) return false;
  *g = edited;
  return true;
}

bool RemoveGroup(Realm* realm, std::string_view name) {
  return EraseFirst(&realm->groups, [&](const RealmGroup& g) { return g.name == name; });
}

bool AddMember(const Realm& realm, RealmGroup* group, const std::string& user) {
  if (!brisvane::FindUser(realm, user)) return false;
  if (std::find(group->members.begin(), group->members.end(), user) != group->members.end())
    return false;
  group->members.push_back(user);
  return true;
}

bool RemoveMember(RealmGroup* group, std::string_view user) {
  return EraseFirst(&group->members, [&](const std::string& m) { return m == user; });
}

AccessEntry NewAccessEntry(const std::string& path, const std::string& realm) {
  AccessEntry e;
  e.path = path;
  e.realm = realm;
  e.allow.push_back("*");
  AccessPrincipal everyone;
  everyone.name = "*";
  everyone.kind = PrincipalKind::kUser;
  everyone.rights = kReadRights;
  e.principals.push_back(everyone);
  return e;
}

bool AddAccessEntry(VirtualServerConfig* vs, const std::string& path, const std::string& realm) {
  if (path.empty()) return false;
  vs->access_entries.push_back(NewAccessEntry(path, realm));
  return true;
}

AccessEntry* FindAccessEntryByPath(VirtualServerConfig* vs, std::string_view path) {
  for (AccessEntry& e : vs->access_entries)
    if (e.path == path) return &e;
  return nullptr;
}

bool RemoveAccessEntry(VirtualServerConfig* vs, std::string_view path) {
  return EraseFirst(&vs->access_entries, [&](const AccessEntry& e) { return e.path == path; });
}

bool CanEditAccessEntry(const VirtualServerConfig& vs, const AccessEntry& entry, Why why) {
  if (brisvane::FindRealm(vs.realms, entry.realm)) return true;
  if (why) *why = kRealmNotFound;
  return false;
}

std::string PrincipalLabel(const AccessPrincipal& p) {
  std::string label = p.kind == PrincipalKind::kGroup ? "[" + p.name + "]" : p.name;
  if (p.rights == 0) label += " (No Access)";
  return label;
}

bool EditPrincipal(AccessPrincipal* p, const std::string& name, PrincipalKind kind,
                   RightsMask checked, RightsMask shown) {
  if (name.empty()) return false;
  p->name = name;
  p->kind = kind;
  p->rights = EditedRights(p->rights, checked, shown);
  return true;
}

AccessPrincipal* FindPrincipal(AccessEntry* entry, PrincipalKind kind, std::string_view name) {
  for (AccessPrincipal& p : entry->principals)
    if (p.kind == kind && p.name == name) return &p;
  return nullptr;
}

bool AddSite(std::vector<std::string>* list, const std::string& pattern) {
  if (pattern.empty()) return false;
  list->push_back(pattern);
  return true;
}

bool RemoveSite(std::vector<std::string>* list, std::string_view pattern) {
  return EraseFirst(list, [&](const std::string& s) { return s == pattern; });
}

}  // namespace brisvane::admin
