#include <windows.h>

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

bool running_under_wine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

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

bool set_env(const std::string& name, const std::string& value) {
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0;
}

bool unset_env(const std::string& name) { return SetEnvironmentVariableA(name.c_str(), nullptr) != 0; }

}  // namespace platform
