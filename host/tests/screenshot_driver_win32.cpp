// For tools/host_screenshot.sh: starts the staged vanehost on the given
// port, shows and sizes its status window, and once the script has sent its
// requests writes "x y w h" of the window into the request file; when the
// script has taken the picture (the file is gone) it shuts the host down
// through its menu and exits with the host's exit code.
#include <windows.h>

#include <cstdio>
#include <string>

#include "host/host_resource.h"
#include "host/status_window_win32.h"
#include "host/tests/status_window_finder_win32.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace {


bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: host_screenshot_driver <port> <ready file> <request file>\n");
    return 2;
  }
  uint32_t port = static_cast<uint32_t>(std::atoi(argv[1]));
  std::string ready = argv[2], request = argv[3];
  platform::RegHandle key = 0;
  if (platform::reg_open_key(platform::kHkeyLocalMachine, "SOFTWARE\\Halvex\\Brisvane\\2.0\\Screenshot\\Network",
                             true, &key, nullptr) != 0)
    return 3;
  platform::reg_set_value(key, "Port", platform::kRegDword, &port, sizeof port);
  platform::reg_close_key(key);

  platform::ProcessStart start;
  start.command_line = "\"" + platform::executable_directory() + "\\..\\stage\\vanehost.exe\" -p Screenshot";
  platform::ProcessHandle p = platform::process_spawn(start);
  if (p == platform::kInvalidProcess) return 4;
  const HWND window = brisvane::testing::WaitForStatusWindow(platform::process_id(p));
  if (!window) {
    platform::process_terminate(p);
    return 5;
  }
  PostMessageA(window, brisvane::kNotifyCallback, brisvane::kNotifyIconId, WM_LBUTTONDOWN);
  Sleep(500);
  SetWindowPos(window, HWND_TOP, 40, 40, 620, 440, SWP_SHOWWINDOW);
  // The script sends its requests now; the next timer tick shows the lines.
  if (FILE* f = std::fopen(ready.c_str(), "w")) std::fclose(f);
  for (int i = 0; i < 300 && Exists(ready); ++i) Sleep(100);
  Sleep(2500);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  Sleep(500);
  RECT r{};
  GetWindowRect(window, &r);
  // Written aside and renamed into place: the script polls for the file
  // and must never find it created but not yet written.
  const std::string part = request + ".part";
  if (FILE* f = std::fopen(part.c_str(), "w")) {
    std::fprintf(f, "status %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    std::fclose(f);
    MoveFileExA(part.c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  for (int i = 0; i < 300 && Exists(request); ++i) Sleep(100);
  PostMessageA(window, WM_COMMAND, IDM_SHUTDOWN, 0);
  uint32_t code = 99;
  if (platform::process_wait(p, 30000, &code) != platform::WaitResult::kEnded) platform::process_terminate(p);
  std::printf("vanehost exit code %u\n", code);
  return static_cast<int>(code);
}
