// Registry behaviour that callers rely on, the same on the Windows registry
// and on the POSIX store.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/tests/registry_fixture.h"

namespace platform {
namespace {

using testing::RegistryTest;

std::string read_text(RegHandle key, const std::string& name) {
  char buf[4096];
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  if (reg_query_value(key, name, &type, buf, &size) != err::kSuccess) return "<missing>";
  return std::string(buf, size ? size - 1 : 0);
}

os_error set_text(RegHandle key, const std::string& name, const std::string& text) {
  return reg_set_value(key, name, kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

TEST_F(RegistryTest, PredefinedKeysHaveTheWindowsValues) {
  // Windows defines them as sign-extended 32-bit numbers.
  EXPECT_EQ(static_cast<uint64_t>(kHkeyLocalMachine) & 0xFFFFFFFFu, 0x80000002u);
  EXPECT_EQ(static_cast<intptr_t>(kHkeyCurrentUser), static_cast<intptr_t>(static_cast<int32_t>(0x80000001u)));
}

TEST_F(RegistryTest, CreateReportsNewKeysAndOpenFailsOnMissingOnes) {
  RegHandle k = 0;
  bool created = false;
  ASSERT_EQ(reg_open_key(base(), "A\\B\\C", true, &k, &created), err::kSuccess);
  EXPECT_TRUE(created);
  reg_close_key(k);
  ASSERT_EQ(reg_open_key(base(), "a\\b\\c", true, &k, &created), err::kSuccess);
  EXPECT_FALSE(created) << "names compare without regard to case";
  reg_close_key(k);
  EXPECT_EQ(reg_open_key(base(), "Missing", false, &k, nullptr), err::kFileNotFound);
  // One key's name holds at most 255 characters (the refusal's code
  // differs between systems; Wine lets a few more by).
  ASSERT_EQ(reg_open_key(base(), std::string(255, 'n'), true, &k, nullptr), err::kSuccess);
  reg_close_key(k);
  EXPECT_NE(reg_open_key(base(), "x\\" + std::string(300, 'n'), true, &k, nullptr), err::kSuccess);
}

TEST_F(RegistryTest, ValuesKeepTypeAndBytes) {
  uint32_t dword = 0x1f90;
  ASSERT_EQ(reg_set_value(base(), "Port", kRegDword, &dword, 4), err::kSuccess);
  const unsigned char bin[4] = {0x90, 0x1f, 0x00, 0xff};
  ASSERT_EQ(reg_set_value(base(), "Raw", kRegBinary, bin, 4), err::kSuccess);
  ASSERT_EQ(set_text(base(), "Path", "C:\\x \"quoted\""), err::kSuccess);
  ASSERT_EQ(set_text(base(), "", "default value"), err::kSuccess);

  uint32_t type = 0, got = 0, size = 4;
  ASSERT_EQ(reg_query_value(base(), "port", &type, &got, &size), err::kSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(got, 0x1f90u);
  unsigned char raw[8] = {};
  size = sizeof raw;
  ASSERT_EQ(reg_query_value(base(), "Raw", &type, raw, &size), err::kSuccess);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::memcmp(raw, bin, 4), 0);
  EXPECT_EQ(read_text(base(), "Path"), "C:\\x \"quoted\"");
  EXPECT_EQ(read_text(base(), ""), "default value");
}

TEST_F(RegistryTest, SmallBufferGivesMoreDataWithTheSizeNeeded) {
  ASSERT_EQ(set_text(base(), "Long", std::string(2000, 'x')), err::kSuccess);
  char buf[1024];
  uint32_t size = sizeof buf, type = 0;
  EXPECT_EQ(reg_query_value(base(), "Long", &type, buf, &size), err::kMoreData);
  EXPECT_EQ(size, 2001u);
  size = 0;
  EXPECT_EQ(reg_query_value(base(), "Long", &type, nullptr, &size), err::kSuccess);
  EXPECT_EQ(size, 2001u);
  EXPECT_EQ(read_text(base(), "Long"), std::string(2000, 'x'));
}

TEST_F(RegistryTest, SubkeysEnumerateInNameOrderAndValuesInCreationOrder) {
  for (const char* n : {"delta", "Alpha", "charlie", "Bravo"}) {
    RegHandle k = 0;
    ASSERT_EQ(reg_open_key(base(), n, true, &k, nullptr), err::kSuccess);
    reg_close_key(k);
  }
  for (const char* n : {"zeta", "Beta", "alpha"}) ASSERT_EQ(set_text(base(), n, n), err::kSuccess);
  std::vector<std::string> keys, values;
  std::string name;
  for (uint32_t i = 0; reg_enum_key(base(), i, 1024, &name) == err::kSuccess; ++i) keys.push_back(name);
  for (uint32_t i = 0; reg_enum_value(base(), i, 1024, &name, nullptr, nullptr, nullptr) == err::kSuccess; ++i)
    values.push_back(name);
  EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta"}));
  if (!running_under_wine()) {  // Wine keeps values sorted by name
    EXPECT_EQ(values, (std::vector<std::string>{"zeta", "Beta", "alpha"}));
  }
  uint32_t nk = 0, nv = 0;
  ASSERT_EQ(reg_query_info(base(), &nk, &nv), err::kSuccess);
  EXPECT_EQ(nk, 4u);
  EXPECT_EQ(nv, 3u);
  EXPECT_EQ(reg_enum_key(base(), 4, 1024, &name), err::kNoMoreItems);
  EXPECT_EQ(reg_enum_key(base(), 0, 3, &name), err::kMoreData) << "name longer than the buffer";
}

TEST_F(RegistryTest, OverwritingAValueKeepsItsPlaceAndSpelling) {
  ASSERT_EQ(set_text(base(), "First", "1"), err::kSuccess);
  ASSERT_EQ(set_text(base(), "Second", "2"), err::kSuccess);
  ASSERT_EQ(set_text(base(), "FIRST", "one"), err::kSuccess);
  std::string name;
  ASSERT_EQ(reg_enum_value(base(), 0, 1024, &name, nullptr, nullptr, nullptr), err::kSuccess);
  EXPECT_TRUE(name == "First" || running_under_wine()) << name;
  EXPECT_EQ(read_text(base(), "first"), "one");
}

TEST_F(RegistryTest, DeleteKeyRefusesKeysWithSubkeys) {
  RegHandle k = 0;
  ASSERT_EQ(reg_open_key(base(), "Parent\\Child", true, &k, nullptr), err::kSuccess);
  reg_close_key(k);
  EXPECT_NE(reg_delete_key(base(), "Parent"), err::kSuccess);
  EXPECT_EQ(reg_delete_key(base(), "Parent\\Child"), err::kSuccess);
  EXPECT_EQ(reg_delete_key(base(), "Parent"), err::kSuccess);
  EXPECT_EQ(reg_delete_key(base(), "Parent"), err::kFileNotFound);
  EXPECT_EQ(reg_delete_value(base(), "Nothing"), err::kFileNotFound);
}

TEST_F(RegistryTest, HandleOfADeletedKeyFails) {
  RegHandle k = 0;
  ASSERT_EQ(reg_open_key(base(), "Gone", true, &k, nullptr), err::kSuccess);
  ASSERT_EQ(reg_delete_key(base(), "Gone"), err::kSuccess);
  EXPECT_EQ(set_text(k, "x", "y"), err::kKeyDeleted);
  reg_close_key(k);
}

TEST_F(RegistryTest, SaveAndRestoreCopyAWholeTree) {
  RegHandle src = 0, dst = 0, k = 0;
  ASSERT_EQ(reg_open_key(base(), "Source", true, &src, nullptr), err::kSuccess);
  ASSERT_EQ(reg_open_key(src, "Server\\0000", true, &k, nullptr), err::kSuccess);
  uint32_t port = 8080;
  ASSERT_EQ(reg_set_value(k, "Port", kRegDword, &port, 4), err::kSuccess);
  reg_close_key(k);
  ASSERT_EQ(set_text(src, "Top", "value"), err::kSuccess);
  ASSERT_EQ(reg_open_key(base(), "Target", true, &dst, nullptr), err::kSuccess);
  ASSERT_EQ(set_text(dst, "Stale", "goes away"), err::kSuccess);

  std::string saved = (dir() / "saved.hiv").string();
  os_error rc = reg_save_key(src, saved);
  if (rc == err::kAccessDenied || rc == 1314 /* privilege not held */) {
    reg_close_key(src);
    reg_close_key(dst);
    GTEST_SKIP() << "saving a key needs the backup privilege here";
  }
  ASSERT_EQ(rc, err::kSuccess);
  EXPECT_NE(reg_save_key(src, saved), err::kSuccess) << "an existing file is never overwritten";
  rc = reg_restore_key(dst, saved);
  if (rc == err::kSuccess && read_text(dst, "Top") == "<missing>" && read_text(dst, "Stale") != "<missing>") {
    reg_close_key(src);
    reg_close_key(dst);
    GTEST_SKIP() << "this system's key restore does nothing (known Wine gap)";
  }
  ASSERT_EQ(rc, err::kSuccess);
  EXPECT_EQ(read_text(dst, "Top"), "value");
  EXPECT_EQ(read_text(dst, "Stale"), "<missing>");
  ASSERT_EQ(reg_open_key(dst, "server\\0000", false, &k, nullptr), err::kSuccess);
  uint32_t got = 0, size = 4;
  EXPECT_EQ(reg_query_value(k, "Port", nullptr, &got, &size), err::kSuccess);
  EXPECT_EQ(got, 8080u);
  reg_close_key(k);
  reg_close_key(src);
  reg_close_key(dst);
}

}  // namespace
}  // namespace platform
