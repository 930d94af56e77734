// HTTP date handling: formatting the Date header, formatting and parsing
// the dates used by Last-Modified / If-Modified-Since, and file-time
// arithmetic. Everything here is pure computation with no shared mutable
// state, so it is safe to call from any number of connection threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brisvane {

// 100-ns ticks since 1601-01-01 00:00:00 UTC, the same scale as a Windows
// FILETIME, so values from the file system can be used without conversion.
using FileTime = uint64_t;

inline constexpr FileTime kFileTimeTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kUnixEpochInFileTimeSeconds = 11'644'473'600;

extern const char* const kWeekdayNames[7];  // "Sun" .. "Sat"
extern const char* const kMonthNames[12];   // "Jan" .. "Dec"

// Seconds before 1601 clamp to 0 and seconds beyond the FileTime range
// clamp to the largest FileTime, rather than wrapping around.
FileTime FileTimeFromUnix(int64_t seconds);
// Sub-second ticks are dropped.
int64_t UnixFromFileTime(FileTime time);

// "Thu, 01 Jan 1970 00:00:00 GMT" for the given seconds since 1970 (UTC).
// The year is written as a plain decimal number, as %Y would give it.
std::string FormatHttpDate(int64_t unix_seconds);

// Same text as FormatHttpDate for the whole second containing `time`.
// Returns false, leaving *out untouched, for times with the high bit set,
// which the Windows conversion rejects as well.
bool FormatFileTime(FileTime time, std::string* out);

// Accepts "Sun, 06 Nov 1994 08:49:37 GMT" and
// "Sunday, 06-Nov-94 08:49:37 GMT"; the weekday and zone words are not
// checked and the values are taken as UTC. The asctime form is rejected.
// Only the first 255 characters, up to any NUL, are read. Numbers come from
// a word's leading digits after any blanks (none reads as 0); years below
// 100 get 1900 added.
// Returns false, leaving *out untouched, when a field is missing or the
// date or time is out of range.
bool ParseHttpDate(std::string_view text, FileTime* out);

// -1, 0 or 1 as `a` is earlier than, in the same second as, or later than
// `b`. HTTP dates carry whole seconds only, so sub-second ticks must not
// make a file look modified since a date taken from its own timestamp.
int CompareFileTimes(FileTime a, FileTime b);

}  // namespace brisvane
