// Loading and saving the server settings against the platform's registry:
// defaults for whatever is missing, the clean-ups applied on load, what a
// save writes, renumbers and drops, and the two flavours' differences.
#include "config/server_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "config/registry_key.h"
#include "config/type_maps.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/tests/registry_fixture.h"

namespace brisvane {

// Readable failure messages for list comparisons.
static void PrintTo(const NamePair& row, std::ostream* os) {
  *os << "(\"" << row.first << "\", \"" << row.second << "\")";
}

namespace {

using platform::kHkeyLocalMachine;
using platform::kPathSeparator;

constexpr char kSep[] = {kPathSeparator, '\0'};

// A profile of the test's own below the real settings root; on POSIX that
// root lies inside the fixture's private registry file.
class SettingsTest : public platform::testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    const std::string& base = base_path();
    profile_ = std::string("Test_") + base.substr(base.rfind('\\') + 1) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    install_ = std::string("inst") + kSep + "brisvane";
  }

  void TearDown() override {
    ClearProfile(profile_);
    {
      RegistryKey versions(kHkeyLocalMachine, kSettingsRoot, false);
      versions.DeleteSubKey(profile_.c_str());
    }
    // Parents go only when empty: other tests may hold profiles below them.
    const char* const kParents[][2] = {{"SOFTWARE\\Halvex\\Brisvane", "2.0"},
                                       {"SOFTWARE\\Halvex", "Brisvane"},
                                       {"SOFTWARE", "Halvex"}};
    for (const auto& parent : kParents) {
      RegistryKey key(kHkeyLocalMachine, parent[0], false);
      if (key.SubKeyCount() == 0 || !key.DeleteSubKey(parent[1])) break;
    }
    RegistryTest::TearDown();
  }

  // Full path of `sub` below the test's profile key.
  std::string Path(const std::string& sub = "") const {
    return sub.empty() ? ProfileKeyPath(profile_) : ProfileKeyPath(profile_) + "\\" + sub;
  }

  std::string InDir(const std::string& suffix) const { return install_ + kSep + suffix; }

  ServerSettings Load(SettingsFlavor flavor = SettingsFlavor::kEngine) const {
    ServerSettings s(install_, flavor);
    EXPECT_TRUE(LoadSettings(&s, profile_, flavor));
    return s;
  }

  std::string profile_;
  std::string install_;
};

uint32_t TypeOf(const RegistryKey& key, const char* name) {
  uint32_t type = 0;
  uint32_t size = 0;
  if (platform::reg_query_value(key.handle(), name, &type, nullptr, &size) !=
      platform::err::kSuccess)
    return 0xFFFFFFFFu;
  return type;
}

std::vector<std::string> SubKeyNames(const RegistryKey& key) {
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; key.EnumSubKey(i, &name); ++i) names.push_back(name);
  return names;
}

TEST_F(SettingsTest, EmptyProfileLoadsEveryDefault) {
  EXPECT_EQ(ServerSettings().install_directory, platform::executable_directory());

  ServerSettings s(install_, SettingsFlavor::kEngine);
  // Leftovers from an earlier load must not survive.
  s.port = 1;
  s.type_map = {{"x/y", ".zz"}};
  s.virtual_servers.resize(3);
  ASSERT_TRUE(LoadSettings(&s, profile_));

  EXPECT_EQ(s.install_directory, install_);
  EXPECT_EQ(s.port, 80u);
  EXPECT_EQ(s.ssl_port, 443u);
  EXPECT_EQ(s.send_timeout, 45000u);
  EXPECT_EQ(s.cgi_timeout, 300000u);
  EXPECT_EQ(s.num_threads, 12u);
  EXPECT_EQ(s.max_request_body, 0u);
  EXPECT_EQ(s.max_connections, 10000u);
  EXPECT_FALSE(s.send_version_info);
  EXPECT_EQ(s.priority_level, 2u);
  EXPECT_EQ(s.dynamic_refresh, 1200000u);
  EXPECT_TRUE(s.cgi_send_password);
  EXPECT_TRUE(s.process_ssi);
  EXPECT_FALSE(s.process_ssi_secure);
  EXPECT_EQ(s.access_log_file_name, InDir(std::string("Logs") + kSep + "AccessLog.TXT"));
  EXPECT_EQ(s.trace_log_file_name, InDir(std::string("Logs") + kSep + "TraceLog.TXT"));
  ASSERT_EQ(s.type_map.size(), 78u);
  EXPECT_EQ(s.type_map.front(), (NamePair{"application/excel", ".xls"}));
  EXPECT_EQ(s.type_map.back(), (NamePair{"wwwserver/redirection", ".url"}));
  ASSERT_EQ(s.icons.size(), 5u);
  EXPECT_EQ(s.icons[4], (NamePair{"application", "/icons/binary.gif"}));
  ASSERT_EQ(s.assoc_map.size(), 8u);
  EXPECT_EQ(s.assoc_map[0].first, ".php");

  ASSERT_EQ(s.virtual_servers.size(), 1u);
  const VirtualServerConfig& vs = s.virtual_servers[0];
  EXPECT_EQ(vs.site_address, "localhost");
  EXPECT_EQ(vs.site_ip, "127.0.0.1");
  EXPECT_EQ(vs.doc_root, InDir("HTDOCS"));
  EXPECT_EQ(vs.error_template_file_name, InDir("ERROR.TEMP"));
  EXPECT_EQ(vs.default_index, "index.html");
  EXPECT_TRUE(vs.use_error_template);
  EXPECT_EQ(vs.auto_index, 3u);
  EXPECT_FALSE(vs.use_ssl);
  EXPECT_FALSE(vs.redirect_to_ssl);
  EXPECT_EQ(vs.server_private_key, "");
  EXPECT_EQ(vs.alias, (NamePairList{{"/ICONS", InDir("ICONS")}}));
  EXPECT_TRUE(vs.redir.empty());
  EXPECT_EQ(vs.cgi_bin, (NamePairList{{"/CGI-BIN", InDir("CGI-BIN")}}));
  EXPECT_EQ(vs.cgi_win, (NamePairList{{"/CGI-WIN", InDir("CGI-WIN")}}));
  EXPECT_EQ(vs.isapi_ext, (NamePairList{{"/ISAPI", InDir("ISAPI")}}));

  // The load leaves every section behind, still empty.
  for (const char* section : {"Network", "Server", "Log", "Dynamic", "Advanced", "Icons",
                              "TypeMap", "AssocMap", "Virtual"}) {
    RegistryKey key(kHkeyLocalMachine, Path(section), false);
    EXPECT_TRUE(key.IsOpen()) << section;
    EXPECT_EQ(key.ValueCount(), 0u) << section;
    EXPECT_EQ(key.SubKeyCount(), 0u) << section;
  }
}

TEST_F(SettingsTest, ThreadFloorAndMistypedNumbers) {
  const uint32_t kStored[] = {0, 1, 2, 3, 4, 5, 0xFFFFFFFFu};
  const uint32_t kLoaded[] = {4, 4, 4, 4, 4, 5, 0xFFFFFFFFu};
  for (size_t i = 0; i < std::size(kStored); ++i) {
    {
      RegistryKey server(kHkeyLocalMachine, Path("Server"), true);
      ASSERT_TRUE(server.SetDword("NumThreads", kStored[i]));
    }
    EXPECT_EQ(Load().num_threads, kLoaded[i]) << "stored " << kStored[i];
  }

  {
    RegistryKey network(kHkeyLocalMachine, Path("Network"), true);
    ASSERT_TRUE(network.SetString("Port", "8080"));
    ASSERT_TRUE(network.SetDword("UseKeepAlive", 7));
  }
  ServerSettings s = Load();
  EXPECT_EQ(s.port, 80u) << "a port stored as text is not a number";
  EXPECT_TRUE(s.use_keep_alive) << "any non-zero flag is set";

  // Saved back as proper types: the port as a number, the flag as 1.
  ASSERT_TRUE(SaveSettings(s, profile_));
  RegistryKey network(kHkeyLocalMachine, Path("Network"), false);
  EXPECT_EQ(TypeOf(network, "Port"), platform::kRegDword);
  EXPECT_EQ(network.GetDword("Port", 0), 80u);
  EXPECT_EQ(network.GetDword("UseKeepAlive", 0), 1u);
  RegistryKey server(kHkeyLocalMachine, Path("Server"), false);
  EXPECT_EQ(TypeOf(server, "BounceSite"), platform::kRegSz);
  EXPECT_EQ(server.GetDword("NumThreads", 0), 0xFFFFFFFFu);
}

TEST_F(SettingsTest, TrailingSeparatorsAndSlashesAreTrimmed) {
  const std::string vs_path = Path("Virtual\\Site");
  {
    RegistryKey server(kHkeyLocalMachine, vs_path + "\\Server", true);
    ASSERT_TRUE(server.SetString("DocRoot", InDir(std::string("root") + kSep + kSep)));
    // Names chosen so that creation order and name order agree (Wine).
    RegistryKey alias(kHkeyLocalMachine, vs_path + "\\Alias", true);
    ASSERT_TRUE(alias.SetString("/", InDir("top")));
    ASSERT_TRUE(alias.SetString("/docs//", InDir(std::string("docs") + kSep)));
    RegistryKey redir(kHkeyLocalMachine, vs_path + "\\Redir", true);
    ASSERT_TRUE(redir.SetString("/old/", "http://example.com/new/"));
    RegistryKey cgi(kHkeyLocalMachine, vs_path + "\\CgiBin", true);
    ASSERT_TRUE(cgi.SetString("/scripts/", "/srv/scripts/"));
  }
  ServerSettings s = Load();
  ASSERT_EQ(s.virtual_servers.size(), 1u);
  const VirtualServerConfig& vs = s.virtual_servers[0];
  EXPECT_EQ(vs.doc_root, InDir("root"));
  // The stored alias list replaces the default one entirely.
  EXPECT_EQ(vs.alias, (NamePairList{{"", InDir("top")}, {"/docs", InDir("docs")}}));
  EXPECT_EQ(vs.redir, (NamePairList{{"/old/", "http://example.com/new/"}}));
  // Only the platform's separator is trimmed from targets.
  const std::string scripts = kPathSeparator == '/' ? "/srv/scripts" : "/srv/scripts/";
  EXPECT_EQ(vs.cgi_bin, (NamePairList{{"/scripts", scripts}}));
  EXPECT_EQ(vs.cgi_win, (NamePairList{{"/CGI-WIN", InDir("CGI-WIN")}}));
}

TEST_F(SettingsTest, VirtualServersAreRenumberedInEnumerationOrder) {
  const char* const kNames[] = {"Zeta", "alpha", "Mid"};
  for (const char* name : kNames) {
    RegistryKey server(kHkeyLocalMachine, Path("Virtual\\") + name + "\\Server", true);
    ASSERT_TRUE(server.SetString("SiteAddress", std::string(name) + ".example.org"));
  }
  std::vector<std::string> order;
  {
    RegistryKey list(kHkeyLocalMachine, Path("Virtual"), false);
    order = SubKeyNames(list);
  }
  ASSERT_EQ(order.size(), 3u);

  ServerSettings s = Load();
  ASSERT_EQ(s.virtual_servers.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(s.virtual_servers[i].site_address, order[i] + ".example.org");
  }

  ASSERT_TRUE(SaveSettings(s, profile_));
  RegistryKey list(kHkeyLocalMachine, Path("Virtual"), false);
  EXPECT_EQ(SubKeyNames(list), (std::vector<std::string>{"0000", "0001", "0002"}));
  for (size_t i = 0; i < 3; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", static_cast<int>(i));
    RegistryKey server(list, std::string(name) + "\\Server", false);
    EXPECT_EQ(server.GetString("SiteAddress", ""), order[i] + ".example.org") << name;
  }
}

// Every field away from its default, with list value names that sort in
// creation order so that Wine's name-ordered enumeration agrees.
ServerSettings UnusualSettings(const std::string& dir) {
  ServerSettings s(dir, SettingsFlavor::kEngine);
  s.port = 8081;
  s.ssl_port = 8443;
  s.send_timeout = 1001;
  s.recv_timeout = 1002;
  s.keep_alive = 1003;
  s.cgi_timeout = 1004;
  s.use_keep_alive = true;
  s.ssl_security = true;
  s.send_version_info = true;
  s.resolve_name = true;
  s.priority_level = 0;
  s.num_threads = 40;
  s.max_request_body = 2048;
  s.max_connections = 500;
  s.bounce_port = 8082;
  s.bounce_site = "bounce.example.org";
  s.access_log_mask = 0x1F;
  s.error_log_mask = 0;
  s.trace_log_mask = 7;
  s.access_log_file_name = "a.log";
  s.error_log_file_name = "e.log";
  s.trace_log_file_name = "t.log";
  s.dynamic_ip = true;
  s.dynamic_service = 2;
  s.dynamic_refresh = 60000;
  s.dynamic_login = "login";
  s.dynamic_password = "secret";
  s.dynamic_host = "me.example.org";
  s.cgi_debug_mode = true;
  s.cgi_send_password = false;
  s.preserve_path_info = true;
  s.process_external = false;
  s.process_ssi = false;
  s.process_ssi_secure = true;
  s.icons = {{"a", "/a.gif"}, {"b", "/b.gif"}};
  s.type_map = {{"x/one", ".a"}, {"x/two", ".b"}, {"x/one", ".c"}};
  s.assoc_map = {{".a", "/bin/a"}, {".b", "/bin/b"}};

  VirtualServerConfig first;
  first.use_ssl = true;
  first.server_certificate = "/etc/tls/fullchain.pem";
  first.server_private_key = "/etc/tls/privkey.pem";
  first.redirect_to_ssl = true;
  first.site_address = "www.example.org";
  first.site_ip = "10.0.0.1";
  first.admin_email = "root@example.org";
  first.doc_root = "docs";
  first.default_index = "start.htm";
  first.master_user = "master";
  first.master_password = "pass";
  first.error_template_file_name = "err.tpl";
  first.use_error_template = false;
  first.use_dynamic_ip = true;
  first.security_type = 2;
  first.auto_index = 0;
  first.alias = {{"/a", "x"}, {"/b", "y"}};
  first.redir = {{"/r/", "http://example.net/r/"}};
  first.cgi_bin = {{"/c", "cgi"}};
  first.cgi_win = {};
  first.isapi_ext = {{"/i", "isapi"}, {"/j", "jsapi"}};
  VirtualServerConfig second;
  ApplyVirtualServerDefaults(&second, dir);
  second.site_address = "second.example.org";
  s.virtual_servers = {first, second};
  return s;
}

TEST_F(SettingsTest, SaveThenLoadGivesTheSameRecords) {
  const ServerSettings saved = UnusualSettings(install_);
  ASSERT_TRUE(SaveSettings(saved, profile_));
  ServerSettings loaded = Load();

  EXPECT_EQ(loaded.icons, saved.icons);
  EXPECT_EQ(loaded.type_map, saved.type_map);
  EXPECT_EQ(loaded.assoc_map, saved.assoc_map);
  ASSERT_EQ(loaded.virtual_servers.size(), 2u);
  // A list saved empty loads as its default.
  EXPECT_EQ(loaded.virtual_servers[0].cgi_win, (NamePairList{{"/CGI-WIN", InDir("CGI-WIN")}}));
  loaded.virtual_servers[0].cgi_win.clear();
  for (size_t i = 0; i < 2; ++i) {
    const VirtualServerConfig& a = loaded.virtual_servers[i];
    const VirtualServerConfig& b = saved.virtual_servers[i];
    EXPECT_EQ(a.alias, b.alias) << i;
    EXPECT_EQ(a.redir, b.redir) << i;
    EXPECT_EQ(a.cgi_bin, b.cgi_bin) << i;
    EXPECT_EQ(a.isapi_ext, b.isapi_ext) << i;
    EXPECT_TRUE(a == b) << "virtual server " << i;
  }
  EXPECT_TRUE(loaded == saved);
  EXPECT_EQ(loaded.num_threads, 40u);
  EXPECT_EQ(loaded.dynamic_password, "secret");
}

// A value of any type, raw, for what the settings never write themselves.
void SetRaw(const RegistryKey& key, const std::string& name, uint32_t type, const std::string& data) {
  ASSERT_EQ(platform::reg_set_value(key.handle(), name, type, data.data(),
                                    static_cast<uint32_t>(data.size())),
            platform::err::kSuccess)
      << name;
}

// The type and bytes of a value, or "missing".
std::string Raw(const RegistryKey& key, const std::string& name) {
  uint32_t type = 0;
  char buf[256];
  uint32_t size = sizeof buf;
  if (platform::reg_query_value(key.handle(), name, &type, buf, &size) != platform::err::kSuccess)
    return "missing";
  return std::to_string(type) + ":" + std::string(buf, size);
}

TEST_F(SettingsTest, SaveReplacesWhatItOwnsAndKeepsEverythingElse) {
  using std::string_literals::operator""s;
  const std::string blob = "\x00\x01\xfe\xff"s;
  const std::string expand = "%SystemRoot%\\x\0"s;
  const std::string multi = "one\0two\0\0"s;
  {
    RegistryKey root(kHkeyLocalMachine, Path(), true);
    ASSERT_TRUE(root.SetString("RootValue", "stays"));
    RegistryKey future(kHkeyLocalMachine, Path("FutureSection\\Deeper"), true);
    ASSERT_TRUE(future.SetDword("Level", 7));
    RegistryKey network(kHkeyLocalMachine, Path("Network"), true);
    ASSERT_TRUE(network.SetDword("Port", 8080));
    ASSERT_TRUE(network.SetDword("FutureNumber", 5));
    ASSERT_TRUE(network.SetString("FutureText", "later"));
    SetRaw(network, "Blob", platform::kRegBinary, blob);
    SetRaw(network, "Expand", platform::kRegExpandSz, expand);
    SetRaw(network, "Multi", platform::kRegMultiSz, multi);
    ASSERT_TRUE(network.SetString("", "default value"));
    RegistryKey vs(kHkeyLocalMachine, Path("Virtual\\0000"), true);
    ASSERT_TRUE(vs.SetDword("UseSSL", 1));
    ASSERT_TRUE(vs.SetString("ServerCertificate", "my cert"));
    ASSERT_TRUE(vs.SetDword("FutureFlag", 1));
    RegistryKey server(vs, "Server", true);
    ASSERT_TRUE(server.SetString("AnonUserName", "guest"));
    ASSERT_TRUE(server.SetString("FutureName", "kept"));
    ASSERT_TRUE(RegistryKey(vs, "FutureSub", true).SetString("x", "y"));
    ASSERT_TRUE(RegistryKey(vs, "Redir", true).SetString("/old", "http://gone/"));
    ASSERT_TRUE(RegistryKey(vs, "Redir", true).SetString("/kept", "http://kept/"));
    RegistryKey realm(vs, "Authentication\\Staff", true);
    ASSERT_TRUE(realm.SetString("FutureHint", "kept"));
    ASSERT_TRUE(RegistryKey(realm, "Users", true).SetString("alice", "pw"));
    ASSERT_TRUE(RegistryKey(realm, "Users", true).SetString("bob", "pw"));
    ASSERT_TRUE(RegistryKey(vs, "Authentication\\Gone", true).SetString("FutureHint", "x"));
    ASSERT_TRUE(RegistryKey(vs, "Access\\/gone", true).SetString("Realm", "Staff"));
    RegistryKey second(kHkeyLocalMachine, Path("Virtual\\0001\\Future"), true);
    ASSERT_TRUE(second.SetDword("Anything", 1));
  }
  ServerSettings s = Load();
  ASSERT_EQ(s.virtual_servers.size(), 2u);
  EXPECT_TRUE(s.virtual_servers[0].use_ssl);
  EXPECT_EQ(s.virtual_servers[0].server_certificate, "my cert");
  EXPECT_EQ(s.virtual_servers[0].anon_user_name, "guest");
  // Deleted records and entries of every kind the save owns.
  s.port = 9000;
  s.virtual_servers.resize(1);
  VirtualServerConfig& vs0 = s.virtual_servers[0];
  ASSERT_EQ(vs0.redir.size(), 2u);
  std::erase_if(vs0.redir, [](const NamePair& p) { return p.first == "/old"; });
  std::erase_if(vs0.realms, [](const Realm& r) { return r.name == "Gone"; });
  ASSERT_EQ(vs0.realms.size(), 1u);
  std::erase_if(vs0.realms[0].users, [](const RealmUser& u) { return u.name == "bob"; });
  vs0.access_entries.clear();

  ASSERT_TRUE(SaveSettings(s, profile_));
  RegistryKey root(kHkeyLocalMachine, Path(), false);
  EXPECT_EQ(root.GetString("RootValue", ""), "stays");
  EXPECT_EQ(RegistryKey(root, "FutureSection\\Deeper", false).GetDword("Level", 0), 7u);
  RegistryKey network(root, "Network", false);
  EXPECT_EQ(network.GetDword("Port", 0), 9000u);
  EXPECT_EQ(network.GetDword("FutureNumber", 0), 5u);
  EXPECT_EQ(network.GetString("FutureText", ""), "later");
  EXPECT_EQ(Raw(network, "Blob"), "3:" + blob);
  EXPECT_EQ(Raw(network, "Expand"), "2:" + expand);
  EXPECT_EQ(Raw(network, "Multi"), "7:" + multi);
  EXPECT_EQ(network.GetString("", ""), "default value");

  RegistryKey vs(root, "Virtual\\0000", false);
  ASSERT_TRUE(vs.IsOpen());
  // A save that dropped these would turn HTTPS off.
  EXPECT_EQ(vs.GetDword("UseSSL", 0), 1u);
  EXPECT_EQ(vs.GetString("ServerCertificate", ""), "my cert");
  EXPECT_EQ(vs.GetDword("FutureFlag", 0), 1u);
  RegistryKey server(vs, "Server", false);
  EXPECT_FALSE(server.HasValue("AnonUserName"));
  EXPECT_EQ(server.GetString("FutureName", ""), "kept");
  EXPECT_EQ(RegistryKey(vs, "FutureSub", false).GetString("x", ""), "y");
  RegistryKey redir(vs, "Redir", false);
  EXPECT_FALSE(redir.HasValue("/old"));
  EXPECT_TRUE(redir.HasValue("/kept"));
  RegistryKey realm(vs, "Authentication\\Staff", false);
  EXPECT_EQ(realm.GetString("FutureHint", ""), "kept");
  EXPECT_TRUE(RegistryKey(realm, "Users", false).HasValue("alice"));
  EXPECT_FALSE(RegistryKey(realm, "Users", false).HasValue("bob"));
  EXPECT_FALSE(RegistryKey(vs, "Authentication\\Gone", false).IsOpen());
  EXPECT_FALSE(RegistryKey(vs, "Access\\/gone", false).IsOpen());
  EXPECT_EQ(SubKeyNames(RegistryKey(root, "Virtual", false)), std::vector<std::string>{"0000"})
      << "a deleted virtual server goes with everything below it";

  ServerSettings again = Load();
  EXPECT_TRUE(again.virtual_servers[0].use_ssl);
  EXPECT_EQ(again.virtual_servers[0].server_certificate, "my cert");
  EXPECT_EQ(again.virtual_servers[0].anon_user_name, "zelt_anon");

  EXPECT_TRUE(ClearProfile(profile_));
  EXPECT_EQ(root.SubKeyCount(), 0u);
  EXPECT_EQ(root.GetString("RootValue", ""), "stays");
}

TEST_F(SettingsTest, ChangedOrderIsSavedAndAFailedSaveLosesNothing) {
  ServerSettings s = UnusualSettings(install_);
  ASSERT_TRUE(SaveSettings(s, profile_));
  s.port = 8081;
  s.virtual_servers[0].alias = {{"/b", "y"}, {"/new", "z"}, {"/a", "x"}};
  ASSERT_TRUE(SaveSettings(s, profile_));
  if (!platform::running_under_wine()) {  // Wine enumerates values by name
    EXPECT_EQ(Load().virtual_servers[0].alias, s.virtual_servers[0].alias);
  }

  // The key of an access entry with a 300-character path cannot be made,
  // so this save fails part-way: it must say so and keep what it replaces.
  ServerSettings broken = s;
  broken.port = 9090;
  broken.virtual_servers[0].alias.clear();
  broken.virtual_servers.resize(1);
  broken.virtual_servers[0].access_entries.resize(1);
  broken.virtual_servers[0].access_entries[0].path = "/" + std::string(299, 'p');
  EXPECT_FALSE(SaveSettings(broken, profile_));
  ServerSettings loaded = Load();
  EXPECT_EQ(loaded.port, 9090u) << "what was written stays written";
  ASSERT_EQ(loaded.virtual_servers.size(), 2u);
  EXPECT_EQ(loaded.virtual_servers[0].alias.size(), 3u);
  EXPECT_EQ(loaded.virtual_servers[1].site_address, "second.example.org");
}

TEST_F(SettingsTest, CertificateIsKeptWhenMissing) {
  RegistryKey vs(kHkeyLocalMachine, Path("Virtual\\Site"), true);
  VirtualServerConfig target;
  target.server_certificate = "earlier";
  ASSERT_TRUE(LoadVirtualServer(&target, vs, install_));
  EXPECT_EQ(target.server_certificate, "earlier");
  ASSERT_TRUE(vs.SetString("ServerCertificate", "later"));
  ASSERT_TRUE(LoadVirtualServer(&target, vs, install_));
  EXPECT_EQ(target.server_certificate, "later");
}

TEST_F(SettingsTest, TypeMapKeyRoundTripsAndReplacesDefaults) {
  ServerSettings s = Load();
  ASSERT_EQ(s.type_map.size(), 78u);
  ASSERT_TRUE(SaveSettings(s, profile_));
  {
    RegistryKey map(kHkeyLocalMachine, Path("TypeMap"), false);
    EXPECT_EQ(map.ValueCount(), 78u);
    for (const NamePair& row : s.type_map) {
      EXPECT_EQ(map.GetString(row.second.c_str(), ""), row.first) << row.second;
    }
  }
  if (platform::running_under_wine()) {
    std::printf("Wine enumerates values by name: the order check of the saved map is skipped\n");
  } else {
    EXPECT_EQ(Load().type_map, s.type_map);
  }

  {
    RegistryKey map(kHkeyLocalMachine, Path("TypeMap"), false);
    for (const NamePair& row : s.type_map) ASSERT_TRUE(map.DeleteValue(row.second.c_str()));
    ASSERT_TRUE(map.SetString(".HTML", "text/plain"));
  }
  s = Load();
  EXPECT_EQ(s.type_map, (NamePairList{{"text/plain", ".HTML"}}));
  EXPECT_EQ(MimeTypeFor(s.type_map, "index.html"), "text/plain");
  EXPECT_EQ(MimeTypeFor(s.type_map, "photo.jpg"), kDefaultMediaType);
}

TEST_F(SettingsTest, ModuleFlavourDefaultsAndOwnValues) {
  {
    RegistryKey vs(kHkeyLocalMachine, Path("Virtual\\Site"), true);
    ASSERT_TRUE(vs.SetDword("UseSSL", 1));
    ASSERT_TRUE(vs.SetString("ServerCertificate", "cert"));
    ASSERT_TRUE(vs.SetString("ServerPrivateKey", "key"));
    ASSERT_TRUE(vs.SetDword("RedirectToSSL", 1));
    ASSERT_TRUE(RegistryKey(kHkeyLocalMachine, Path("Network"), true).SetDword("SSLPort", 8443));
  }
  ServerSettings s = Load(SettingsFlavor::kConfigModule);
  EXPECT_TRUE(s.send_version_info);
  EXPECT_EQ(s.num_threads, 16u);
  EXPECT_TRUE(s.use_remote_admin);
  // The TLS set-up is the module's to edit too, and its save keeps it.
  EXPECT_EQ(s.ssl_port, 8443u);
  EXPECT_TRUE(s.virtual_servers[0].use_ssl);
  EXPECT_EQ(s.virtual_servers[0].server_certificate, "cert");
  EXPECT_EQ(s.virtual_servers[0].server_private_key, "key");
  EXPECT_TRUE(s.virtual_servers[0].redirect_to_ssl);

  s.use_remote_admin = false;
  ASSERT_TRUE(SaveSettings(s, profile_, SettingsFlavor::kConfigModule));
  {
    RegistryKey server(kHkeyLocalMachine, Path("Server"), false);
    EXPECT_EQ(server.GetDword("UseRemoteAdmin", 7), 0u);
  }
  const ServerSettings by_module = Load(SettingsFlavor::kConfigModule);
  EXPECT_FALSE(by_module.use_remote_admin);
  EXPECT_EQ(by_module.ssl_port, 8443u);
  EXPECT_TRUE(by_module.virtual_servers[0] == s.virtual_servers[0]);
  // The engine neither reads nor writes the module's value.
  EXPECT_TRUE(Load(SettingsFlavor::kEngine).use_remote_admin);
  ASSERT_TRUE(SaveSettings(s, profile_, SettingsFlavor::kEngine));
  RegistryKey server(kHkeyLocalMachine, Path("Server"), false);
  EXPECT_FALSE(server.HasValue("UseRemoteAdmin"));
  EXPECT_EQ(server.GetDword("NumThreads", 0), 16u);
}

TEST_F(SettingsTest, UnopenableProfileLeavesTargetUntouched) {
  if (kPathSeparator != '/') {
    GTEST_SKIP() << "needs the POSIX store, which refuses changes to a damaged file";
  }
  {
    std::ofstream damaged(file(), std::ios::binary);
    damaged << "Windows Registry Editor Version 5.00\r\n\r\nnot a registry line\r\n";
  }
  ServerSettings s = UnusualSettings(install_);
  const ServerSettings before = s;
  EXPECT_FALSE(LoadSettings(&s, profile_));
  EXPECT_TRUE(s == before);
  EXPECT_FALSE(SaveSettings(s, profile_));
  EXPECT_FALSE(ClearProfile(profile_));
}

}  // namespace
}  // namespace brisvane
