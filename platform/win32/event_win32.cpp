#include <windows.h>

#include "platform/event.h"

namespace platform {

EventHandle event_create(const std::string& name) {
  // A null access list: processes of any user, a service's included, may
  // open and signal it.
  SECURITY_DESCRIPTOR sd;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE))
    return 0;
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = &sd;
  sa.bInheritHandle = FALSE;
  return reinterpret_cast<EventHandle>(CreateEventA(&sa, TRUE, FALSE, name.c_str()));
}

EventHandle event_open(const std::string& name) {
  return reinterpret_cast<EventHandle>(OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str()));
}

bool event_set(EventHandle e) { return SetEvent(reinterpret_cast<HANDLE>(e)) != 0; }

bool event_reset(EventHandle e) { return ResetEvent(reinterpret_cast<HANDLE>(e)) != 0; }

bool event_is_set(EventHandle e) { return WaitForSingleObject(reinterpret_cast<HANDLE>(e), 0) == WAIT_OBJECT_0; }

void event_close(EventHandle e) {
  if (e) CloseHandle(reinterpret_cast<HANDLE>(e));
}

void event_discard(const std::string&) {}

}  // namespace platform
