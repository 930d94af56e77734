#include "host/status_window_win32.h"

#include <shellapi.h>

#include <cstdio>

#include "host/command_line.h"
#include "host/host_resource.h"
#include "platform/message_box.h"

namespace brisvane {
namespace {

constexpr size_t kTipChars = 64;  // the icon tip, terminator included
constexpr int kEditTop = 100;

// A configuration module launch is under way (one per process).
bool g_launching = false;

HFONT ArialFont() {
  return CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
}

std::string Query(ServerInstance* engine, const char* name, bool* ok = nullptr) {
  char buffer[80];
  lstrcpynA(buffer, name, sizeof buffer);
  bool done = engine->QueryValue(buffer, sizeof buffer);
  if (ok) *ok = done;
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK) {
        EndDialog(dialog, 1);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(dialog, 1);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

StatusWindow::StatusWindow(ServerInstance* engine, LogRing* ring, std::string profile)
    : engine_(engine), ring_(ring), profile_(std::move(profile)) {
  asker_ = [](HWND owner, const std::string& text, const std::string& caption, UINT style) {
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
  };
}

StatusWindow::~StatusWindow() {
  if (icon_shown_) SetTip("", NIM_DELETE);
  if (hwnd_) {
    KillTimer(hwnd_, kStatusTimer);
    SetWindowLongPtrA(hwnd_, 0, 0);
    DestroyWindow(hwnd_);
  }
  if (edit_font_) DeleteObject(edit_font_);
}

bool StatusWindow::RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WindowProc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, "HTTPD_ICON");
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
  wc.lpszMenuName = "HTTPD_MENU";
  wc.lpszClassName = kStatusWindowClass;
  return RegisterClassA(&wc) != 0;
}

bool StatusWindow::Create(HINSTANCE instance) {
  instance_ = instance;
  hwnd_ = CreateWindowExA(WS_EX_OVERLAPPEDWINDOW, kStatusWindowClass, kHostCaption, WS_OVERLAPPEDWINDOW,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                          this);
  if (hwnd_) {
    edit_ = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                            WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | WS_HSCROLL |
                                WS_VSCROLL,
                            0, kEditTop, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance, nullptr);
    edit_font_ = ArialFont();
    if (edit_) {
      SendMessageA(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(edit_font_), FALSE);
      // The window's own size message came before the edit control existed.
      RECT client{};
      GetClientRect(hwnd_, &client);
      MoveWindow(edit_, 0, kEditTop, client.right, client.bottom - kEditTop, FALSE);
    }
  }
  if (!hwnd_) return false;
  if (!engine_->Start()) {
    platform::message_box(kCouldNotStartText, kHostCaption, platform::kMbIconError);
    return false;
  }
  SetTimer(hwnd_, kStatusTimer, 2000, nullptr);
  SetTip(std::string(kHostCaption) + " initializing", NIM_ADD);
  ShowWindow(hwnd_, SW_HIDE);
  UpdateStatus();
  return true;
}

void StatusWindow::SetTip(const std::string& tip, DWORD operation) {
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd_;
  data.uID = kNotifyIconId;
  data.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  data.uCallbackMessage = kNotifyCallback;
  data.hIcon = LoadIconA(instance_, "HTTPD_ICON");
  lstrcpynA(data.szTip, tip.c_str(), kTipChars);
  // Under a desktop without a notification area the icon may fail; the
  // window still works through its menu.
  BOOL ok = Shell_NotifyIconA(operation, &data);
  if (operation == NIM_ADD) icon_shown_ = ok != FALSE;
  if (operation == NIM_DELETE) icon_shown_ = false;
}

void StatusWindow::UpdateStatus() {
  bool ok = false;
  std::string clients = Query(engine_, kQueryNumClients, &ok);
  if (!ok) return;
  char text[160];
  if (clients == "0")
    std::snprintf(text, sizeof text, "%s idle", kHostCaption);
  else
    std::snprintf(text, sizeof text, "%s busy (%s)", kHostCaption, clients.c_str());
  SetWindowTextA(hwnd_, text);
  if (icon_shown_) SetTip(text, NIM_MODIFY);
}

LRESULT CALLBACK StatusWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return 0;
  }
  auto* self = reinterpret_cast<StatusWindow*>(GetWindowLongPtrA(hwnd, 0));
  if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
  return self->Handle(msg, wp, lp);
}

LRESULT StatusWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
    case WM_DESTROY:
      ShowWindow(hwnd_, SW_HIDE);
      return 0;
    case WM_SIZE:
      if (edit_) MoveWindow(edit_, 0, kEditTop, LOWORD(lp), HIWORD(lp) - kEditTop, TRUE);
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      info->ptMinTrackSize.x = 300;
      info->ptMinTrackSize.y = 200;
      return 0;
    }
    case WM_COMMAND:
      OnCommand(LOWORD(wp));
      return 0;
    case WM_TIMER:
      engine_->Command(kCommandIdle, 0, 0);
      if (ring_->TakeChanged()) InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case kNotifyCallback:
      OnIcon(wp, lp);
      return 0;
  }
  return DefWindowProcA(hwnd_, msg, wp, lp);
}

void StatusWindow::OnIcon(WPARAM wp, LPARAM lp) {
  if (wp != kNotifyIconId) return;
  if (lp == WM_LBUTTONDOWN) {
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
  } else if (lp == WM_RBUTTONDOWN) {
    POINT at{};
    GetCursorPos(&at);
    SetForegroundWindow(hwnd_);
    TrackPopupMenu(GetSubMenu(GetMenu(hwnd_), 0), TPM_RIGHTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_,
                   nullptr);
    // So that the menu closes when the user clicks elsewhere.
    PostMessageA(hwnd_, WM_NULL, 0, 0);
  }
}

void StatusWindow::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  SetBkColor(dc, GetSysColor(COLOR_MENU));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  if (HBITMAP logo = static_cast<HBITMAP>(LoadImageA(instance_, "ZELTLOGO", IMAGE_BITMAP, 0, 0, 0))) {
    BITMAP info{};
    GetObjectA(logo, sizeof info, &info);
    RECT window{};
    GetWindowRect(hwnd_, &window);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, logo);
    BitBlt(dc, (window.right - window.left) - info.bmWidth - 15, 5, info.bmWidth, info.bmHeight, memory, 0, 0,
           SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(logo);
  }
  HFONT font = ArialFont();
  HGDIOBJ old_font = SelectObject(dc, font);
  const struct {
    const char* label;
    const char* value;
    int y;
  } lines[] = {{"Bytes Received: %s", kQueryBytesReceived, 10},
               {"Bytes Sent: %s", kQueryBytesSent, 30},
               {"Total Requests: %s", kQueryNumRequests, 50}};
  for (const auto& line : lines) {
    char text[128];
    std::snprintf(text, sizeof text, line.label, Query(engine_, line.value).c_str());
    TextOutA(dc, 10, line.y, text, lstrlenA(text));
  }
  if (edit_) SetWindowTextA(edit_, ring_->NewestFirstText().c_str());
  SelectObject(dc, old_font);
  DeleteObject(font);
  EndPaint(hwnd_, &ps);
  UpdateStatus();
}

void StatusWindow::OnCommand(int id) {
  switch (id) {
    case IDM_PROPERTIES:
      LaunchConfiguration();
      break;
    case IDM_SHUTDOWN:
      if (icon_shown_) SetTip("", NIM_DELETE);
      engine_->Stop();
      PostQuitMessage(0);
      break;
    case IDM_PAUSE: {
      HMENU menu = GetMenu(hwnd_);
      if (GetMenuState(menu, IDM_PAUSE, MF_BYCOMMAND) & MF_CHECKED) {
        engine_->Resume();
        CheckMenuItem(menu, IDM_PAUSE, MF_BYCOMMAND | MF_UNCHECKED);
      } else {
        engine_->Pause();
        CheckMenuItem(menu, IDM_PAUSE, MF_BYCOMMAND | MF_CHECKED);
      }
      break;
    }
    case IDM_FLUSH:
      engine_->Flush();
      InvalidateRect(hwnd_, nullptr, FALSE);
      Sleep(250);
      UpdateStatus();
      break;
    case IDM_RESOLVE_IP:
      engine_->Command(kCommandResolveIp, 0, 0);
      InvalidateRect(hwnd_, nullptr, TRUE);
      break;
    case IDM_ABOUT:
      DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUT), hwnd_, AboutProc, 0);
      break;
    case IDM_RESET_CONFIGURATION:
      ResetConfiguration();
      break;
    case IDM_IMPORT:
      Import();
      break;
    case IDM_MASQUERADE:
      Masquerade();
      break;
  }
}

void StatusWindow::LaunchConfiguration() {
  if (g_launching) return;
  g_launching = true;
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string directory(path, n < sizeof path ? n : 0);
  size_t slash = directory.rfind('\\');
  if (slash != std::string::npos) directory.resize(slash);
  std::string command = "\"" + directory + "\\vaneconf.exe\" " + profile_;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  } else {
    char text[96];
    std::snprintf(text, sizeof text, "Unable to execute vaneconf.exe, error %d", static_cast<int>(GetLastError()));
    platform::message_box(text, "Error", platform::kMbIconError);
  }
  g_launching = false;
}

void StatusWindow::ResetConfiguration() {
  static constexpr char kCaption[] = "Reset Brisvane Configuration";
  int answer = asker_(hwnd_,
                      "Resetting the configuration will remove the configuration keys from the registry. This "
                      "should only be used if you are experiencing errors with the registry (i.e. corruption). "
                      "Are you sure you want to reset the configuration?",
                      kCaption, MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON3);
  if (answer != IDYES) return;
  // One key, not a tree: where the system refuses to delete a key with
  // subkeys, the user learns so.
  if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvex\\Brisvane\\2.0") != ERROR_SUCCESS)
    platform::message_box("Error removing key", kCaption, platform::kMbIconError);
  else
    platform::message_box("Configuration reset", kCaption, platform::kMbOk);
}

void StatusWindow::Import() {
  static constexpr char kCaption[] = "Import WebServer Configuration";
  if (engine_->Command(kCommandImportWebsite, 0, 0))
    platform::message_box("Import Successful", kCaption, platform::kMbOk);
  else
    platform::message_box("Fatal Error Importing Configuration", kCaption, platform::kMbIconError);
}

void StatusWindow::Masquerade() {
  static constexpr char kCaption[] = "Export WebServer Configuration";
  int answer = asker_(hwnd_,
                      "If you have WebServer installed, exporting your configuration to WebServer may render "
                      "WebServer unusable.  Do you want to continue?",
                      kCaption, MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON3);
  if (answer != IDYES) return;
  if (engine_->Command(kCommandExportWebsite, 0, 0))
    platform::message_box("Export (Masquerade) Successful.  You may now install WebServer extensions.", kCaption,
                          platform::kMbOk);
  else
    platform::message_box("Fatal Error Exporting Configuration", kCaption, platform::kMbIconError);
}

}  // namespace brisvane
