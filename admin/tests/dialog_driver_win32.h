// Drives the dialogs that the test's main thread shows, from a second
// thread, by window messages; and answers their message boxes and file
// choices through the dialogs' hooks.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brisvane::admin::testing {

struct ShownBox {
  std::string text, caption;
  unsigned style;
};

// Answers what the dialogs would ask the user. Questions (Yes/No/Cancel)
// take the queued answers in turn, Cancel when none is left; notices are
// answered OK. Everything is recorded.
class Answers {
 public:
  Answers();
  ~Answers();
  void QueueAnswer(int answer);
  void SetFile(std::optional<std::string> file);
  std::vector<ShownBox> boxes() const;
  // How many boxes were shown with exactly this text.
  int Count(const std::string& text) const;

 private:
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::vector<ShownBox> boxes_;
  std::optional<std::string> file_;
};

class Driver {
 public:
  explicit Driver(DWORD ui_thread) : ui_thread_(ui_thread) {}

  // The enabled top-level window of the dialogs' thread whose caption
  // contains `caption`; waits up to ten seconds, null on time-out.
  HWND Wait(const std::string& caption) const;
  // Waits until `window` is gone; false on time-out.
  bool WaitGone(HWND window) const;

  // A button click that returns when its work is done; for buttons that
  // do not open a modal window.
  static void Click(HWND dialog, int id);
  // A click whose work may open a modal window: returns at once.
  static void ClickLater(HWND dialog, int id);
  static void SetText(HWND dialog, int id, const std::string& text);
  static std::string Text(HWND dialog, int id);
  static bool Checked(HWND dialog, int id);
  static bool Enabled(HWND dialog, int id);
  static std::string Caption(HWND window);

  // List boxes: the rows as shown, and a selection by row text that the
  // dialog is told of (LBN_SELCHANGE). False when no row has that text.
  static std::vector<std::string> Rows(HWND dialog, int id);
  static bool Select(HWND dialog, int id, const std::string& row);

  // Property sheets: show page `index` and return it; press a button.
  static HWND Page(HWND sheet, int index);
  static void PressOk(HWND sheet);
  static void PressCancel(HWND sheet);

  // Cancels every window of the dialogs' thread until none is left, so
  // that a failed script never leaves the test hanging.
  void CloseAll() const;
  // The captions of the thread's visible windows, for failure messages.
  std::string OpenCaptions() const;

 private:
  DWORD ui_thread_;
};

}  // namespace brisvane::admin::testing
