#include <windows.h>

#include <string>

#include "platform/message_box.h"

namespace platform {

static_assert(kMbIconError == MB_ICONERROR && kMbIconExclamation == MB_ICONEXCLAMATION &&
              kMbTaskModal == MB_TASKMODAL && kMbOk == MB_OK);

namespace detail {
void show_message_box(const std::string& text, const std::string& caption, unsigned style) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

void play_message_beep() { MessageBeep(MB_ICONEXCLAMATION); }

// Only the interactive window station is visible; services run in one
// that is not, where a box would wait for a click that never comes.
bool interactive_desktop() {
  HWINSTA station = GetProcessWindowStation();
  if (!station) return false;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return false;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// The service's event source, as the host's own reports use.
void report_event(const std::string& text, const std::string& caption) {
  HANDLE source = RegisterEventSourceA(nullptr, "SimpleService");
  if (!source) return;
  const char* strings[2] = {caption.c_str(), text.c_str()};
  ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(source);
}
}  // namespace detail

}  // namespace platform
