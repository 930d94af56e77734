// The two security pages of the virtual-server sheet. Both edit the
// sheet's copy of the server; the dialogs they open edit copies of single
// records, written back only on OK with a non-empty name.
#pragma once

#include "admin/dialogs/dialog_base_win32.h"
#include "config/server_settings.h"

namespace brisvane::admin {

// "Users and Groups" (template 112): realms, their users and groups.
class UsersGroupsPage : public DialogBase {
 public:
  explicit UsersGroupsPage(VirtualServerConfig* vs) : vs_(vs) {}

 private:
  void OnInit() override;
  void OnCommand(int id, int code) override;
  // The realm chosen in the drop-down list, or null.
  Realm* CurrentRealm() const;
  void FillRealms(int select);
  void FillMembers();
  void NewUser(Realm* realm);
  void NewGroup(Realm* realm);
  void EditSelected(Realm* realm);
  void RemoveSelected(Realm* realm);
  void DeleteCurrentRealm(Realm* realm);
  void NewRealm();

  VirtualServerConfig* vs_;
};

// "Access Control List" (template 120): the server's access entries.
class AccessListPage : public DialogBase {
 public:
  explicit AccessListPage(VirtualServerConfig* vs) : vs_(vs) {}

 private:
  void OnInit() override;
  void OnCommand(int id, int code) override;
  void Fill();
  void NewEntry();
  void EditEntry(intptr_t pos);

  VirtualServerConfig* vs_;
};

// The notice both pages show when the server is not in "User and
// Directory" mode.
void NoticeSecurityMode(HWND owner, const VirtualServerConfig& vs);

}  // namespace brisvane::admin
