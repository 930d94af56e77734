// Proleptic Gregorian calendar arithmetic on seconds since 1970 (UTC). The
// HTTP dates, the include dates and the listing times all count days the
// same way, so one leap-year rule serves them all.
#pragma once

#include <cstdint>

namespace brisvane {

inline constexpr int64_t kSecondsPerDay = 86'400;

// A point in time broken down into its calendar fields.
struct CivilTime {
  int64_t year;
  int month;    // 1..12
  int day;      // 1..31
  int hour;
  int minute;
  int second;
  int weekday;  // 0 = Sunday
};

// Rounds towards minus infinity, so times before 1970 fall into the day
// they belong to.
constexpr int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days since 1970-01-01. Counting from March makes the leap day the last
// day of the year, so each 400-year era has a fixed layout and no table
// lookups are needed.
constexpr int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = FloorDiv(year, 400);
  const int64_t yoe = year - era * 400;
  const int64_t mp = (month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146'097 + doe - 719'468;
}

bool IsLeapYear(int64_t year);
int DaysInMonth(int64_t year, int month);
// 0 = Sunday.
int WeekdayOf(int64_t year, int month, int day);
CivilTime CivilFromUnix(int64_t seconds);

}  // namespace brisvane
