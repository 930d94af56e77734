// The Access Control List page, the access-entry sheet and the principal
// dialog.
#include "admin/dialogs/dialogs.h"
#include "admin/dialogs/security_pages_win32.h"
#include "admin/model/access_editing.h"
#include "admin/model/messages.h"
#include "admin/resource.h"

namespace brisvane::admin {
namespace {

constexpr char kInputCaption[] = "User Input";

// Removes the record at a list row's position, if it is still there.
template <class T>
void EraseAt(std::vector<T>* list, intptr_t pos) {
  if (pos >= 0 && static_cast<size_t>(pos) < list->size()) list->erase(list->begin() + pos);
}

struct RightBox {
  int id;
  RightsMask bit;
};
constexpr RightBox kRightBoxes[] = {
    {IDC_PRIN_GET, MethodBit(kMethodGet)},
    {IDC_PRIN_POST, MethodBit(kMethodPost)},
    {IDC_PRIN_PUT, MethodBit(kMethodPut)},
    {IDC_PRIN_DELETE, MethodBit(kMethodDelete)},
};

class PrincipalDialog : public DialogBase {
 public:
  explicit PrincipalDialog(AccessPrincipal* p) : p_(p) {}
  // True when OK stored a principal with a name.
  bool edited() const { return edited_; }

 private:
  void OnInit() override {
    SetText(IDC_PRIN_NAME, p_->name);
    Check(IDC_PRIN_GROUP, p_->kind == PrincipalKind::kGroup);
    for (const RightBox& b : kRightBoxes) Check(b.id, (p_->rights & b.bit) != 0);
  }
  // The four shown bits are replaced; a bit the dialog does not show (HEAD
  // of the default principal) survives, so OK without a change changes
  // nothing.
  bool OnOk() override {
    RightsMask checked = 0;
    for (const RightBox& b : kRightBoxes)
      if (Checked(b.id)) checked |= b.bit;
    PrincipalKind kind = Checked(IDC_PRIN_GROUP) ? PrincipalKind::kGroup : PrincipalKind::kUser;
    edited_ = EditPrincipal(p_, Text(IDC_PRIN_NAME), kind, checked);
    return true;
  }
  AccessPrincipal* p_;
  bool edited_ = false;
};

class EntryPage : public DialogBase {
 public:
  explicit EntryPage(AccessEntry* e) : e_(e) {}

 private:
  void OnInit() override {
    SetText(IDC_ENTRY_PATH, e_->path);
    SetText(IDC_ENTRY_REALM, e_->realm);
    Check(IDC_ENTRY_OR, e_->user_or_class);
    Check(IDC_ENTRY_NO_INDEX, e_->auto_index_disabled);
  }
  void OnStore() override {
    e_->user_or_class = Checked(IDC_ENTRY_OR);
    e_->auto_index_disabled = Checked(IDC_ENTRY_NO_INDEX);
  }
  AccessEntry* e_;
};

class PermissionsPage : public DialogBase {
 public:
  explicit PermissionsPage(AccessEntry* e) : e_(e) {}

 private:
  void OnInit() override { Fill(); }
  void Fill() {
    ListClear(IDC_PERM_LIST);
    for (size_t i = 0; i < e_->principals.size(); ++i)
      ListAdd(IDC_PERM_LIST, PrincipalLabel(e_->principals[i]), static_cast<intptr_t>(i));
  }
  void OnCommand(int id, int code) override {
    intptr_t pos = ListSelectedData(IDC_PERM_LIST);
    if (id == IDC_PERM_LIST) {
      if (code != LBN_DBLCLK) return;  // a refill would lose the selection
      Edit(pos);
    } else if (code == BN_CLICKED && id == IDC_PERM_NEW) {
      AccessPrincipal p;
      PrincipalDialog dialog(&p);
      if (dialog.RunModal(hwnd_, IDD_PRINCIPAL) && dialog.edited()) e_->principals.push_back(p);
    } else if (code == BN_CLICKED && id == IDC_PERM_REMOVE) {
      EraseAt(&e_->principals, pos);
    } else if (code == BN_CLICKED && id == IDC_PERM_PROPERTIES) {
      Edit(pos);
    } else {
      return;
    }
    Fill();
  }
  void Edit(intptr_t pos) {
    if (pos < 0 || static_cast<size_t>(pos) >= e_->principals.size()) return;
    AccessPrincipal copy = e_->principals[static_cast<size_t>(pos)];
    PrincipalDialog dialog(&copy);
    if (dialog.RunModal(hwnd_, IDD_PRINCIPAL) && dialog.edited())
      e_->principals[static_cast<size_t>(pos)] = copy;
  }
  AccessEntry* e_;
};

class SitesPage : public DialogBase {
 public:
  explicit SitesPage(AccessEntry* e) : e_(e) {}

 private:
  void OnInit() override {
    Check(IDC_SITE_ALLOW_FIRST, e_->allow_first);
    Check(IDC_SITE_DENY_FIRST, !e_->allow_first);
    Fill();
  }
  void Fill() {
    ListClear(IDC_SITE_ALLOW_LIST);
    for (size_t i = 0; i < e_->allow.size(); ++i)
      ListAdd(IDC_SITE_ALLOW_LIST, e_->allow[i], static_cast<intptr_t>(i));
    ListClear(IDC_SITE_DENY_LIST);
    for (size_t i = 0; i < e_->deny.size(); ++i)
      ListAdd(IDC_SITE_DENY_LIST, e_->deny[i], static_cast<intptr_t>(i));
  }
  void OnCommand(int id, int code) override {
    if (code != BN_CLICKED) return;
    switch (id) {
      case IDC_SITE_ALLOW_ADD: Add(&e_->allow); break;
      case IDC_SITE_DENY_ADD: Add(&e_->deny); break;
      case IDC_SITE_ALLOW_REMOVE: EraseAt(&e_->allow, ListSelectedData(IDC_SITE_ALLOW_LIST)); break;
      case IDC_SITE_DENY_REMOVE: EraseAt(&e_->deny, ListSelectedData(IDC_SITE_DENY_LIST)); break;
      default: return;
    }
    Fill();
  }
  void Add(std::vector<std::string>* list) {
    std::string site;
    if (RunPrompt(hwnd_, kInputCaption, "Site: ", &site)) AddSite(list, site);
  }
  void OnStore() override { e_->allow_first = Checked(IDC_SITE_ALLOW_FIRST); }
  AccessEntry* e_;
};

}  // namespace

void AccessListPage::OnInit() {
  NoticeSecurityMode(hwnd_, *vs_);
  Fill();
}

void AccessListPage::Fill() {
  ListClear(IDC_ACL_LIST);
  for (size_t i = 0; i < vs_->access_entries.size(); ++i)
    ListAdd(IDC_ACL_LIST, vs_->access_entries[i].path, static_cast<intptr_t>(i));
}

void AccessListPage::OnCommand(int id, int code) {
  intptr_t pos = ListSelectedData(IDC_ACL_LIST);
  if (id == IDC_ACL_LIST) {
    if (code != LBN_DBLCLK) return;  // a refill would lose the selection
    EditEntry(pos);
  } else if (code == BN_CLICKED && id == IDC_ACL_NEW) {
    NewEntry();
  } else if (code == BN_CLICKED && id == IDC_ACL_REMOVE) {
    EraseAt(&vs_->access_entries, pos);
  } else if (code == BN_CLICKED && id == IDC_ACL_PROPERTIES) {
    EditEntry(pos);
  } else {
    return;
  }
  Fill();
}

void AccessListPage::NewEntry() {
  std::string path;
  if (!RunPrompt(hwnd_, kInputCaption, "Path to protect:", &path)) return;
  std::string realm = kDefaultRealmName;
  if (!RunPrompt(hwnd_, kInputCaption, "Realm of protection:", &realm)) return;
  AddAccessEntry(vs_, path, realm);
}

void AccessListPage::EditEntry(intptr_t pos) {
  if (pos < 0 || static_cast<size_t>(pos) >= vs_->access_entries.size()) return;
  AccessEntry copy = vs_->access_entries[static_cast<size_t>(pos)];
  std::string why;
  if (!CanEditAccessEntry(*vs_, copy, &why)) {
    AskUser(hwnd_, why, "Invalid Realm", kBoxOk);
    return;
  }
  EntryPage entry(&copy);
  PermissionsPage permissions(&copy);
  SitesPage sites(&copy);
  Sheet sheet;
  sheet.Add(&entry, IDD_ENTRY, "Access Control List");
  sheet.Add(&permissions, IDD_PERMISSIONS, "User Permissions");
  sheet.Add(&sites, IDD_SITES, "Site Permissions");
  std::string caption = copy.path;
  if (sheet.Run(hwnd_, caption)) vs_->access_entries[static_cast<size_t>(pos)] = std::move(copy);
}

}  // namespace brisvane::admin
