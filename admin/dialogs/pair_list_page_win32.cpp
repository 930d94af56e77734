#include "admin/dialogs/pair_list_page_win32.h"

#include "admin/dialogs/dialogs.h"
#include "admin/model/server_editing.h"
#include "admin/resource.h"

namespace brisvane::admin {

void PairListPage::OnInit() {
  // Tab stop in dialog units, between the first and the second value.
  INT stop = 100;
  SendDlgItemMessageA(hwnd_, IDC_PAIR_LIST, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&stop));
  Refill(false);
}

void PairListPage::Refill(bool clear_fields) {
  ListClear(IDC_PAIR_LIST);
  for (size_t i = 0; i < list_->size(); ++i)
    ListAdd(IDC_PAIR_LIST, (*list_)[i].first + "\t" + (*list_)[i].second, static_cast<intptr_t>(i));
  FitWidth();
  Enable(IDC_PAIR_REPLACE, false);
  Enable(IDC_PAIR_DELETE, false);
  if (clear_fields) {
    SetText(IDC_PAIR_VIRTUAL, "");
    SetText(IDC_PAIR_ACTUAL, "");
  }
}

// Long targets scroll sideways instead of being cut at the list's edge.
void PairListPage::FitWidth() {
  HWND list = GetDlgItem(hwnd_, IDC_PAIR_LIST);
  HDC dc = GetDC(list);
  if (!dc) return;
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  RECT stop{0, 0, 100, 0};
  MapDialogRect(hwnd_, &stop);
  LONG widest = 0;
  for (const NamePair& row : *list_) {
    SIZE first{}, second{};
    GetTextExtentPoint32A(dc, row.first.c_str(), static_cast<int>(row.first.size()), &first);
    GetTextExtentPoint32A(dc, row.second.c_str(), static_cast<int>(row.second.size()), &second);
    // A first value wider than the tab stop pushes the second one along.
    const LONG start = first.cx < stop.right ? stop.right : first.cx + stop.right;
    if (start + second.cx > widest) widest = start + second.cx;
  }
  if (old) SelectObject(dc, old);
  ReleaseDC(list, dc);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
}

void PairListPage::OnCommand(int id, int code) {
  intptr_t pos = ListSelectedData(IDC_PAIR_LIST);
  if (id == IDC_PAIR_LIST) {
    if (code != LBN_SELCHANGE || pos < 0 || static_cast<size_t>(pos) >= list_->size()) return;
    Enable(IDC_PAIR_REPLACE, true);
    Enable(IDC_PAIR_DELETE, true);
    SetText(IDC_PAIR_VIRTUAL, (*list_)[static_cast<size_t>(pos)].first);
    SetText(IDC_PAIR_ACTUAL, (*list_)[static_cast<size_t>(pos)].second);
    return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_PAIR_ADD: {
      std::string why;
      if (!AddPair(list_, Text(IDC_PAIR_VIRTUAL), Text(IDC_PAIR_ACTUAL), &why)) {
        AskUser(hwnd_, why, "Brisvane", kBoxOk | kBoxIconError);
        return;
      }
      break;
    }
    case IDC_PAIR_REPLACE:
      if (pos < 0) return;
      ReplacePair(list_, static_cast<size_t>(pos), Text(IDC_PAIR_VIRTUAL), Text(IDC_PAIR_ACTUAL));
      break;
    case IDC_PAIR_DELETE:
      if (pos < 0) return;
      DeletePair(list_, static_cast<size_t>(pos));
      break;
    default:
      return;
  }
  Refill(true);
}

}  // namespace brisvane::admin
