#include "base/calendar.h"

namespace brisvane {
namespace {

// 1970-01-01 was a Thursday.
int WeekdayOfDay(int64_t days) { return static_cast<int>(days + 4 - FloorDiv(days + 4, 7) * 7); }

}  // namespace

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int WeekdayOf(int64_t year, int month, int day) { return WeekdayOfDay(DaysFromCivil(year, month, day)); }

CivilTime CivilFromUnix(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t sod = seconds - days * kSecondsPerDay;

  const int64_t z = days + 719'468;
  const int64_t era = FloorDiv(z, 146'097);
  const int64_t doe = z - era * 146'097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;

  CivilTime t{};
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = yoe + era * 400 + (t.month <= 2);
  t.hour = static_cast<int>(sod / 3600);
  t.minute = static_cast<int>(sod / 60 % 60);
  t.second = static_cast<int>(sod % 60);
  t.weekday = WeekdayOfDay(days);
  return t;
}

}  // namespace brisvane
