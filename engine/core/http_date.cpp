#include "engine/core/http_date.h"

#include <charconv>
#include <limits>

#include "base/calendar.h"
#include "engine/core/text_util.h"

namespace brisvane {

const char* const kWeekdayNames[7] = {"Sun", "Mon", "Tue", "Wed",
                                      "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr",
                                     "May", "Jun", "Jul", "Aug",
                                     "Sep", "Oct", "Nov", "Dec"};

namespace {

// Windows' calendar conversions stop at this year.
constexpr int kMaxYear = 30'827;
constexpr int kMinYear = 1601;

static_assert(DaysFromCivil(1601, 1, 1) * kSecondsPerDay == -kUnixEpochInFileTimeSeconds);

char* PutTwoDigits(char* p, int v) {
  *p++ = static_cast<char>('0' + v / 10);
  *p++ = static_cast<char>('0' + v % 10);
  return p;
}

char* PutName(char* p, const char* name) {
  while (*name) *p++ = *name++;
  return p;
}

// Written straight into a stack buffer rather than through snprintf: this
// runs for every response and must not depend on the C locale.
std::string FormatCivil(const CivilTime& t) {
  char buf[64];
  char* p = buf;
  p = PutName(p, kWeekdayNames[t.weekday]);
  *p++ = ',';
  *p++ = ' ';
  p = PutTwoDigits(p, t.day);
  *p++ = ' ';
  p = PutName(p, kMonthNames[t.month - 1]);
  *p++ = ' ';
  p = std::to_chars(p, buf + 32, t.year).ptr;
  *p++ = ' ';
  p = PutTwoDigits(p, t.hour);
  *p++ = ':';
  p = PutTwoDigits(p, t.minute);
  *p++ = ':';
  p = PutTwoDigits(p, t.second);
  p = PutName(p, " GMT");
  return std::string(buf, p);
}

// Word splitting with the semantics of C strtok: runs of delimiters before
// a word are skipped, and exactly one delimiter after it is consumed, so
// the next word may be searched for with a different delimiter set.
class WordReader {
 public:
  explicit WordReader(std::string_view text) : text_(text) {}

  bool Next(std::string_view delims, std::string_view* word) {
    const size_t start = text_.find_first_not_of(delims, pos_);
    if (start == std::string_view::npos) {
      pos_ = text_.size();
      return false;
    }
    size_t end = text_.find_first_of(delims, start);
    if (end == std::string_view::npos) end = text_.size();
    *word = text_.substr(start, end - start);
    pos_ = end < text_.size() ? end + 1 : end;
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Leading blanks are skipped like atoi does, so "1994  08:49:37" does not
// read the hour as 0. Large values saturate instead of overflowing; they
// are out of range for every field anyway.
int LeadingNumber(std::string_view word) {
  size_t i = 0;
  while (i < word.size() && (word[i] == ' ' || word[i] == '\t')) ++i;
  int value = 0;
  for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
    if (value < 1'000'000) value = value * 10 + (word[i] - '0');
  }
  return value;
}

}  // namespace

FileTime FileTimeFromUnix(int64_t seconds) {
  constexpr int64_t kMaxSeconds = static_cast<int64_t>(
      std::numeric_limits<FileTime>::max() / kFileTimeTicksPerSecond);
  if (seconds <= -kUnixEpochInFileTimeSeconds) return 0;
  if (seconds > kMaxSeconds - kUnixEpochInFileTimeSeconds) {
    return std::numeric_limits<FileTime>::max();
  }
  return static_cast<FileTime>(seconds + kUnixEpochInFileTimeSeconds) *
         kFileTimeTicksPerSecond;
}

int64_t UnixFromFileTime(FileTime time) {
  return static_cast<int64_t>(time / kFileTimeTicksPerSecond) -
         kUnixEpochInFileTimeSeconds;
}

std::string FormatHttpDate(int64_t unix_seconds) {
  return FormatCivil(CivilFromUnix(unix_seconds));
}

bool FormatFileTime(FileTime time, std::string* out) {
  if (time >= (FileTime{1} << 63)) return false;
  const CivilTime t = CivilFromUnix(UnixFromFileTime(time));
  if (t.weekday < 0 || t.weekday > 6 || t.month < 1 || t.month > 12) {
    return false;
  }
  *out = FormatCivil(t);
  return true;
}

bool ParseHttpDate(std::string_view text, FileTime* out) {
  // The text is treated as a C string of bounded length: it ends at the
  // first NUL and only the first 255 characters are looked at.
  text = text.substr(0, text.find('\0'));
  text = text.substr(0, 255);

  WordReader reader(text);
  std::string_view weekday, day_word, month_word, year_word;
  std::string_view hour_word, minute_word, second_word;
  if (!reader.Next(" ", &weekday) || !reader.Next(" -", &day_word) ||
      !reader.Next(" -", &month_word) || !reader.Next(" ", &year_word) ||
      !reader.Next(":", &hour_word) || !reader.Next(":", &minute_word) ||
      !reader.Next(" ", &second_word)) {
    return false;
  }

  int month = 0;
  for (int i = 0; i < 12; ++i) {
    if (EqualsIgnoreCase(month_word, kMonthNames[i])) {
      month = i + 1;
      break;
    }
  }
  if (month == 0) return false;

  const int day = LeadingNumber(day_word);
  int year = LeadingNumber(year_word);
  if (year < 100) year += 1900;  // two-digit years of the RFC 850 form
  const int hour = LeadingNumber(hour_word);
  const int minute = LeadingNumber(minute_word);
  const int second = LeadingNumber(second_word);

  if (year < kMinYear || year > kMaxYear) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;

  const int64_t unix_seconds = DaysFromCivil(year, month, day) * kSecondsPerDay +
                               hour * 3600 + minute * 60 + second;
  *out = FileTimeFromUnix(unix_seconds);
  return true;
}

int CompareFileTimes(FileTime a, FileTime b) {
  const FileTime sa = a / kFileTimeTicksPerSecond;
  const FileTime sb = b / kFileTimeTicksPerSecond;
  return sa < sb ? -1 : (sa > sb ? 1 : 0);
}

}  // namespace brisvane
