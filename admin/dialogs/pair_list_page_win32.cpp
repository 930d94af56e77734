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
  Enable(IDC_PAIR_REPLACE, false);
  Enable(IDC_PAIR_DELETE, false);
  if (clear_fields) {
    SetText(IDC_PAIR_VIRTUAL, "");
    SetText(IDC_PAIR_ACTUAL, "");
  }
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
