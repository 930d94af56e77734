// The server list, pair lists and unit rules that every front end of the
// configuration module relies on.
#include "admin/model/server_editing.h"

#include <gtest/gtest.h>

#include "admin/model/messages.h"

namespace brisvane::admin {
namespace {

ServerSettings ThreeServers() {
  ServerSettings s("inst", SettingsFlavor::kConfigModule);
  s.virtual_servers[0].site_address = "a";
  s.virtual_servers[0].doc_root = "/a";
  EXPECT_TRUE(AddServer(&s, "b"));
  s.virtual_servers[1].doc_root = "/b";
  EXPECT_TRUE(AddServer(&s, "c"));
  return s;
}

std::vector<std::string> Names(const ServerSettings& s) {
  std::vector<std::string> out;
  for (const auto& vs : s.virtual_servers) out.push_back(vs.site_address);
  return out;
}

TEST(ServerList, DefaultServerCannotBeDeletedOthersCan) {
  ServerSettings s = ThreeServers();
  std::string why;
  EXPECT_FALSE(DeleteServer(&s, 0, &why));
  EXPECT_EQ(why, kLastVirtualServer);
  EXPECT_EQ(Names(s), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(DeleteServer(&s, 1, &why));
  EXPECT_EQ(Names(s), (std::vector<std::string>{"a", "c"}));
  EXPECT_FALSE(DeleteServer(&s, 7, &why));
}

TEST(ServerList, MakingADefaultMovesItToTheFrontAndKeepsTheOthersInOrder) {
  ServerSettings s = ThreeServers();
  ASSERT_TRUE(MakeDefaultServer(&s, 2));
  EXPECT_EQ(Names(s), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(ServerLabel(s, 0), "c [default]");
  EXPECT_EQ(ServerLabel(s, 1), "a");
}

TEST(ServerList, AddCopiesTheDefaultCopyTheSelectedAndEmptyNamesAddNothing) {
  ServerSettings s = ThreeServers();
  EXPECT_EQ(s.virtual_servers[2].doc_root, "/a");  // "c" was added from the default
  ASSERT_TRUE(CopyServer(&s, 1, "d"));
  EXPECT_EQ(s.virtual_servers[3].doc_root, "/b");
  EXPECT_EQ(s.virtual_servers[3].site_address, "d");
  EXPECT_FALSE(AddServer(&s, ""));
  EXPECT_FALSE(CopyServer(&s, 9, "e"));
  EXPECT_EQ(s.virtual_servers.size(), 4u);
  EXPECT_EQ(FindServer(s, "d"), 3u);
  EXPECT_FALSE(FindServer(s, "D").has_value());
}

TEST(PairList, BlankFieldsAreRefusedOnAddOnly) {
  NamePairList list{{"/x", "/srv/x"}, {"/y", "/srv/y"}, {"/z", "/srv/z"}};
  std::string why;
  for (auto [a, b] : {std::pair{"", "d"}, {"n", ""}, {"", ""}}) {
    why.clear();
    EXPECT_FALSE(AddPair(&list, a, b, &why));
    EXPECT_EQ(why, kBlankFields);
  }
  EXPECT_EQ(list.size(), 3u);
  EXPECT_TRUE(AddPair(&list, "/w", "/srv/w", &why));
  EXPECT_EQ(list.back(), (NamePair{"/w", "/srv/w"}));
  EXPECT_TRUE(ReplacePair(&list, 0, "", "kept as given"));
  EXPECT_EQ(list[0], (NamePair{"", "kept as given"}));
  EXPECT_TRUE(DeletePair(&list, 1));
  EXPECT_EQ(list[1].first, "/z");
  EXPECT_FALSE(DeletePair(&list, 3));
}

TEST(Units, TimeoutsAreEnteredInSecondsAndRefreshInMinutes) {
  ServerSettings s("inst", SettingsFlavor::kConfigModule);
  std::string why;
  ASSERT_TRUE(SetField(&s, *FindGlobalField("RecvTimeOut"), "30", &why));
  EXPECT_EQ(s.recv_timeout, 30000u);
  EXPECT_EQ(ShowField(s, *FindGlobalField("recvtimeout")), "30");
  ASSERT_TRUE(SetField(&s, *FindGlobalField("DynamicRefresh"), "20", &why));
  EXPECT_EQ(s.dynamic_refresh, 1200000u);
  EXPECT_EQ(ShowField(s, *FindGlobalField("DynamicRefresh")), "20");
  // Entries whose milliseconds overflow 32 bits are refused, not wrapped.
  EXPECT_FALSE(SetField(&s, *FindGlobalField("KeepAlive"), "4294968", &why));
  EXPECT_FALSE(SetField(&s, *FindGlobalField("DynamicRefresh"), "71583", &why));
  EXPECT_EQ(s.keep_alive, 10000u);
  EXPECT_EQ(s.dynamic_refresh, 1200000u);
  EXPECT_EQ(StoredFromSeconds(4294967), 4294967000u);
}

TEST(Units, NumericFieldsTakeDigitsOnlyAndChoicesTheirRange) {
  ServerSettings s("inst", SettingsFlavor::kConfigModule);
  VirtualServerConfig& vs = s.virtual_servers[0];
  std::string why;
  for (const char* bad : {"", "80a", "-1", " 80", "4294967296"}) {
    EXPECT_FALSE(SetField(&s, *FindGlobalField("Port"), bad, &why)) << bad;
    EXPECT_EQ(why, "must be a number");
  }
  EXPECT_EQ(s.port, 80u);
  ASSERT_TRUE(SetField(&s, *FindGlobalField("PriorityLevel"), "Critical", &why));
  EXPECT_EQ(s.priority_level, 3u);
  ASSERT_TRUE(SetField(&s, *FindGlobalField("PriorityLevel"), "0", &why));
  EXPECT_EQ(ShowField(s, *FindGlobalField("PriorityLevel")), "low");
  EXPECT_FALSE(SetField(&s, *FindGlobalField("PriorityLevel"), "4", &why));
  EXPECT_FALSE(SetField(&vs, *FindServerField("SecurityType"), "3", &why));
  EXPECT_FALSE(SetField(&s, *FindGlobalField("UseKeepAlive"), "2", &why));
  ASSERT_TRUE(SetField(&s, *FindGlobalField("UseKeepAlive"), "yes", &why));
  EXPECT_TRUE(s.use_keep_alive);
}

TEST(Units, EveryEditableValueReadsBackAsItIsShown) {
  // Showing a value and entering what is shown must change nothing.
  ServerSettings s("inst", SettingsFlavor::kConfigModule);
  s.send_timeout = 7000;
  s.priority_level = 1;
  s.virtual_servers[0].auto_index = 5;
  const ServerSettings before = s;
  std::string why;
  for (const auto& f : GlobalSettingFields()) {
    if (!IsEditable(f) || UnitOf(f.name) == FieldUnit::kSecret) continue;
    EXPECT_TRUE(SetField(&s, f, ShowField(s, f), &why)) << f.name << ": " << why;
  }
  for (const auto& f : VirtualServerFields()) {
    if (!IsEditable(f) || UnitOf(f.name) == FieldUnit::kSecret) continue;
    EXPECT_TRUE(SetField(&s.virtual_servers[0], f, ShowField(s.virtual_servers[0], f), &why))
        << f.name;
  }
  EXPECT_TRUE(s == before);
}

TEST(Units, PasswordsAreNeverShownAndReadOnlyValuesNotEditable) {
  ServerSettings s("inst", SettingsFlavor::kConfigModule);
  VirtualServerConfig& vs = s.virtual_servers[0];
  std::string why;
  ASSERT_TRUE(SetField(&vs, *FindServerField("MasterPassword"), "hunter2", &why));
  EXPECT_EQ(vs.master_password, "hunter2");
  EXPECT_EQ(ShowField(vs, *FindServerField("MasterPassword")), "(set)");
  EXPECT_EQ(ShowField(s, *FindGlobalField("DynamicPassword")), "(empty)");
  EXPECT_EQ(FindServerField("AnonUserName"), nullptr);  // no program saves it
  EXPECT_NE(FindGlobalField("UseRemoteAdmin"), nullptr);
}

TEST(Security, MasterKeyModeWithoutAMasterUserIsOpenToEveryone) {
  VirtualServerConfig vs;
  EXPECT_FALSE(OpenToEveryone(vs));
  vs.security_type = 1;
  EXPECT_TRUE(OpenToEveryone(vs));
  vs.master_user = "root";
  EXPECT_FALSE(OpenToEveryone(vs));
}

}  // namespace
}  // namespace brisvane::admin
