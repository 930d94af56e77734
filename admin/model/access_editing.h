// Editing rules for a virtual server's realms, users, groups and access
// entries. No user interface; refusals carry the text the user is shown.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "admin/model/server_editing.h"
#include "config/access_model.h"

namespace brisvane::admin {

// The rights the principal editor offers: GET, POST, PUT and DELETE.
inline constexpr RightsMask kEditorRights = MethodBit(kMethodGet) | MethodBit(kMethodPost) |
                                            MethodBit(kMethodPut) | MethodBit(kMethodDelete);

// ---- Realms ----

// A server without realms gets the realm "Web Server"; true when added.
bool EnsureDefaultRealm(VirtualServerConfig* vs);

Realm* FindRealm(VirtualServerConfig* vs, std::string_view name);

// Appends an empty realm; a name in use is refused.
bool AddRealm(VirtualServerConfig* vs, const std::string& name, Why why);

// Removes the realm with its users and groups and every access entry that
// it protects. False when there is no such realm.
bool DeleteRealm(VirtualServerConfig* vs, std::string_view name);

// ---- Users and groups of one realm ----

// Appends a user; the name must be non-empty.
bool AddUser(Realm* realm, const RealmUser& user);
// Writes an edited copy back over the first user named `old_name`; false
// when the copy's name is empty or no user has that name.
bool ReplaceUser(Realm* realm, std::string_view old_name, const RealmUser& edited);
bool RemoveUser(Realm* realm, std::string_view name);

RealmGroup* FindGroup(Realm* realm, std::string_view name);
bool AddGroup(Realm* realm, const RealmGroup& group);
bool ReplaceGroup(Realm* realm, std::string_view old_name, const RealmGroup& edited);
bool RemoveGroup(Realm* realm, std::string_view name);

// Membership is chosen from the realm's users: a name that is not a user
// of the realm, or already a member, is not added.
bool AddMember(const Realm& realm, RealmGroup* group, const std::string& user);
bool RemoveMember(RealmGroup* group, std::string_view user);

// ---- Access entries ----

// A new entry protects `path` for everyone: the allow list "*" and one
// principal "*" with GET, HEAD and POST. The realm is not checked.
AccessEntry NewAccessEntry(const std::string& path, const std::string& realm);
// Appends NewAccessEntry; false when the path is empty.
bool AddAccessEntry(VirtualServerConfig* vs, const std::string& path, const std::string& realm);

// First entry with exactly this path, or null.
AccessEntry* FindAccessEntryByPath(VirtualServerConfig* vs, std::string_view path);
bool RemoveAccessEntry(VirtualServerConfig* vs, std::string_view path);

// An entry may be edited only while its realm exists.
bool CanEditAccessEntry(const VirtualServerConfig& vs, const AccessEntry& entry, Why why);

// ---- Principals ----

// The mask after an editor that shows the bits `shown` stored `checked`:
// the shown bits are replaced, every other bit (HEAD, for one) is kept, so
// confirming the editor without a change changes nothing.
constexpr RightsMask EditedRights(RightsMask old, RightsMask checked,
                                  RightsMask shown = kEditorRights) {
  return (old & ~shown) | (checked & shown);
}

// The principal's row text: "[name]" for a group, " (No Access)" after a
// principal without rights.
std::string PrincipalLabel(const AccessPrincipal& p);

// Stores an editor's result into `p`: false, with `p` unchanged, when the
// name is empty.
bool EditPrincipal(AccessPrincipal* p, const std::string& name, PrincipalKind kind,
                   RightsMask checked, RightsMask shown = kEditorRights);

// First principal of this kind and name, or null.
AccessPrincipal* FindPrincipal(AccessEntry* entry, PrincipalKind kind, std::string_view name);

// ---- Site lists ----

bool AddSite(std::vector<std::string>* list, const std::string& pattern);
bool RemoveSite(std::vector<std::string>* list, std::string_view pattern);

}  // namespace brisvane::admin
