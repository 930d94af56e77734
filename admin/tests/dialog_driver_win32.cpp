#include "admin/tests/dialog_driver_win32.h"

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include "admin/dialogs/dialogs.h"
#include "platform/message_box.h"

namespace brisvane::admin::testing {

Answers::Answers() {
  SetAskHook([this](const std::string& text, const std::string& caption, unsigned style) {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, caption, style});
    if ((style & 0xF) != kBoxYesNoCancel) return kAnswerOk;
    if (answers_.empty()) return kAnswerCancel;
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
  });
  // Backup and restore report their failures through the platform's boxes.
  platform::set_message_box_hook([this](const std::string& text, const std::string& caption,
                                        unsigned style) {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, caption, style});
  });
  SetFileHook([this](bool, const std::string&) {
    std::lock_guard lock(mutex_);
    return file_;
  });
}

Answers::~Answers() {
  SetAskHook(nullptr);
  SetFileHook(nullptr);
  platform::set_message_box_hook(nullptr);
}

void Answers::QueueAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

void Answers::SetFile(std::optional<std::string> file) {
  std::lock_guard lock(mutex_);
  file_ = std::move(file);
}

std::vector<ShownBox> Answers::boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

int Answers::Count(const std::string& text) const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const ShownBox& b : boxes_) n += b.text == text;
  return n;
}

namespace {

struct Search {
  std::string caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindCaption(HWND window, LPARAM lp) {
  auto* search = reinterpret_cast<Search*>(lp);
  if (!IsWindowEnabled(window)) return TRUE;  // the owner of a modal window
  if (Driver::Caption(window).find(search->caption) == std::string::npos) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK CancelWindow(HWND window, LPARAM lp) {
  if (!IsWindowVisible(window)) return TRUE;
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  ++*reinterpret_cast<int*>(lp);
  return TRUE;
}

BOOL CALLBACK AddCaption(HWND window, LPARAM lp) {
  if (IsWindowVisible(window))
    *reinterpret_cast<std::string*>(lp) +=
        "\"" + Driver::Caption(window) + (IsWindowEnabled(window) ? "\" " : "\" (disabled) ");
  return TRUE;
}

constexpr int kPollMs = 20;
constexpr int kWaitMs = 10000;

}  // namespace

HWND Driver::Wait(const std::string& caption) const {
  for (int waited = 0; waited < kWaitMs; waited += kPollMs) {
    Search search{caption};
    EnumThreadWindows(ui_thread_, FindCaption, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(kPollMs);
  }
  ADD_FAILURE() << "no window \"" << caption << "\"; open: " << OpenCaptions();
  return nullptr;
}

std::string Driver::OpenCaptions() const {
  std::string list;
  EnumThreadWindows(ui_thread_, AddCaption, reinterpret_cast<LPARAM>(&list));
  return list;
}

bool Driver::WaitGone(HWND window) const {
  for (int waited = 0; waited < kWaitMs; waited += kPollMs) {
    if (!IsWindow(window)) return true;
    Sleep(kPollMs);
  }
  return false;
}

void Driver::Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void Driver::ClickLater(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void Driver::SetText(HWND dialog, int id, const std::string& text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string Driver::Text(HWND dialog, int id) {
  char buffer[1024] = {};
  SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

bool Driver::Checked(HWND dialog, int id) {
  return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Driver::Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

std::string Driver::Caption(HWND window) {
  char buffer[512] = {};
  SendMessageA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

std::vector<std::string> Driver::Rows(HWND dialog, int id) {
  HWND list = GetDlgItem(dialog, id);
  std::vector<std::string> rows;
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char buffer[1024] = {};
    SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer));
    rows.emplace_back(buffer);
  }
  return rows;
}

bool Driver::Select(HWND dialog, int id, const std::string& row) {
  HWND list = GetDlgItem(dialog, id);
  LRESULT index = SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                               reinterpret_cast<LPARAM>(row.c_str()));
  if (index == LB_ERR) return false;
  SendMessageA(list, LB_SETCURSEL, index, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  return true;
}

HWND Driver::Page(HWND sheet, int index) {
  SendMessageA(sheet, PSM_SETCURSEL, index, 0);
  return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

void Driver::PressOk(HWND sheet) { PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0); }

void Driver::PressCancel(HWND sheet) { PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0); }

void Driver::CloseAll() const {
  for (int waited = 0; waited < kWaitMs; waited += 100) {
    int open = 0;
    EnumThreadWindows(ui_thread_, CancelWindow, reinterpret_cast<LPARAM>(&open));
    if (open == 0) return;
    Sleep(100);
  }
}

}  // namespace brisvane::admin::testing
