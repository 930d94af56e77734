// vaneconf for Windows: the start-up, then the Configuration dialog over
// the profile named on the command line.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "admin/dialogs/dialogs.h"

namespace {

// Backup and restore need these; without them (the consumer line, or an
// account that lacks them) those two commands fail with their own message.
void EnablePrivilege(HANDLE token, const char* name) {
  TOKEN_PRIVILEGES tp{};
  if (!LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid)) return;
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
}

bool IsNtLine() { return (GetVersion() & 0x80000000u) == 0; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  if (IsNtLine()) {
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      EnablePrivilege(token, "SeBackupPrivilege");
      EnablePrivilege(token, "SeRestorePrivilege");
      CloseHandle(token);
    }
  }
  // Everything after the program name, as one text, names the profile;
  // the store takes an empty name as "Default".
  std::string profile = command_line ? command_line : "";
  return brisvane::admin::RunConfigurationModule(profile);
}
