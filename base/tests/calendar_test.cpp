// The one calendar: leap rules, the instants where 32-bit and two-digit
// counting break, and a day-by-day walk against the standard library's
// calendar, which shares no code with it.
#include "base/calendar.h"

#include <gtest/gtest.h>

#include <chrono>

namespace brisvane {
namespace {

struct Expected {
  int64_t seconds;
  int64_t year;
  int month, day, hour, minute, second, weekday;
};

void ExpectCivil(const Expected& e) {
  const CivilTime t = CivilFromUnix(e.seconds);
  EXPECT_EQ(t.year, e.year) << e.seconds;
  EXPECT_EQ(t.month, e.month) << e.seconds;
  EXPECT_EQ(t.day, e.day) << e.seconds;
  EXPECT_EQ(t.hour, e.hour) << e.seconds;
  EXPECT_EQ(t.minute, e.minute) << e.seconds;
  EXPECT_EQ(t.second, e.second) << e.seconds;
  EXPECT_EQ(t.weekday, e.weekday) << e.seconds;
}

TEST(CalendarTest, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2100, 2), 28);
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 12), 31);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
}

TEST(CalendarTest, EdgeInstants) {
  ExpectCivil({0, 1970, 1, 1, 0, 0, 0, 4});
  ExpectCivil({-1, 1969, 12, 31, 23, 59, 59, 3});
  ExpectCivil({-11'644'473'600, 1601, 1, 1, 0, 0, 0, 1});
  ExpectCivil({951'782'400, 2000, 2, 29, 0, 0, 0, 2});
  // The last second a signed 32-bit count holds, and the one after it.
  ExpectCivil({2'147'483'647, 2038, 1, 19, 3, 14, 7, 2});
  ExpectCivil({2'147'483'648, 2038, 1, 19, 3, 14, 8, 2});
  // The end of 2099 and the start of 2100, which is no leap year.
  ExpectCivil({4'102'444'799, 2099, 12, 31, 23, 59, 59, 4});
  ExpectCivil({4'102'444'800, 2100, 1, 1, 0, 0, 0, 5});
  ExpectCivil({4'107'542'400, 2100, 3, 1, 0, 0, 0, 1});
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(2100, 3, 1) - DaysFromCivil(2100, 2, 28), 1);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1) - DaysFromCivil(2000, 2, 28), 2);
}

TEST(CalendarTest, EveryDayAgreesWithTheStandardCalendar) {
  using namespace std::chrono;
  const sys_days first = sys_days{year{1599} / January / 1};
  const sys_days last = sys_days{year{2401} / December / 31};
  for (sys_days day = first; day <= last; day += days{1}) {
    const year_month_day ymd{day};
    const int64_t n = day.time_since_epoch().count();
    const int64_t y = int{ymd.year()};
    const int m = static_cast<int>(unsigned{ymd.month()});
    const int d = static_cast<int>(unsigned{ymd.day()});
    ASSERT_EQ(DaysFromCivil(y, m, d), n) << y << "-" << m << "-" << d;
    const CivilTime t = CivilFromUnix(n * kSecondsPerDay + 86'399);
    ASSERT_EQ(t.year, y);
    ASSERT_EQ(t.month, m);
    ASSERT_EQ(t.day, d);
    ASSERT_EQ(t.second, 59);
    const int wd = static_cast<int>(weekday{day}.c_encoding());
    ASSERT_EQ(t.weekday, wd);
    ASSERT_EQ(WeekdayOf(y, m, d), wd);
    const year_month_day_last month_end{ymd.year(), month_day_last{ymd.month()}};
    ASSERT_EQ(DaysInMonth(y, m), static_cast<int>(unsigned{month_end.day()}));
  }
}

}  // namespace
}  // namespace brisvane
