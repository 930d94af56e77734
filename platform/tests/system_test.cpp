// Process and clock facts mean the same on every backend.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/error.h"

namespace platform {
namespace {

using namespace std::chrono;

// Seconds since 1970 of a calendar time, read as if it were UTC.
int64_t as_utc_seconds(const LocalTime& t) {
  sys_days date = year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)};
  return duration_cast<seconds>(date.time_since_epoch()).count() + t.hour * 3600 + t.minute * 60 + t.second;
}

TEST(SystemClock, LocalTimeIsUtcLessTheBias) {
  int64_t utc = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  LocalTime local = local_time_now();
  int32_t bias = time_zone_bias();
  EXPECT_GE(local.month, 1);
  EXPECT_LE(local.month, 12);
  EXPECT_GE(local.year, 2020);
  EXPECT_NEAR(static_cast<double>(utc - as_utc_seconds(local)), bias * 60.0, 5.0) << "bias " << bias;
  EXPECT_LE(bias, 14 * 60);
  EXPECT_GE(bias, -14 * 60);
}

TEST(SystemProcess, NormalPriorityIsGrantedAndUnknownLevelsRefused) {
  EXPECT_TRUE(set_priority_class(1)) << last_error();
  EXPECT_FALSE(set_priority_class(3));
  EXPECT_EQ(last_error(), err::kInvalidParameter);
  EXPECT_FALSE(set_priority_class(-1));
}

#ifdef _WIN32
TEST(SystemProcess, PrivilegesMustExistAndBeHeld) {
  EXPECT_TRUE(enable_privilege("SeChangeNotifyPrivilege")) << last_error();
  EXPECT_FALSE(enable_privilege("SeNoSuchPrivilege"));
  EXPECT_NE(last_error(), err::kSuccess);
}
#endif

}  // namespace
}  // namespace platform
