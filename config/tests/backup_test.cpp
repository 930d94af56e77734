// Backup, restore and the foreign-server export against the platform's
// registry: what a restore gives back, what it refuses, and the exact
// layout the export writes.
#include "config/backup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/foreign_export.h"
#include "config/registry_key.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/tests/registry_fixture.h"

namespace brisvane {
namespace {

using platform::kHkeyLocalMachine;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Deletes `leaf` below `parent` with everything under it.
void DeleteKeyTree(const char* parent, const char* leaf) {
  RegistryKey p(kHkeyLocalMachine, parent, false);
  if (!p.IsOpen()) return;
  {
    RegistryKey k(p, leaf, false);
    if (k.IsOpen()) k.DeleteTree();
  }
  p.DeleteSubKey(leaf);
}

class WholeTreeTest : public platform::testing::RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    platform::enable_privilege("SeBackupPrivilege");
    platform::enable_privilege("SeRestorePrivilege");
    const std::string& base = base_path();
    profile_ = "Backup_" + base.substr(base.rfind('\\') + 1);
    platform::set_message_box_hook([this](const std::string& text, const std::string& caption,
                                          unsigned) { boxes_.push_back(caption + ": " + text); });
  }

  void TearDown() override {
    platform::set_message_box_hook(nullptr);
    for (const std::string& p : {profile_, profile_ + "_other"})
      DeleteKeyTree(kSettingsRoot, p.c_str());
    DeleteKeyTree("SOFTWARE", "Tamsel");
    DeleteKeyTree("SYSTEM\\CurrentControlSet\\Services", "WebServer");
    RegistryTest::TearDown();
  }

  ServerSettings Load(const std::string& profile) const {
    ServerSettings s("inst", SettingsFlavor::kConfigModule);
    EXPECT_TRUE(LoadSettings(&s, profile, SettingsFlavor::kConfigModule));
    return s;
  }

  std::string profile_;
  std::vector<std::string> boxes_;
};

TEST_F(WholeTreeTest, RestoreGivesBackEveryProfileAsBackedUp) {
  ServerSettings saved("inst", SettingsFlavor::kConfigModule);
  saved.port = 8080;
  saved.virtual_servers[0].realms.push_back({"Staff", "", {{"alice", "pw"}}, {}});
  ASSERT_TRUE(SaveSettings(saved, profile_, SettingsFlavor::kConfigModule));
  saved = Load(profile_);
  std::string file = (dir() / "backup.dat").string();
  ASSERT_TRUE(BackupConfiguration(file)) << (boxes_.empty() ? "" : boxes_[0]);
  std::string store_before = ReadAll(this->file());

  ServerSettings changed = saved;
  changed.port = 9090;
  changed.virtual_servers.push_back(changed.virtual_servers[0]);
  ASSERT_TRUE(SaveSettings(changed, profile_, SettingsFlavor::kConfigModule));
  ASSERT_TRUE(SaveSettings(changed, profile_ + "_other", SettingsFlavor::kConfigModule));

  ASSERT_TRUE(RestoreConfiguration(file)) << (boxes_.empty() ? "" : boxes_[0]);
  if (platform::running_under_wine() && Load(profile_).port == 9090)
    GTEST_SKIP() << "this system's key restore does nothing (known Wine gap)";
  EXPECT_TRUE(Load(profile_) == saved);
  RegistryKey other(kHkeyLocalMachine, ProfileKeyPath(profile_ + "_other"), false);
  EXPECT_FALSE(other.IsOpen()) << "a profile made after the backup survived the restore";
#ifndef _WIN32
  EXPECT_EQ(ReadAll(this->file()), store_before) << "the restored registry file differs";
#endif
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WholeTreeTest, BackupNeverOverwritesAFile) {
  std::string file = (dir() / "exists.dat").string();
  std::ofstream(file) << "keep me";
  platform::os_error e = 0;
  bool saved = BackupConfiguration(file, &e);
  if (saved && platform::running_under_wine())
    GTEST_SKIP() << "this system's key save overwrites files (known Wine gap)";
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadAll(file), "keep me");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "BackupConfiguration: " + platform::error_message(e));
}

TEST_F(WholeTreeTest, ABadBackupFileIsRefusedAndChangesNothing) {
  ServerSettings s("inst", SettingsFlavor::kConfigModule);
  s.port = 8181;
  ASSERT_TRUE(SaveSettings(s, profile_, SettingsFlavor::kConfigModule));
  std::string store_before = ReadAll(file());
  std::string bad = (dir() / "bad.dat").string();
  std::ofstream(bad) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n"
                        "\"Port\"=dword:zz\n";
  bool restored = RestoreConfiguration(bad);
  if (restored && platform::running_under_wine())
    GTEST_SKIP() << "this system's key restore does nothing (known Wine gap)";
  EXPECT_FALSE(restored);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_TRUE(boxes_[0].starts_with("RestoreConfiguration: ")) << boxes_[0];
  EXPECT_EQ(Load(profile_).port, 8181u);
#ifndef _WIN32
  EXPECT_EQ(ReadAll(file()), store_before);
#endif
}

std::string BinaryValue(const RegistryKey& key, const char* name) {
  uint32_t type = 0, size = 16;
  unsigned char data[16] = {};
  if (platform::reg_query_value(key.handle(), name, &type, data, &size) != platform::err::kSuccess ||
      type != platform::kRegBinary)
    return "<not binary>";
  std::string hex;
  for (uint32_t i = 0; i < size; ++i) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (!hex.empty()) hex += ' ';
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 15];
  }
  return hex;
}

TEST_F(WholeTreeTest, ExportWritesTheFirstServerIntoTheForeignLayout) {
  ServerSettings s("C:\\Brisvane", SettingsFlavor::kEngine);
  s.port = 8080;
  s.virtual_servers[0].site_address = "first.example";
  s.virtual_servers[0].doc_root = "D:\\site";
  s.virtual_servers[0].default_index = "home.htm";
  s.virtual_servers[0].admin_email = "admin@first.example";
  for (const char* name : {"second.example", "third.example"}) {
    s.virtual_servers.push_back(s.virtual_servers[0]);
    s.virtual_servers.back().site_address = name;
    s.virtual_servers.back().doc_root = "E:\\other";
  }
  ASSERT_TRUE(ExportForeignConfiguration(s));

  RegistryKey root(kHkeyLocalMachine, kForeignRoot, false);
  ASSERT_TRUE(root.IsOpen());
  EXPECT_EQ(BinaryValue(root, "TCP Port"), "90 1F 00 00");
  EXPECT_EQ(BinaryValue(root, "RevNumber"), "00 00 00 00");
  EXPECT_EQ(root.GetString("ServerName", ""), "first.example");
  EXPECT_EQ(root.GetString("ServerAdmin", ""), "admin@first.example");
  EXPECT_EQ(root.GetString("AnonUserName", ""), "zelt_anon");
  EXPECT_EQ(root.GetString("ServerRoot", ""), "C:\\Brisvane");
  EXPECT_EQ(RegistryKey(root, "DocMap", false).GetString("/", ""), "D:\\site");
  EXPECT_EQ(RegistryKey(root, "DirIndex", false).GetString("IndexDoc", ""), "home.htm");
  EXPECT_EQ(RegistryKey(root, "Access\\Basic", false).GetString("DefaultRealm", ""), "Web Server");
  EXPECT_EQ(RegistryKey(root, "Authentication\\Basic", false).GetString("DefaultRealm", ""),
            "Web Server");
  for (const char* key : {"Access\\Basic\\/", "Authentication\\Basic\\Web Server\\Users",
                          "Authentication\\Basic\\Web Server\\Groups", "CGI", "ConsExeMap",
                          "ImageMaps", "Java", "Logs", "MultiHome\\URLPrefix",
                          "MultiHome\\TransferLog", "PostProc", "RedirMap", "ShellExeMap",
                          "WinExeMap"})
    EXPECT_TRUE(RegistryKey(root, key, false).IsOpen()) << key;

  std::set<std::string> endings;
  for (const NamePair& p : s.type_map) endings.insert(ToLower(p.second));
  RegistryKey types(root, "TypeMap", false);
  EXPECT_EQ(types.ValueCount(), endings.size());
  EXPECT_EQ(types.GetString(".html", ""), "text/html");
  RegistryKey assoc(root, "AssocMap", false);
  EXPECT_EQ(assoc.ValueCount(), s.assoc_map.size());
  EXPECT_EQ(assoc.GetString(s.assoc_map[0].first.c_str(), ""), s.assoc_map[0].second);

  RegistryKey service(kHkeyLocalMachine, kForeignServiceKey, false);
  EXPECT_EQ(service.GetString("ImagePath", ""), platform::executable_path());
}

TEST_F(WholeTreeTest, ExportWithoutAVirtualServerWritesNothing) {
  ServerSettings s("inst", SettingsFlavor::kEngine);
  s.virtual_servers.clear();
  EXPECT_FALSE(ExportForeignConfiguration(s));
  EXPECT_FALSE(RegistryKey(kHkeyLocalMachine, kForeignRoot, false).IsOpen());
}

}  // namespace
}  // namespace brisvane
