// The Users and Groups page with the user and group dialogs.
#include <algorithm>

#include "admin/dialogs/dialogs.h"
#include "admin/dialogs/security_pages_win32.h"
#include "admin/model/access_editing.h"
#include "admin/model/messages.h"
#include "admin/resource.h"

namespace brisvane::admin {
namespace {

constexpr char kProductCaption[] = "Brisvane Professional";
constexpr char kSecurityModeNotice[] =
    "These security parameters do not take effect until you select 'User and Directory' mode "
    "under the 'Security' tab";
// "User and Directory", the only mode that consults realms and entries.
constexpr uint32_t kUserAndDirectory = 2;

// Rows of the users-and-groups list carry the kind; the record is found
// by the row's text.
constexpr intptr_t kUserRow = 0;
constexpr intptr_t kGroupRow = 1;

// The record has no place for a comment, so the field starts empty and
// what is typed there is not kept.
class UserDialog : public DialogBase {
 public:
  explicit UserDialog(RealmUser* user) : user_(user) {}

 private:
  void OnInit() override {
    SetText(IDC_USER_NAME, user_->name);
    SetText(IDC_USER_PASSWORD, user_->password);
  }
  bool OnOk() override {
    user_->name = Text(IDC_USER_NAME);
    user_->password = Text(IDC_USER_PASSWORD);
    return true;
  }
  RealmUser* user_;
};

class GroupDialog : public DialogBase {
 public:
  GroupDialog(const Realm& realm, RealmGroup* group) : realm_(realm), group_(group) {}

 private:
  void OnInit() override {
    SetText(IDC_GROUP_NAME, group_->name);
    FillLists();
  }
  // Every user of the realm is listed on one side.
  void FillLists() {
    ListClear(IDC_GROUP_MEMBERS);
    ListClear(IDC_GROUP_NOT_MEMBERS);
    for (size_t i = 0; i < realm_.users.size(); ++i) {
      const std::string& name = realm_.users[i].name;
      bool member = std::find(group_->members.begin(), group_->members.end(), name) !=
                    group_->members.end();
      ListAdd(member ? IDC_GROUP_MEMBERS : IDC_GROUP_NOT_MEMBERS, name, static_cast<intptr_t>(i));
    }
  }
  void OnCommand(int id, int code) override {
    if (code == LBN_SETFOCUS && (id == IDC_GROUP_MEMBERS || id == IDC_GROUP_NOT_MEMBERS)) {
      int other = id == IDC_GROUP_MEMBERS ? IDC_GROUP_NOT_MEMBERS : IDC_GROUP_MEMBERS;
      SendDlgItemMessageA(hwnd_, other, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
      return;
    }
    if (code != BN_CLICKED) return;
    if (id == IDC_GROUP_ADD) {
      if (ListSelectedData(IDC_GROUP_NOT_MEMBERS) < 0) return;
      AddMember(realm_, group_, ListSelectedText(IDC_GROUP_NOT_MEMBERS));
    } else if (id == IDC_GROUP_REMOVE) {
      if (ListSelectedData(IDC_GROUP_MEMBERS) < 0) return;
      RemoveMember(group_, ListSelectedText(IDC_GROUP_MEMBERS));
    } else {
      return;
    }
    FillLists();
  }
  bool OnOk() override {
    group_->name = Text(IDC_GROUP_NAME);
    return true;
  }
  const Realm& realm_;
  RealmGroup* group_;
};

// "[name]" back to the group's name.
std::string GroupName(const std::string& row) {
  if (row.size() >= 2 && row.front() == '[' && row.back() == ']') return row.substr(1, row.size() - 2);
  return row;
}

}  // namespace

void NoticeSecurityMode(HWND owner, const VirtualServerConfig& vs) {
  if (vs.security_type != kUserAndDirectory)
    AskUser(owner, kSecurityModeNotice, kProductCaption, kBoxOk | kBoxIconExclamation);
}

void UsersGroupsPage::OnInit() {
  NoticeSecurityMode(hwnd_, *vs_);
  if (vs_->realms.empty()) {
    AskUser(hwnd_, kAddingDefaultRealm, "Adding Realm", kBoxOk);
    EnsureDefaultRealm(vs_);
  }
  FillRealms(0);
}

Realm* UsersGroupsPage::CurrentRealm() const {
  LRESULT row = SendDlgItemMessageA(hwnd_, IDC_UG_REALM, CB_GETCURSEL, 0, 0);
  if (row == CB_ERR) return nullptr;
  LRESULT pos = SendDlgItemMessageA(hwnd_, IDC_UG_REALM, CB_GETITEMDATA, row, 0);
  if (pos < 0 || static_cast<size_t>(pos) >= vs_->realms.size()) return nullptr;
  return &vs_->realms[static_cast<size_t>(pos)];
}

void UsersGroupsPage::FillRealms(int select) {
  SendDlgItemMessageA(hwnd_, IDC_UG_REALM, CB_RESETCONTENT, 0, 0);
  for (size_t i = 0; i < vs_->realms.size(); ++i) {
    LRESULT row = SendDlgItemMessageA(hwnd_, IDC_UG_REALM, CB_ADDSTRING, 0,
                                      reinterpret_cast<LPARAM>(vs_->realms[i].name.c_str()));
    if (row >= 0) SendDlgItemMessageA(hwnd_, IDC_UG_REALM, CB_SETITEMDATA, row, static_cast<LPARAM>(i));
  }
  SendDlgItemMessageA(hwnd_, IDC_UG_REALM, CB_SETCURSEL, select, 0);
  FillMembers();
}

void UsersGroupsPage::FillMembers() {
  ListClear(IDC_UG_LIST);
  const Realm* realm = CurrentRealm();
  if (realm == nullptr) return;
  for (const RealmUser& u : realm->users) ListAdd(IDC_UG_LIST, u.name, kUserRow);
  for (const RealmGroup& g : realm->groups) ListAdd(IDC_UG_LIST, "[" + g.name + "]", kGroupRow);
}

void UsersGroupsPage::OnCommand(int id, int code) {
  if (id == IDC_UG_REALM) {
    if (code == CBN_SELCHANGE) FillMembers();
    return;
  }
  if (id == IDC_UG_LIST) {
    if (code == LBN_DBLCLK) EditSelected(CurrentRealm());
    return;
  }
  if (code != BN_CLICKED) return;
  Realm* realm = CurrentRealm();
  switch (id) {
    case IDC_UG_NEW_REALM: NewRealm(); return;
    case IDC_UG_DELETE_REALM: DeleteCurrentRealm(realm); return;
    case IDC_UG_NEW_USER: NewUser(realm); break;
    case IDC_UG_NEW_GROUP: NewGroup(realm); break;
    case IDC_UG_PROPERTIES: EditSelected(realm); break;
    case IDC_UG_REMOVE: RemoveSelected(realm); break;
    default: return;
  }
  FillMembers();
}

void UsersGroupsPage::NewUser(Realm* realm) {
  if (realm == nullptr) return;
  RealmUser user;
  UserDialog dialog(&user);
  if (dialog.RunModal(hwnd_, IDD_USER)) AddUser(realm, user);
}

void UsersGroupsPage::NewGroup(Realm* realm) {
  if (realm == nullptr) return;
  RealmGroup group;
  GroupDialog dialog(*realm, &group);
  if (dialog.RunModal(hwnd_, IDD_GROUP)) AddGroup(realm, group);
}

void UsersGroupsPage::EditSelected(Realm* realm) {
  intptr_t kind = ListSelectedData(IDC_UG_LIST);
  if (realm == nullptr || kind < 0) return;
  std::string row = ListSelectedText(IDC_UG_LIST);
  if (kind == kGroupRow) {
    std::string name = GroupName(row);
    const RealmGroup* found = FindGroup(realm, name);
    if (found == nullptr) return;
    RealmGroup copy = *found;
    GroupDialog dialog(*realm, &copy);
    if (dialog.RunModal(hwnd_, IDD_GROUP)) ReplaceGroup(realm, name, copy);
    return;
  }
  const RealmUser* found = FindUser(*realm, row);
  if (found == nullptr) return;
  RealmUser copy = *found;
  UserDialog dialog(&copy);
  if (dialog.RunModal(hwnd_, IDD_USER)) ReplaceUser(realm, row, copy);
}

void UsersGroupsPage::RemoveSelected(Realm* realm) {
  intptr_t kind = ListSelectedData(IDC_UG_LIST);
  if (realm == nullptr || kind < 0) return;
  std::string row = ListSelectedText(IDC_UG_LIST);
  if (kind == kGroupRow)
    RemoveGroup(realm, GroupName(row));
  else
    RemoveUser(realm, row);
}

void UsersGroupsPage::DeleteCurrentRealm(Realm* realm) {
  if (realm == nullptr) return;
  std::string name = realm->name;
  if (AskUser(hwnd_, kDeleteRealmQuestion, "Delete realm: " + name,
              kBoxYesNoCancel | kBoxDefault2) != kAnswerYes)
    return;
  DeleteRealm(vs_, name);
  FillRealms(0);
}

void UsersGroupsPage::NewRealm() {
  std::string name;
  if (!RunPrompt(hwnd_, "New Realm", "Realm name:", &name)) return;
  std::string why;
  if (!AddRealm(vs_, name, &why) && !why.empty())
    AskUser(hwnd_, why, kProductCaption, kBoxOk | kBoxIconExclamation);
  LRESULT current = SendDlgItemMessageA(hwnd_, IDC_UG_REALM, CB_GETCURSEL, 0, 0);
  FillRealms(current == CB_ERR ? 0 : static_cast<int>(current));
}

}  // namespace brisvane::admin
