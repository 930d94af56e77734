// vanehost on Windows: application mode with the hidden status window and
// the notification icon (its timer sends the idle command every 2 seconds), or service
// mode under the service control
// manager (NT line) or as a registered service process (consumer line).
#include <windows.h>

#include <string>

#include "base/product.h"
#include "host/log_ring.h"
#include "host/startup.h"
#include "host/status_window_win32.h"
#include "platform/message_box.h"
#include "platform/system.h"

namespace {

using brisvane::ServerInstance;

brisvane::EngineBinding* g_binding = nullptr;

// ---- application mode ----------------------------------------------------

// Lives longer than the engine, whose log hook points at it: constructed
// before main's binding, so destroyed after it.
brisvane::LogRing g_ring;

int RunApplication(HINSTANCE instance, const std::string& profile) {
  if (!brisvane::StatusWindow::RegisterWindowClass(instance)) return 0;
  brisvane::StatusWindow window(g_binding->instance(), &g_ring, profile);
  if (!window.Create(instance)) return 0;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  KillTimer(window.hwnd(), brisvane::kStatusTimer);
  return 0;
}

// ---- NT service ----------------------------------------------------------

SERVICE_STATUS g_status{};
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;
DWORD g_last_error = 0;
DWORD g_check_point = 1;

void ReportServiceError(const char* text) {
  g_last_error = GetLastError();
  HANDLE source = RegisterEventSourceA(nullptr, brisvane::kServiceName);
  if (!source) return;
  char first[128];
  wsprintfA(first, "%s error: %d", brisvane::kServiceName, static_cast<int>(g_last_error));
  const char* strings[2] = {first, text};
  ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(source);
}

BOOL ReportStatus(DWORD state, DWORD exit_code, DWORD wait_hint) {
  g_status.dwCurrentState = state;
  g_status.dwWin32ExitCode = exit_code;
  g_status.dwWaitHint = wait_hint;
  g_status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
  g_status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : g_check_point++;
  BOOL ok = SetServiceStatus(g_status_handle, &g_status);
  if (!ok) ReportServiceError("SetServiceStatus");
  return ok;
}

void WINAPI ServiceControl(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    ReportStatus(SERVICE_STOP_PENDING, NO_ERROR, 0);
    if (g_stop_event) SetEvent(g_stop_event);
    return;
  }
  ReportStatus(g_status.dwCurrentState, NO_ERROR, 0);
}

void ServiceBody() {
  ServerInstance* engine = g_binding->instance();
  if (!ReportStatus(SERVICE_START_PENDING, NO_ERROR, 3000)) return;
  g_stop_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (ReportStatus(SERVICE_RUNNING, NO_ERROR, 0)) {
    // An engine that would not start leaves nothing to serve: the service
    // ends, with the reason in the event log and the engine's logs.
    const bool started = engine->Start();
    if (!started) ReportServiceError(brisvane::kCouldNotStartText);
    while (started) {
      if (WaitForSingleObject(g_stop_event, 2000) == WAIT_TIMEOUT) {
        Sleep(5000);
        engine->Command(brisvane::kCommandIdle, 0, 0);
        continue;
      }
      if (ReportStatus(SERVICE_STOP_PENDING, NO_ERROR, 60000)) engine->Stop();
      break;
    }
  }
  if (g_stop_event) CloseHandle(g_stop_event);
  g_stop_event = nullptr;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  g_status_handle = RegisterServiceCtrlHandlerA(brisvane::kServiceName, ServiceControl);
  if (!g_status_handle) return;
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwServiceSpecificExitCode = 0;
  if (ReportStatus(SERVICE_START_PENDING, NO_ERROR, 3000)) ServiceBody();
  ReportStatus(SERVICE_STOPPED, g_last_error, 0);
}

int RunNtService() {
  char name[sizeof brisvane::kServiceName];
  lstrcpyA(name, brisvane::kServiceName);
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) ReportServiceError("StartServiceCtrlDispatcher failed.");
  return 0;
}

// Consumer line: register as a service process so that the host survives
// the user's log-off, then go on as an application.
bool RegisterConsumerService() {
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  using RegisterFn = DWORD(WINAPI*)(DWORD, DWORD);
  auto fn = kernel ? reinterpret_cast<RegisterFn>(
                         reinterpret_cast<void*>(GetProcAddress(kernel, "RegisterServiceProcess")))
                   : nullptr;
  if (!fn) {
    platform::message_box("Cannot find RegisterServiceProcess export!", brisvane::kHostCaption,
                          platform::kMbIconError);
    return false;
  }
  if (fn(GetCurrentProcessId(), 1) == 0)
    platform::message_box("Error registering service, continuing as application", brisvane::kHostCaption,
                          platform::kMbOk);
  return true;
}

}  // namespace

int main() {
  static brisvane::EngineBinding binding;
  g_binding = &binding;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  int exit_code = 0;
  auto start = brisvane::StartHost(binding, GetCommandLineA(), &exit_code);
  if (!start) return exit_code;
  if (start->command_line.mode == brisvane::HostMode::kService) {
    int id = platform::platform_id();
    if (id == 2) {
      // No desktop under the service control manager: failures go to the
      // logs. The engine's own copy learns the same from its window station.
      platform::set_notice_policy(platform::NoticePolicy::kNoDesktop);
      return RunNtService();
    }
    if (id == 1) {
      if (!RegisterConsumerService()) return 0;
    } else {
      platform::message_box("Service mode is not supported on this platform", brisvane::kHostCaption,
                            platform::kMbIconError);
    }
  }
  // Only application mode shows the engine's lines; a service process on
  // the consumer line keeps its window without them.
  if (start->command_line.mode == brisvane::HostMode::kApplication)
    start->engine->SetLogHook(&brisvane::LogRing::Hook, 30, reinterpret_cast<uintptr_t>(&g_ring));
  return RunApplication(instance, start->command_line.profile);
}
