// Realms and access lists: their registry form as loaded and saved with a
// virtual server, and the decisions built on them (which entry governs a
// path, which hosts pass, which rights a name holds).
#include "config/access_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/registry_key.h"
#include "config/save_tracker.h"
#include "config/server_settings.h"
#include "platform/system.h"
#include "platform/tests/registry_fixture.h"

namespace brisvane {
namespace {

using platform::kHkeyLocalMachine;
using Strings = std::vector<std::string>;
constexpr PrincipalKind kUser = PrincipalKind::kUser;
constexpr PrincipalKind kGroup = PrincipalKind::kGroup;

class AccessModelTest : public platform::testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    profile_ = "Access_" + base_path().substr(base_path().rfind('\\') + 1);
  }
  void TearDown() override {
    ClearProfile(profile_);
    RegistryKey(kHkeyLocalMachine, kSettingsRoot, false).DeleteSubKey(profile_.c_str());
    RegistryTest::TearDown();
  }
  std::string VsPath(const std::string& sub) const {
    return ProfileKeyPath(profile_) + "\\Virtual\\0000\\" + sub;
  }
  VirtualServerConfig LoadFirst() const {
    ServerSettings s("inst", SettingsFlavor::kEngine);
    EXPECT_TRUE(LoadSettings(&s, profile_));
    return s.virtual_servers[0];
  }
  std::string profile_;
};

TEST_F(AccessModelTest, LoadReadsRealmsAndEntriesAsStored) {
  {
    RegistryKey users(base(), "Staff\\Users", true);
    users.SetString("zed", "zpw");
    users.SetString("amy", "");  // empty password
    RegistryKey(base(), "Staff", true).SetString("Description", "People");
    RegistryKey writers(base(), "Staff\\Groups\\Writers", true);
    writers.SetString("amy", "ignored");
    writers.SetString("ghost", "");  // not a user of the realm
    RegistryKey entry(base(), "/private", true);
    entry.SetString("Realm", "Staff");
    entry.SetDword("DisableAutoIndex", 1);
    entry.SetDword("AllowFirst", 1);
    RegistryKey(entry, "Groups", true).SetDword("Writers", 96);  // before the users
    RegistryKey principals(entry, "Users", true);
    principals.SetDword("zed", 4);
    principals.SetDword("*", 28);
    RegistryKey allow(entry, "Allow", true);
    allow.SetString(".example.org", "");
    allow.SetString("10.1.", "ignored");
    RegistryKey(entry, "Deny", true).SetString("10.1.2.", "");
  }
  Realm realm{"Staff", "stale", {{"old", "x"}}, {}};
  ASSERT_TRUE(LoadRealm(&realm, RegistryKey(base(), "Staff", false)));
  EXPECT_EQ(realm.description, "People");
  EXPECT_EQ(realm.groups, (std::vector<RealmGroup>{{"Writers", {"amy", "ghost"}}}));
  EXPECT_TRUE(IsGroupMember(realm, "ghost", "Writers"));
  ASSERT_NE(FindUser(realm, "amy"), nullptr);
  EXPECT_EQ(FindUser(realm, "amy")->password, "");

  AccessEntry e{"/private", "", false, false, false, {}, {"stale"}, {{1, kUser, "stale"}}};
  ASSERT_TRUE(LoadAccessEntry(&e, RegistryKey(base(), "/private", false)));
  EXPECT_EQ(e.realm, "Staff");
  EXPECT_TRUE(e.auto_index_disabled && e.allow_first && !e.user_or_class);
  EXPECT_EQ(e.allow, (Strings{".example.org", "10.1."}));
  EXPECT_EQ(e.deny, Strings{"10.1.2."});
  if (platform::running_under_wine()) {
    std::printf("Wine enumerates values by name: user and principal order checks are skipped\n");
    EXPECT_EQ(e.principals.back(), (AccessPrincipal{96, kGroup, "Writers"}));
    return;
  }
  EXPECT_EQ(realm.users, (std::vector<RealmUser>{{"zed", "zpw"}, {"amy", ""}}));
  EXPECT_EQ(e.principals, (std::vector<AccessPrincipal>{
                              {4, kUser, "zed"}, {28, kUser, "*"}, {96, kGroup, "Writers"}}));
}

TEST_F(AccessModelTest, MissingValuesTakeEmptyRealmAndClearFlags) {
  RegistryKey key(base(), "/", true);
  AccessEntry e{"/", "left over", true, true, true, {"*"}, {}, {}};
  ASSERT_TRUE(LoadAccessEntry(&e, key));
  EXPECT_EQ(e, (AccessEntry{"/", "", false, false, false, {}, {}, {}}));
  EXPECT_EQ(key.SubKeyCount(), 4u) << "Users, Groups, Allow and Deny are created";
}

TEST_F(AccessModelTest, SaveSettingsThenLoadGivesTheSameRecords) {
  // Names sort in creation order, so the order holds where values enumerate
  // by name too.
  ServerSettings s("inst", SettingsFlavor::kEngine);
  VirtualServerConfig& vs = s.virtual_servers[0];
  vs.realms = {{"Alpha", "first", {{"alice", "a:pw"}, {"bob", ""}},
                {{"crew", {"alice", "nobody"}}, {"empty", {}}}},
               {"Beta", "", {}, {}}};
  vs.access_entries = {{"/", "Alpha", false, false, false, {"*"}, {}, {{28, kUser, "*"}}},
                       {"/private", "Beta", true, true, true, {".example.org", "10."}, {"10.9."},
                        {{4, kUser, "alice"}, {96, kUser, "bob"}, {32, kGroup, "crew"}}}};
  const VirtualServerConfig expected = vs;
  // Records without a name cannot be subkeys and must not land on the
  // parent key, where they would read back as something else.
  vs.realms.push_back({"", "nameless", {{"u", "p"}}, {}});
  vs.access_entries.push_back({"", "Alpha", true, false, false, {"*"}, {}, {}});
  ASSERT_TRUE(SaveSettings(s, profile_));
  VirtualServerConfig loaded = LoadFirst();
  EXPECT_EQ(loaded.realms, expected.realms);
  EXPECT_EQ(loaded.access_entries, expected.access_entries);
  EXPECT_EQ(RegistryKey(kHkeyLocalMachine, VsPath("Access"), false).ValueCount(), 0u);

  // Renaming the realm's key renames the realm; the entry keeps the old name.
  {
    RegistryKey old_key(kHkeyLocalMachine, VsPath("Authentication\\Alpha"), false);
    RegistryKey new_key(kHkeyLocalMachine, VsPath("Authentication\\Renamed"), true);
    WriteSet written;
    SaveKey save(written, new_key);
    ASSERT_TRUE(SaveRealm(loaded.realms[0], save));
    ASSERT_TRUE(old_key.DeleteTree());
    ASSERT_TRUE(RegistryKey(kHkeyLocalMachine, VsPath("Authentication"), false).DeleteSubKey("Alpha"));
  }
  loaded = LoadFirst();
  ASSERT_EQ(loaded.realms.size(), 2u);
  EXPECT_EQ(loaded.realms[1].name, "Renamed");
  EXPECT_EQ(loaded.realms[1].users, expected.realms[0].users);
  EXPECT_EQ(FindRealm(loaded.realms, loaded.access_entries[0].realm), nullptr);
}

TEST(AccessDecisions, LongestEntryPathIgnoringCaseEarlierOnTies) {
  std::vector<AccessEntry> entries(5);
  const char* const paths[] = {"", "/", "/Docs", "/docs", "/docs/private/"};
  for (size_t i = 0; i < entries.size(); ++i) entries[i].path = paths[i];
  const std::pair<const char*, int> cases[] = {{"/DOCS/readme", 2}, {"/doc", 1}, {"/docs/private", 2},
                                               {"/docs/PRIVATE/x", 4}, {"", -1}};
  for (const auto& [url, index] : cases) {
    const AccessEntry* want = index < 0 ? nullptr : &entries[static_cast<size_t>(index)];
    EXPECT_EQ(FindAccessEntry(entries, url), want) << url;
  }
  EXPECT_EQ(FindAccessEntry(std::vector<AccessEntry>(1), "/x"), nullptr) << "an empty path never applies";
}

TEST(AccessDecisions, HostRulesInBothOrders) {
  struct Case {
    Strings allow, deny;
    bool allow_first;
    const char* address;
    const char* host;
    bool pass;
  } cases[] = {
      {{}, {}, false, "10.1.2.3", "", true},  // empty lists pass everyone ...
      {{}, {}, true, "10.1.2.3", "", false},  // ... or no one
      {{"*"}, {"10.1."}, true, "10.1.2.3", "", false},
      {{"*"}, {"10.1."}, false, "10.1.2.3", "", true},
      {{"*"}, {"10.1."}, true, "10.2.2.3", "", true},
      {{}, {"*"}, false, "10.1.2.3", "", false},
      {{}, {"10.1."}, false, "110.1.2.3", "", true},  // prefixes anchor at the start
      {{"10.1."}, {}, true, "10.12.2.3", "", false},
      {{".Example.ORG"}, {}, true, "10.1.2.3", "www.example.org", true},
      {{".example.org"}, {}, true, "10.1.2.3", "example.org", false},
      {{".example.org"}, {}, true, "10.1.2.3", "", false},  // name not resolved
      {{}, {".example.org"}, false, "10.1.2.3", "ftp.EXAMPLE.org", false},
  };
  for (const Case& c : cases) {
    AccessEntry e;
    e.allow = c.allow;
    e.deny = c.deny;
    e.allow_first = c.allow_first;
    EXPECT_EQ(CheckHostAccess(e, c.address, c.host), c.pass)
        << c.address << " " << c.host << (c.allow_first ? " allow-first" : " deny-first");
  }
}

TEST(AccessDecisions, RightsOfUsersGroupsAndStar) {
  Realm realm{"Staff", "", {{"alice", "pw"}},
              {{"crew", {"alice", "bob"}}, {"admins", {"alice", "*"}}, {"crew", {"carol"}}}};
  AccessEntry e;
  e.principals = {{4, kUser, "*"},     {32, kUser, "alice"},   {1, kUser, "ALICE"}, {64, kGroup, "crew"},
                  {128, kGroup, "admins"}, {2, kGroup, "nosuch"}, {16, kUser, "alice"}};
  EXPECT_EQ(RightsFor(e, "alice", realm), 32u | 16u | 64u | 128u);
  EXPECT_EQ(RightsFor(e, "bob", realm), 64u) << "members need not be users";
  EXPECT_EQ(RightsFor(e, "carol", realm), 0u) << "only the first group of a name counts";
  EXPECT_EQ(RightsFor(e, "*", realm), 4u | 128u);

  EXPECT_TRUE(CredentialsEqual("s3cret", "s3cret"));
  for (const std::string& other : {std::string("s3creT"), std::string("s3cre"), std::string("s3cret\0", 7)})
    EXPECT_FALSE(CredentialsEqual("s3cret", other)) << other.size();
}

}  // namespace
}  // namespace brisvane
