// The status window of application mode: hidden at first, reached through
// the notification icon; shows the engine's counters and the newest log
// lines and carries the administration menu. Runs on the window thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "engine/core/server_instance.h"
#include "host/log_ring.h"

namespace brisvane {

inline constexpr char kStatusWindowClass[] = "Brisvane";
inline constexpr UINT kNotifyIconId = 1234;
inline constexpr UINT kNotifyCallback = 1825;
inline constexpr UINT_PTR kStatusTimer = 1;

class StatusWindow {
 public:
  // Asks a question and returns the button pressed (IDYES, ...); a message
  // box unless a test replaces it.
  using Asker = std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT style)>;

  StatusWindow(ServerInstance* engine, LogRing* ring, std::string profile);
  // Removes the icon if it is still shown and destroys the window.
  ~StatusWindow();
  StatusWindow(const StatusWindow&) = delete;
  StatusWindow& operator=(const StatusWindow&) = delete;

  // Registers the window class "Brisvane"; false when that fails.
  static bool RegisterWindowClass(HINSTANCE instance);

  // Creates the window and its edit control, starts the engine (telling the
  // user "Could not start server" when it fails), starts the 2-second timer,
  // adds the notification icon and hides the window. False when the window
  // could not be made or the engine did not start: the host then ends.
  bool Create(HINSTANCE instance);

  // Title and icon tip from the engine's client count.
  void UpdateStatus();

  void set_asker(Asker asker) { asker_ = std::move(asker); }
  HWND hwnd() const { return hwnd_; }
  HWND edit() const { return edit_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void Paint();
  void OnCommand(int id);
  void OnIcon(WPARAM wp, LPARAM lp);
  void LaunchConfiguration();
  void ResetConfiguration();
  void Masquerade();
  void Import();
  void SetTip(const std::string& tip, DWORD operation);

  ServerInstance* engine_;
  LogRing* ring_;
  std::string profile_;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND edit_ = nullptr;
  HFONT edit_font_ = nullptr;
  bool icon_shown_ = false;
  Asker asker_;
};

}  // namespace brisvane
