#include "engine/core/http_date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>

namespace brisvane {
namespace {

// 1994-11-06 08:49:37 UTC, the example instant used by the HTTP RFCs.
constexpr int64_t kRfcExample = 784'111'777;

// Expected text from the standard library calendar, which shares no code
// with the formatter.
std::string ChronoDate(int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds tp{std::chrono::seconds{seconds}};
  const sys_days day = floor<days>(tp);
  const year_month_day ymd{day};
  const int sod = static_cast<int>((tp - day).count());
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s, %02u %.3s %d %02d:%02d:%02d GMT",
                "SunMonTueWedThuFriSat" + 3 * weekday{day}.c_encoding(),
                unsigned{ymd.day()},
                "JanFebMarAprMayJunJulAugSepOctNovDec" +
                    3 * (unsigned{ymd.month()} - 1),
                int{ymd.year()}, sod / 3600, sod / 60 % 60, sod % 60);
  return buf;
}

TEST(HttpDateTest, FormatAgreesWithCalendarAndParsesBack) {
  EXPECT_EQ(FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(-1), "Wed, 31 Dec 1969 23:59:59 GMT");
  // An odd step walks through every weekday, month, leap rule and time of
  // day from 1601 to 9999.
  for (int64_t s = -11'644'473'600; s < 253'402'300'800; s += 7'777'777) {
    const std::string text = FormatHttpDate(s);
    ASSERT_EQ(text, ChronoDate(s));
    FileTime t = 0;
    ASSERT_TRUE(ParseHttpDate(text, &t)) << text;
    ASSERT_EQ(UnixFromFileTime(t), s) << text;
  }
}

TEST(HttpDateTest, FileTimeConversionAndFormat) {
  EXPECT_EQ(FileTimeFromUnix(0), 116'444'736'000'000'000u);
  EXPECT_EQ(FileTimeFromUnix(INT64_MIN), 0u);
  EXPECT_EQ(FileTimeFromUnix(INT64_MAX), UINT64_MAX);

  std::string text = "unchanged";
  EXPECT_FALSE(FormatFileTime(0x8000000000000000u, &text));
  EXPECT_EQ(text, "unchanged");
  ASSERT_TRUE(FormatFileTime(0, &text));
  EXPECT_EQ(text, "Mon, 01 Jan 1601 00:00:00 GMT");
  ASSERT_TRUE(FormatFileTime(0x7FFFFFFFFFFFFFFFu, &text));
  EXPECT_EQ(text, "Thu, 14 Sep 30828 02:48:05 GMT");
  // Sub-second ticks must not round up into the next second.
  const FileTime almost = FileTimeFromUnix(kRfcExample) + 9'999'999;
  EXPECT_EQ(UnixFromFileTime(almost), kRfcExample);
  ASSERT_TRUE(FormatFileTime(almost, &text));
  EXPECT_EQ(text, "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(HttpDateTest, ParseAcceptsBothFormsLoosely) {
  using namespace std::chrono;
  const auto at = [](year_month_day ymd, int sod) {
    return sys_seconds{sys_days{ymd}}.time_since_epoch().count() + sod;
  };
  const std::pair<const char*, int64_t> kCases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", kRfcExample},
      {"Sunday, 06-Nov-94 08:49:37 GMT", kRfcExample},
      {"Sun,   06  nOV 1994  08:49:37", kRfcExample},
      {"x 6 NOV 1994 8:49:37 PST", kRfcExample},
      {"Tue, 29 Feb 2000 00:00:00 GMT", at(year{2000} / 2 / 29, 0)},
      {"Mon, 01 Jan 1601 00:00:00 GMT", at(year{1601} / 1 / 1, 0)},
      {"Fri, 31 Dec 30827 23:59:59 GMT", at(year{30827} / 12 / 31, 86'399)}};
  for (const auto& [text, expected] : kCases) {
    FileTime t = 0;
    EXPECT_TRUE(ParseHttpDate(text, &t)) << text;
    EXPECT_EQ(t, FileTimeFromUnix(expected)) << text;
  }
}

TEST(HttpDateTest, ParseRejectsMalformedOrOutOfRange) {
  for (const char* text :
       {"", "   ", "Sun Nov  6 08:49:37 1994", "Sun, 06 Nox 1994 08:49:37",
        "Sun, 06 Nov 1994", "Sun, 06 Nov 1994 08:49", "Sun, xx Nov 1994 1:2:3",
        "a 29 Feb 1900 0:0:0", "a 29 Feb 2001 0:0:0", "a 31 Apr 2001 0:0:0",
        "a 1 Jan 1600 0:0:0", "a 1 Jan 30828 0:0:0", "a 1 Jan 2001 24:0:0",
        "a 1 Jan 2001 0:60:0", "a 1 Jan 2001 0:0:60",
        "a 1 Jan 99999999999999999999 0:0:0"}) {
    FileTime t = 42;
    EXPECT_FALSE(ParseHttpDate(text, &t)) << text;
    EXPECT_EQ(t, 42u) << text;
  }
}

TEST(HttpDateTest, ParseReadsOnlyFirst255Characters) {
  // The date first ends exactly at character 255, then one later, which
  // leaves the last digit of the seconds outside the window.
  const std::string date = "06 Nov 1994 08:49:37";
  FileTime t = 0;
  ASSERT_TRUE(ParseHttpDate("Sun," + std::string(231, ' ') + date, &t));
  EXPECT_EQ(UnixFromFileTime(t), kRfcExample);
  ASSERT_TRUE(ParseHttpDate("Sun," + std::string(232, ' ') + date, &t));
  EXPECT_EQ(UnixFromFileTime(t), kRfcExample - 34);
}

TEST(HttpDateTest, CompareIgnoresSubSeconds) {
  const FileTime base = FileTimeFromUnix(kRfcExample);
  EXPECT_EQ(CompareFileTimes(base, base + 9'990'000), 0);
  EXPECT_EQ(CompareFileTimes(base + 9'990'000, base), 0);
  EXPECT_EQ(CompareFileTimes(base + 9'999'999, base + 10'000'000), -1);
  EXPECT_EQ(CompareFileTimes(base + 10'000'000, base), 1);
}

}  // namespace
}  // namespace brisvane
