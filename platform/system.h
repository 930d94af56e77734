// Process and system facts that the programs ask the OS for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Full path of the running executable.
std::string executable_path();

// Directory of the running executable, without a trailing separator.
std::string executable_directory();

// 1 for the consumer line of Windows, 2 for the NT line. POSIX reports 2.
int platform_id();

// The operating system as the start-up trace names it: "Windows NT/2000"
// or "Windows 95/98" on Windows, the kernel's name and release (major and
// minor) on POSIX, for example "Linux 6.1".
std::string system_name();

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t tick_count();
void sleep_ms(uint32_t ms);
uint32_t current_thread_id();
uint32_t current_process_id();

// True when the program runs under Wine rather than Windows. Tests use it
// to skip checks that meet a known gap of Wine's; the code never does.
bool running_under_wine();

// True when the process runs with the system's full rights (root's
// effective user id on POSIX); programs it starts inherit them. Never on
// Windows, where rights come with the account and are not told apart here.
bool running_as_superuser();

// Process priority class: 0 idle, 1 normal, 2 high. False when the
// system refuses (on POSIX raising it needs privileges).
bool set_priority_class(int level);

// Enables a privilege such as "SeBackupPrivilege" in the process token.
// A no-op that succeeds on POSIX.
bool enable_privilege(const char* name);

// COM in the multithreaded model for the calling thread; no-ops on POSIX.
void com_initialize();
void com_uninitialize();

// Time-zone bias in minutes as Windows reports it (positive west of
// Greenwich): Bias + StandardBias, plus DaylightBias while daylight time
// is in force.
int32_t time_zone_bias();

// Local calendar time now.
struct LocalTime {
  int year, month, day, hour, minute, second;  // month 1..12
};
LocalTime local_time_now();

// An environment variable, or nothing when it is not set.
std::optional<std::string> get_env(const std::string& name);
bool set_env(const std::string& name, const std::string& value);
bool unset_env(const std::string& name);
// The whole environment of this process: each "NAME=value" followed by a
// NUL, in the system's order, without the block's final empty string.
std::string environment_strings();

}  // namespace platform
