#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <vector>

#include "platform/system.h"

namespace platform {

std::string executable_path() {
  char buf[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return {};
  return std::string(buf, n);
}

std::string executable_directory() {
  std::string path = executable_path();
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

int platform_id() {
  // Only the NT line runs this build; the consumer line reports 1.
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return 2;
#pragma GCC diagnostic pop
  return info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 2;
}

std::string system_name() { return platform_id() == 2 ? "Windows NT/2000" : "Windows 95/98"; }

bool running_under_wine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool running_as_superuser() { return false; }

uint32_t tick_count() { return GetTickCount(); }
void sleep_ms(uint32_t ms) { Sleep(ms); }
uint32_t current_thread_id() { return GetCurrentThreadId(); }
uint32_t current_process_id() { return GetCurrentProcessId(); }

std::optional<std::string> get_env(const std::string& name) {
  DWORD n = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (n == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::vector<char> buf(n);
  DWORD got = GetEnvironmentVariableA(name.c_str(), buf.data(), n);
  if (got >= n) return std::nullopt;
  return std::string(buf.data(), got);
}

std::string environment_strings() {
  char* block = GetEnvironmentStringsA();
  if (!block) return std::string();
  const char* end = block;
  while (*end) end += std::char_traits<char>::length(end) + 1;
  std::string out(block, static_cast<size_t>(end - block));
  FreeEnvironmentStringsA(block);
  return out;
}

bool set_env(const std::string& name, const std::string& value) {
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0;
}

bool unset_env(const std::string& name) { return SetEnvironmentVariableA(name.c_str(), nullptr) != 0; }

bool set_priority_class(int level) {
  static constexpr DWORD kClass[] = {IDLE_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS};
  if (level < 0 || level > 2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return SetPriorityClass(GetCurrentProcess(), kClass[level]) != 0;
}

bool enable_privilege(const char* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool ok = LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr);
  // AdjustTokenPrivileges succeeds without enabling a privilege that the
  // token does not hold; only the last error tells.
  DWORD e = GetLastError();
  if (ok && e == ERROR_NOT_ALL_ASSIGNED) ok = false;
  CloseHandle(token);
  SetLastError(ok ? ERROR_SUCCESS : e);
  return ok;
}

void com_initialize() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
void com_uninitialize() { CoUninitialize(); }

int32_t time_zone_bias() {
  TIME_ZONE_INFORMATION tz;
  DWORD which = GetTimeZoneInformation(&tz);
  int32_t bias = tz.Bias + tz.StandardBias;
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += tz.DaylightBias;
  return bias;
}

LocalTime local_time_now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace platform
