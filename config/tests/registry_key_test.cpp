// RegistryKey against the platform's registry: the typed reads the loaders
// rely on for their defaults, enumeration, and tree deletion.
#include "config/registry_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/tests/registry_fixture.h"

namespace brisvane {
namespace {

using platform::testing::RegistryTest;

TEST_F(RegistryTest, CreateFlagTellsNewFromExisting) {
  RegistryKey first(base(), "Profile", true);
  ASSERT_TRUE(first.IsOpen());
  EXPECT_TRUE(first.WasCreated());
  RegistryKey again(base(), "profile", true);
  ASSERT_TRUE(again.IsOpen());
  EXPECT_FALSE(again.WasCreated());
  RegistryKey missing(base(), "Nothing", false);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(missing.WasCreated());
}

TEST_F(RegistryTest, KeyThatFailedToOpenGivesDefaultsAndFalse) {
  RegistryKey missing(base(), "Nothing", false);
  EXPECT_EQ(missing.GetDword("Port", 80), 80u);
  EXPECT_EQ(missing.GetString("Name", "def"), "def");
  uint32_t v = 7;
  EXPECT_FALSE(missing.QueryDword("Port", &v));
  EXPECT_FALSE(missing.SetDword("Port", 1));
  EXPECT_FALSE(missing.SetString("Name", "x"));
  EXPECT_EQ(missing.SubKeyCount(), 0u);
  EXPECT_FALSE(missing.DeleteTree());
  RegistryKey child(missing, "Below", true);
  EXPECT_FALSE(child.IsOpen()) << "a child of a closed key fails to open";
}

TEST_F(RegistryTest, TypedReadsFallBackOnTypeMismatch) {
  RegistryKey key(base(), "Typed", true);
  ASSERT_TRUE(key.SetString("Text", "8080"));
  ASSERT_TRUE(key.SetDword("Number", 8080));
  ASSERT_TRUE(key.SetDword("AllOnes", 0xFFFFFFFFu));
  const unsigned char four[4] = {1, 2, 3, 4};
  ASSERT_TRUE(key.SetBinary("Bytes", four));

  EXPECT_EQ(key.GetDword("Text", 5), 5u) << "a text is not a number";
  EXPECT_EQ(key.GetDword("Number", 5), 8080u);
  EXPECT_EQ(key.GetDword("Bytes", 5), 5u);
  EXPECT_EQ(key.GetString("Number", "d"), "8080");
  EXPECT_EQ(key.GetString("AllOnes", "d"), "-1");
  EXPECT_EQ(key.GetString("Bytes", "d"), "d");
  EXPECT_EQ(key.GetString("Text", "d"), "8080");
  EXPECT_EQ(key.GetString("Absent", "d"), "d");
}

TEST_F(RegistryTest, QueryDwordCopiesRawBytesOfShortValues) {
  RegistryKey key(base(), "Raw", true);
  ASSERT_TRUE(key.SetString("Ab", "ab"));      // 3 bytes with its zero
  ASSERT_TRUE(key.SetString("Long", "abcd"));  // 5 bytes: too big
  uint32_t v = 0xEEEEEEEEu;
  ASSERT_TRUE(key.QueryDword("Ab", &v));
  EXPECT_EQ(v & 0x00FFFFFFu, 0x00006261u);
  EXPECT_EQ(v >> 24, 0xEEu) << "bytes past the data stay untouched";
  EXPECT_FALSE(key.QueryDword("Long", &v));
  EXPECT_FALSE(key.QueryDword("Ab", nullptr));
}

TEST_F(RegistryTest, TextsOfMoreThanAKilobyteReadAsMissing) {
  RegistryKey key(base(), "Sizes", true);
  ASSERT_TRUE(key.SetString("Fits", std::string(1023, 'a')));  // 1024 bytes with the zero
  ASSERT_TRUE(key.SetString("TooBig", std::string(1024, 'a')));
  std::string out = "untouched";
  EXPECT_TRUE(key.QueryString("Fits", &out));
  EXPECT_EQ(out.size(), 1023u);
  out = "untouched";
  EXPECT_FALSE(key.QueryString("TooBig", &out));
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(key.GetString("TooBig", "default"), "default");
  EXPECT_TRUE(key.HasValue("TooBig")) << "stored all the same";
}

TEST_F(RegistryTest, EnumerationListsNamesAndData) {
  RegistryKey key(base(), "List", true);
  // Names that sort the same as they were created: Wine enumerates values
  // by name, Windows in creation order.
  ASSERT_TRUE(key.SetString("/CGI-BIN", "C:\\cgi"));
  ASSERT_TRUE(key.SetString("/ICONS", "C:\\icons"));
  ASSERT_TRUE(key.SetDword("Flags", 3));
  EXPECT_EQ(key.ValueCount(), 3u);
  std::string name, data;
  ASSERT_TRUE(key.EnumValue(0, &name, &data));
  EXPECT_EQ(name, "/CGI-BIN");
  EXPECT_EQ(data, "C:\\cgi");
  uint32_t flags = 0;
  ASSERT_TRUE(key.EnumDwordValue(2, &name, &flags));
  EXPECT_EQ(name, "Flags");
  EXPECT_EQ(flags, 3u);
  EXPECT_FALSE(key.EnumValue(3, &name, &data));

  { RegistryKey a(key, "0001", true); }
  { RegistryKey b(key, "0000", true); }
  EXPECT_EQ(key.SubKeyCount(), 2u);
  ASSERT_TRUE(key.EnumSubKey(0, &name));
  EXPECT_EQ(name, "0000");
  EXPECT_FALSE(key.EnumSubKey(2, &name));
}

TEST_F(RegistryTest, DeleteTreeRemovesEveryLevelBelowButKeepsTheKey) {
  RegistryKey key(base(), "Tree", true);
  ASSERT_TRUE(key.SetString("Own", "stays"));
  {
    RegistryKey deep(key, "A\\B\\C", true);
    ASSERT_TRUE(deep.SetDword("x", 1));
    RegistryKey sibling(key, "Z", true);
  }
  std::vector<std::string> boxes;
  platform::set_message_box_hook(
      [&](const std::string& text, const std::string&, unsigned) { boxes.push_back(text); });
  EXPECT_TRUE(key.DeleteTree());
  platform::set_message_box_hook(nullptr);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(key.SubKeyCount(), 0u);
  EXPECT_EQ(key.GetString("Own", ""), "stays");
  RegistryKey gone(base(), "Tree\\A", false);
  EXPECT_FALSE(gone.IsOpen());
}

TEST_F(RegistryTest, DeleteTreeWithoutSubkeysReturnsFalseAndKeepsValues) {
  RegistryKey key(base(), "Flat", true);
  ASSERT_TRUE(key.SetDword("v", 1));
  EXPECT_FALSE(key.DeleteTree());
  EXPECT_EQ(key.GetDword("v", 0), 1u);
}

TEST_F(RegistryTest, SingleDeletesReportWhetherTheyHappened) {
  RegistryKey key(base(), "Single", true);
  { RegistryKey child(key, "Child", true); }
  ASSERT_TRUE(key.SetDword("v", 1));
  EXPECT_TRUE(key.DeleteValue("v"));
  EXPECT_FALSE(key.DeleteValue("v"));
  EXPECT_FALSE(key.HasValue("v"));
  EXPECT_TRUE(key.DeleteSubKey("Child"));
  EXPECT_FALSE(key.DeleteSubKey("Child"));
}

}  // namespace
}  // namespace brisvane
