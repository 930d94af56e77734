// Finding the status window of a vanehost the test started: the window of
// that process whose class is the status window's.
#pragma once

#include <windows.h>

#include <cstdint>

#include "host/status_window_win32.h"

namespace brisvane::testing {

struct StatusWindowSearch {
  DWORD pid;
  HWND found;
};

inline BOOL CALLBACK MatchStatusWindow(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<StatusWindowSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char cls[32] = "";
  GetClassNameA(hwnd, cls, sizeof cls);
  if (pid == search->pid && lstrcmpA(cls, kStatusWindowClass) == 0) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// The window, looked for every 100 ms for up to 20 seconds; null when the
// host never made one.
inline HWND WaitForStatusWindow(uint32_t pid) {
  StatusWindowSearch search{pid, nullptr};
  for (int i = 0; i < 200 && !search.found; ++i) {
    Sleep(100);
    EnumWindows(MatchStatusWindow, reinterpret_cast<LPARAM>(&search));
  }
  return search.found;
}

}  // namespace brisvane::testing
