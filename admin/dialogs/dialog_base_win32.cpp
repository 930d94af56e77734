#include "admin/dialogs/dialog_base_win32.h"

#include <commdlg.h>

#include <mutex>
#include <utility>

#include "admin/dialogs/dialogs.h"
#include "admin/resource.h"

namespace brisvane::admin {

static_assert(kBoxOk == MB_OK && kBoxYesNoCancel == MB_YESNOCANCEL &&
              kBoxIconError == MB_ICONERROR && kBoxIconExclamation == MB_ICONEXCLAMATION &&
              kBoxDefault2 == MB_DEFBUTTON2 && kBoxDefault3 == MB_DEFBUTTON3);
static_assert(kAnswerOk == IDOK && kAnswerCancel == IDCANCEL && kAnswerYes == IDYES &&
              kAnswerNo == IDNO);

namespace {

// Hooks are set by tests on another thread than the dialogs run on.
std::mutex g_hook_mutex;
AskHook g_ask_hook;
FileHook g_file_hook;

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

}  // namespace

void SetAskHook(AskHook hook) {
  std::lock_guard lock(g_hook_mutex);
  g_ask_hook = std::move(hook);
}

void SetFileHook(FileHook hook) {
  std::lock_guard lock(g_hook_mutex);
  g_file_hook = std::move(hook);
}

int AskUser(HWND owner, const std::string& text, const std::string& caption, unsigned style) {
  AskHook hook;
  {
    std::lock_guard lock(g_hook_mutex);
    hook = g_ask_hook;
  }
  if (hook) return hook(text, caption, style);
  return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

std::optional<std::string> ChooseFile(HWND owner, bool save, const std::string& initial) {
  FileHook hook;
  {
    std::lock_guard lock(g_hook_mutex);
    hook = g_file_hook;
  }
  if (hook) return hook(save, initial);
  char buffer[1024] = {};
  initial.copy(buffer, sizeof buffer - 1);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = sizeof buffer;
  if (save) {
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return std::nullopt;
  } else {
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return std::nullopt;
  }
  return std::string(buffer);
}

// ---- DialogBase ----

bool DialogBase::RunModal(HWND owner, int template_id) {
  return DialogBoxParamA(Instance(), MAKEINTRESOURCEA(template_id), owner, Proc,
                         reinterpret_cast<LPARAM>(this)) == IDOK;
}

INT_PTR CALLBACK DialogBase::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) return Start(hwnd, reinterpret_cast<DialogBase*>(lp));
  return Dispatch(hwnd, msg, wp, lp);
}

INT_PTR CALLBACK DialogBase::PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  // A page is given its PROPSHEETPAGE, whose lParam holds the object.
  if (msg == WM_INITDIALOG)
    return Start(hwnd, reinterpret_cast<DialogBase*>(reinterpret_cast<PROPSHEETPAGEA*>(lp)->lParam));
  return Dispatch(hwnd, msg, wp, lp);
}

INT_PTR DialogBase::Start(HWND hwnd, DialogBase* self) {
  SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  self->hwnd_ = hwnd;
  self->OnInit();
  return TRUE;
}

INT_PTR DialogBase::Dispatch(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<DialogBase*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  switch (msg) {
    case WM_COMMAND: {
      int id = LOWORD(wp);
      if (!self->is_page_ && id == IDOK) {
        if (self->OnOk()) EndDialog(hwnd, IDOK);
        return TRUE;
      }
      if (!self->is_page_ && id == IDCANCEL) {
        EndDialog(hwnd, IDCANCEL);
        return TRUE;
      }
      self->OnCommand(id, HIWORD(wp));
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (self->is_page_ && hdr->code == static_cast<UINT>(PSN_APPLY)) {
        if (self->sheet_ok_) *self->sheet_ok_ = true;
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, PSNRET_NOERROR);
        return TRUE;
      }
      return FALSE;
    }
    case WM_DESTROY:
      if (self->is_page_) self->OnStore();
      self->hwnd_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

std::string DialogBase::Text(int id) const {
  char buffer[kFieldBuffer] = {};
  GetDlgItemTextA(hwnd_, id, buffer, sizeof buffer);
  return buffer;
}

void DialogBase::SetText(int id, const std::string& text) { SetDlgItemTextA(hwnd_, id, text.c_str()); }

uint32_t DialogBase::Number(int id) const {
  return static_cast<uint32_t>(GetDlgItemInt(hwnd_, id, nullptr, FALSE));
}

void DialogBase::SetNumber(int id, uint32_t value) { SetDlgItemInt(hwnd_, id, value, FALSE); }

bool DialogBase::Checked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

void DialogBase::Check(int id, bool on) { CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED); }

void DialogBase::Enable(int id, bool on) { EnableWindow(Item(id), on ? TRUE : FALSE); }

void DialogBase::ListClear(int id) { SendDlgItemMessageA(hwnd_, id, LB_RESETCONTENT, 0, 0); }

void DialogBase::ListAdd(int id, const std::string& text, intptr_t data) {
  LRESULT row = SendDlgItemMessageA(hwnd_, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (row >= 0) SendDlgItemMessageA(hwnd_, id, LB_SETITEMDATA, row, data);
}

intptr_t DialogBase::ListSelectedData(int id) const {
  LRESULT row = SendDlgItemMessageA(hwnd_, id, LB_GETCURSEL, 0, 0);
  if (row == LB_ERR) return -1;
  return SendDlgItemMessageA(hwnd_, id, LB_GETITEMDATA, row, 0);
}

std::string DialogBase::ListSelectedText(int id) const {
  LRESULT row = SendDlgItemMessageA(hwnd_, id, LB_GETCURSEL, 0, 0);
  if (row == LB_ERR) return {};
  LRESULT length = SendDlgItemMessageA(hwnd_, id, LB_GETTEXTLEN, row, 0);
  if (length < 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendDlgItemMessageA(hwnd_, id, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

// ---- Sheet ----

void Sheet::Add(DialogBase* page, int template_id, const char* title) {
  page->is_page_ = true;
  page->sheet_ok_ = &ok_;
  PROPSHEETPAGEA p{};
  p.dwSize = sizeof p;
  p.dwFlags = PSP_USETITLE;
  p.hInstance = Instance();
  p.pszTemplate = MAKEINTRESOURCEA(template_id);
  p.pfnDlgProc = DialogBase::PageProc;
  p.pszTitle = title;
  p.lParam = reinterpret_cast<LPARAM>(page);
  pages_.push_back(p);
}

bool Sheet::Run(HWND owner, const std::string& caption) {
  ok_ = false;
  PROPSHEETHEADERA h{};
  h.dwSize = sizeof h;
  h.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_PROPTITLE;
  h.hwndParent = owner;
  h.hInstance = Instance();
  h.pszCaption = caption.c_str();
  h.nPages = static_cast<UINT>(pages_.size());
  h.ppsp = pages_.data();
  // The result of PropertySheet says whether pages reported changes; OK
  // itself is learnt from PSN_APPLY, which every created page receives.
  PropertySheetA(&h);
  return ok_;
}

// ---- Prompt dialog ----

namespace {

class PromptDialog : public DialogBase {
 public:
  PromptDialog(std::string caption, std::string label, std::string text)
      : caption_(std::move(caption)), label_(std::move(label)), text_(std::move(text)) {}
  const std::string& text() const { return text_; }

 private:
  void OnInit() override {
    SetWindowTextA(hwnd_, caption_.c_str());
    SetText(IDC_PROMPT_LABEL, label_);
    SendDlgItemMessageA(hwnd_, IDC_PROMPT_TEXT, EM_LIMITTEXT, kFieldBuffer - 1, 0);
    SetText(IDC_PROMPT_TEXT, text_);
  }
  bool OnOk() override {
    text_ = Text(IDC_PROMPT_TEXT);
    return true;
  }

  std::string caption_, label_, text_;
};

}  // namespace

bool RunPrompt(HWND owner, const std::string& caption, const std::string& label, std::string* text) {
  PromptDialog dialog(caption, label, *text);
  if (!dialog.RunModal(owner, IDD_PROMPT)) return false;
  *text = dialog.text();
  return true;
}

}  // namespace brisvane::admin
