// What only POSIX has to prove: the idle class is the lowest nice value,
// and the bias follows TZ the way Windows counts it (west positive,
// daylight time included).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>

#include "platform/system.h"

namespace platform {
namespace {

TEST(SystemPosix, IdleClassIsTheLowestNiceValue) {
  // In a child: without privileges the nice value cannot come back down.
  pid_t pid = fork();
  if (pid == 0) _exit(set_priority_class(0) && getpriority(PRIO_PROCESS, 0) == 19 ? 0 : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SystemPosix, SystemIsNamedByTheKernel) {
  struct utsname u {};
  ASSERT_EQ(uname(&u), 0);
  std::string name = system_name();
  EXPECT_EQ(name.rfind(std::string(u.sysname) + " ", 0), 0u) << name;
  EXPECT_EQ(name.find("Windows"), std::string::npos) << name;
  // Major and minor only: a distribution suffix says nothing to a reader.
  EXPECT_EQ(std::string(u.release).rfind(name.substr(name.find(' ') + 1), 0), 0u) << name;
  EXPECT_EQ(std::count(name.begin(), name.end(), '.'), 1) << name;
}

class TimeZone {
 public:
  explicit TimeZone(const std::string& tz) : old_(get_env("TZ")) { set_env("TZ", tz); }
  ~TimeZone() {
    if (old_)
      set_env("TZ", *old_);
    else
      unset_env("TZ");
  }

 private:
  std::optional<std::string> old_;
};

TEST(SystemPosix, BiasFollowsTheZoneWestPositive) {
  {
    TimeZone tz("XST+3");  // three hours west of Greenwich, no daylight time
    EXPECT_EQ(time_zone_bias(), 180);
  }
  {
    TimeZone tz("YST-5:30");
    EXPECT_EQ(time_zone_bias(), -330);
  }
  {
    // Daylight time all year round: one hour less than the standard bias.
    TimeZone tz("ZST+2ZDT,0/0,J365/25");
    EXPECT_EQ(time_zone_bias(), 60);
  }
  TimeZone utc("UTC0");
  EXPECT_EQ(time_zone_bias(), 0);
}

}  // namespace
}  // namespace platform
