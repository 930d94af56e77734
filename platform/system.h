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

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t tick_count();
void sleep_ms(uint32_t ms);
uint32_t current_thread_id();
uint32_t current_process_id();

// True when the program runs under Wine rather than Windows. Tests use it
// to skip checks that meet a known gap of Wine's; the code never does.
bool running_under_wine();

// An environment variable, or nothing when it is not set.
std::optional<std::string> get_env(const std::string& name);
bool set_env(const std::string& name, const std::string& value);
bool unset_env(const std::string& name);

}  // namespace platform
