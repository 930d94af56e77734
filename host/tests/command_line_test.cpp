#include "host/command_line.h"

#include <gtest/gtest.h>

namespace brisvane {
namespace {

TEST(HostCommandLine, ProfileAndModes) {
  auto cl = ParseHostCommandLine("vanehost.exe -p Test");
  EXPECT_EQ(cl.profile, "Test");
  EXPECT_EQ(cl.mode, HostMode::kApplication);
  // The last of the mode switches decides.
  EXPECT_EQ(ParseHostCommandLine("vanehost -s -c").mode, HostMode::kOldSwitch);
  EXPECT_EQ(ParseHostCommandLine("vanehost -c -s").mode, HostMode::kService);
  EXPECT_EQ(ParseHostCommandLine("vanehost /?").mode, HostMode::kHelp);
  EXPECT_EQ(ParseHostCommandLine("vanehost ?").mode, HostMode::kHelp);
  EXPECT_EQ(ParseHostCommandLine("vanehost -S").mode, HostMode::kApplication) << "exact comparison";
}

TEST(HostCommandLine, MissingProfileKeepsDefaultAndEndsParsing) {
  auto cl = ParseHostCommandLine("vanehost -p");
  EXPECT_TRUE(cl.missing_profile);
  EXPECT_EQ(cl.profile, "Default");
  cl = ParseHostCommandLine("vanehost -p  -s");  // two blanks: an empty name
  EXPECT_TRUE(cl.missing_profile);
  EXPECT_EQ(cl.mode, HostMode::kApplication);
}

TEST(HostCommandLine, TwoBlanksEndTheArguments) {
  auto cl = ParseHostCommandLine("vanehost -p One  -s");
  EXPECT_EQ(cl.profile, "One");
  EXPECT_EQ(cl.mode, HostMode::kApplication);
  EXPECT_FALSE(cl.missing_profile);
}

}  // namespace
}  // namespace brisvane
