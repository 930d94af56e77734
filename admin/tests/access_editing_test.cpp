// Realm, user, group, access-entry and principal editing rules.
#include "admin/model/access_editing.h"

#include <gtest/gtest.h>

#include "admin/model/messages.h"

namespace brisvane::admin {
namespace {

constexpr RightsMask kGet = MethodBit(kMethodGet), kHead = MethodBit(kMethodHead),
                     kPost = MethodBit(kMethodPost), kPut = MethodBit(kMethodPut);

TEST(Realms, AServerWithoutRealmsGetsWebServerAndDuplicatesAreRefused) {
  VirtualServerConfig vs;
  ASSERT_TRUE(EnsureDefaultRealm(&vs));
  ASSERT_EQ(vs.realms.size(), 1u);
  EXPECT_EQ(vs.realms[0].name, "Web Server");
  EXPECT_FALSE(EnsureDefaultRealm(&vs));
  std::string why;
  EXPECT_FALSE(AddRealm(&vs, "Web Server", &why));
  EXPECT_EQ(why, kRealmExists);
  EXPECT_TRUE(AddRealm(&vs, "web server", &why));  // names compare exactly
  EXPECT_EQ(vs.realms.size(), 2u);
}

TEST(Realms, DeletingARealmTakesItsUsersGroupsAndEntries) {
  VirtualServerConfig vs;
  std::string why;
  ASSERT_TRUE(AddRealm(&vs, "Staff", &why));
  ASSERT_TRUE(AddRealm(&vs, "Guests", &why));
  ASSERT_TRUE(AddUser(FindRealm(&vs, "Staff"), {"alice", "pw"}));
  ASSERT_TRUE(AddGroup(FindRealm(&vs, "Staff"), {"team", {}}));
  ASSERT_TRUE(AddAccessEntry(&vs, "/private", "Staff"));
  ASSERT_TRUE(AddAccessEntry(&vs, "/guest", "Guests"));
  ASSERT_TRUE(AddAccessEntry(&vs, "/more", "Staff"));
  ASSERT_TRUE(DeleteRealm(&vs, "Staff"));
  EXPECT_EQ(FindRealm(&vs, "Staff"), nullptr);
  ASSERT_EQ(vs.access_entries.size(), 1u);
  EXPECT_EQ(vs.access_entries[0].path, "/guest");
  EXPECT_FALSE(DeleteRealm(&vs, "Staff"));
}

TEST(AccessEntries, ANewEntryProtectsItsPathForEveryoneWithTheReadSet) {
  VirtualServerConfig vs;
  ASSERT_TRUE(AddAccessEntry(&vs, "/docs", "Nowhere"));  // the realm is not checked
  EXPECT_FALSE(AddAccessEntry(&vs, "", "Web Server"));
  const AccessEntry& e = vs.access_entries.at(0);
  EXPECT_EQ(e.allow, std::vector<std::string>{"*"});
  EXPECT_TRUE(e.deny.empty());
  ASSERT_EQ(e.principals.size(), 1u);
  EXPECT_EQ(e.principals[0].name, "*");
  EXPECT_EQ(e.principals[0].kind, PrincipalKind::kUser);
  EXPECT_EQ(e.principals[0].rights, 28u);
}

TEST(AccessEntries, AnEntryWhoseRealmIsMissingCannotBeEdited) {
  VirtualServerConfig vs;
  std::string why;
  ASSERT_TRUE(AddAccessEntry(&vs, "/docs", "Web Server"));
  EXPECT_FALSE(CanEditAccessEntry(vs, vs.access_entries[0], &why));
  EXPECT_EQ(why, kRealmNotFound);
  ASSERT_TRUE(EnsureDefaultRealm(&vs));
  EXPECT_TRUE(CanEditAccessEntry(vs, vs.access_entries[0], &why));
}

TEST(Principals, ConfirmingTheEditorUnchangedKeepsHead) {
  AccessEntry e = NewAccessEntry("/", "Web Server");
  AccessPrincipal& p = e.principals[0];
  // The editor shows GET and POST checked for 28; pressing OK stores them.
  RightsMask shown_checked = p.rights & kEditorRights;
  ASSERT_TRUE(EditPrincipal(&p, p.name, p.kind, shown_checked));
  EXPECT_EQ(p.rights, kGet | kHead | kPost);
  // Unchecking GET and checking PUT still leaves HEAD alone.
  ASSERT_TRUE(EditPrincipal(&p, "*", PrincipalKind::kUser, kPost | kPut));
  EXPECT_EQ(p.rights, kHead | kPost | kPut);
  // An editor that shows HEAD too may clear it.
  ASSERT_TRUE(EditPrincipal(&p, "*", PrincipalKind::kUser, kGet, kEditorRights | kHead));
  EXPECT_EQ(p.rights, kGet);
  EXPECT_FALSE(EditPrincipal(&p, "", PrincipalKind::kGroup, 0));
  EXPECT_EQ(p.name, "*");
  EXPECT_EQ(p.kind, PrincipalKind::kUser);
}

TEST(Principals, LabelsMarkGroupsAndPrincipalsWithoutRights) {
  EXPECT_EQ(PrincipalLabel({0, PrincipalKind::kGroup, "team"}), "[team] (No Access)");
  EXPECT_EQ(PrincipalLabel({kGet, PrincipalKind::kUser, "bob"}), "bob");
}

TEST(UsersAndGroups, MembersComeFromTheRealmAndEditsNeedANonEmptyName) {
  Realm realm;
  ASSERT_TRUE(AddUser(&realm, {"alice", "a"}));
  EXPECT_FALSE(AddUser(&realm, {"", "x"}));
  ASSERT_TRUE(AddGroup(&realm, {"team", {}}));
  RealmGroup* team = FindGroup(&realm, "team");
  EXPECT_TRUE(AddMember(realm, team, "alice"));
  EXPECT_FALSE(AddMember(realm, team, "alice"));    // already a member
  EXPECT_FALSE(AddMember(realm, team, "mallory"));  // not a user of the realm
  EXPECT_EQ(team->members, std::vector<std::string>{"alice"});
  EXPECT_FALSE(ReplaceUser(&realm, "alice", {"", "new"}));
  EXPECT_EQ(realm.users[0].password, "a");
  EXPECT_TRUE(ReplaceUser(&realm, "alice", {"alice", "new"}));
  EXPECT_EQ(realm.users[0].password, "new");
  EXPECT_TRUE(RemoveMember(team, "alice"));
  EXPECT_TRUE(RemoveGroup(&realm, "team"));
  EXPECT_TRUE(RemoveUser(&realm, "alice"));
  EXPECT_FALSE(RemoveUser(&realm, "alice"));
}

}  // namespace
}  // namespace brisvane::admin
