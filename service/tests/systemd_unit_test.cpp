#include "service/systemd_unit.h"

#include <gtest/gtest.h>

#include <sstream>

namespace brisvane {
namespace {

std::vector<std::string> LinesStarting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

TEST(SystemdUnit, RunsAsTheUserOnlyWhenOneIsGiven) {
  UnitOptions as_user{"/usr/sbin/vanehost -s", "brisvane", {"/var/log/brisvane"}};
  std::string text = SystemdUnitText(as_user);
  EXPECT_EQ(LinesStarting(text, "User="), std::vector<std::string>{"User=brisvane"});
  EXPECT_EQ(LinesStarting(text, "Group="), std::vector<std::string>{"Group=brisvane"});
  // The user must still bind port 80, and nothing it starts gains rights.
  EXPECT_EQ(LinesStarting(text, "AmbientCapabilities="),
            std::vector<std::string>{"AmbientCapabilities=CAP_NET_BIND_SERVICE"});
  EXPECT_EQ(LinesStarting(text, "NoNewPrivileges="), std::vector<std::string>{"NoNewPrivileges=yes"});

  UnitOptions as_root{"/opt/brisvane/vanehost -s", "", {"/opt/brisvane"}};
  text = SystemdUnitText(as_root);
  EXPECT_TRUE(LinesStarting(text, "User=").empty());
  EXPECT_TRUE(LinesStarting(text, "Group=").empty());
}

TEST(SystemdUnit, CommandLineSurvivesTheUnitsEscapes) {
  const std::string command_line = "/opt/b$x/vanehost -p 100%\\HOME -s";
  UnitOptions unit{command_line, "", {}};
  std::vector<std::string> exec = LinesStarting(SystemdUnitText(unit), "ExecStart=");
  ASSERT_EQ(exec.size(), 1u);
  EXPECT_EQ(exec[0], "ExecStart=/opt/b$$x/vanehost -p 100%%\\\\HOME -s");
  EXPECT_EQ(UnescapeFromUnit(exec[0].substr(10)), command_line);
}

TEST(SystemdUnit, WritableFoldersFollowWhereTheHostLives) {
  EXPECT_EQ(WritablePathsFor("/usr/sbin/vanehost -s"), PackagedWritablePaths());
  EXPECT_EQ(WritablePathsFor("/opt/brisvane/vanehost -p Default -s"),
            std::vector<std::string>{"/opt/brisvane"});
  EXPECT_EQ(WritablePathsFor("\"/srv/my site/vanehost\" -s"), std::vector<std::string>{"/srv/my site"});

  // A folder with a blank stays one entry; "%" is no specifier.
  UnitOptions unit{"x", "", {"/srv/my site", "/srv/100%"}};
  EXPECT_EQ(LinesStarting(SystemdUnitText(unit), "ReadWritePaths="),
            std::vector<std::string>{"ReadWritePaths=\"/srv/my site\" /srv/100%%"});
  // No writable folder at all leaves the whole system read-only.
  unit.writable_paths.clear();
  EXPECT_TRUE(LinesStarting(SystemdUnitText(unit), "ReadWritePaths=").empty());
  EXPECT_EQ(LinesStarting(SystemdUnitText(unit), "ProtectSystem="),
            std::vector<std::string>{"ProtectSystem=strict"});
}

}  // namespace
}  // namespace brisvane
