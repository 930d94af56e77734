// What every dialog and property page of vaneconf shares: the dialog
// procedure that forwards to a C++ object, field helpers that read the
// 256-character buffers, and the modal runners for dialogs and sheets.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisvane::admin {

// Every field is read into a buffer of this size; longer input is cut.
inline constexpr int kFieldBuffer = 256;

class DialogBase {
 public:
  virtual ~DialogBase() = default;
  DialogBase() = default;
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;

  // Runs the template modally; true when it ended through OK.
  bool RunModal(HWND owner, int template_id);
  HWND hwnd() const { return hwnd_; }

 protected:
  virtual void OnInit() {}
  // A control's notification; `code` is the notification code.
  virtual void OnCommand(int /*id*/, int /*code*/) {}
  // OK of a modal dialog: true ends it as OK.
  virtual bool OnOk() { return true; }
  // A property page is being destroyed (its sheet closes, OK or Cancel).
  virtual void OnStore() {}
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  std::string Text(int id) const;
  void SetText(int id, const std::string& text);
  uint32_t Number(int id) const;
  void SetNumber(int id, uint32_t value);
  bool Checked(int id) const;
  void Check(int id, bool on);
  void Enable(int id, bool on);

  // List boxes: rows carry item data; the selection is the data of the
  // selected row, or -1.
  void ListClear(int id);
  void ListAdd(int id, const std::string& text, intptr_t data);
  intptr_t ListSelectedData(int id) const;
  std::string ListSelectedText(int id) const;

  HWND hwnd_ = nullptr;
  bool is_page_ = false;
  bool* sheet_ok_ = nullptr;  // set by PSN_APPLY on a page

  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static INT_PTR CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static INT_PTR Start(HWND hwnd, DialogBase* self);
  static INT_PTR Dispatch(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  friend class Sheet;
};

// A modal property sheet without Apply, its caption shown as a properties
// title. Pages are added in order and must outlive Run.
class Sheet {
 public:
  void Add(DialogBase* page, int template_id, const char* title);
  // True when the sheet ended with OK.
  bool Run(HWND owner, const std::string& caption);

 private:
  std::vector<PROPSHEETPAGEA> pages_;
  bool ok_ = false;
};

// The prompt dialog: caption, label, and the field's initial text in
// `text`; true on OK with the field (at most 255 characters) in `text`.
bool RunPrompt(HWND owner, const std::string& caption, const std::string& label,
               std::string* text);

// Notices and questions, and file choices, through the hookable path.
int AskUser(HWND owner, const std::string& text, const std::string& caption, unsigned style);
std::optional<std::string> ChooseFile(HWND owner, bool save, const std::string& initial_name);

}  // namespace brisvane::admin
