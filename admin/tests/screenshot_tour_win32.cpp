// Opens every dialog and page of vaneconf in turn over a sample profile
// and asks tools/vaneconf_screenshots.sh to photograph each: it writes
// "name left top width height" to <dir>\shot.req and waits until the
// script has removed the file. A developer tool, not a test.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "admin/dialogs/dialogs.h"
#include "admin/model/messages.h"
#include "admin/resource.h"
#include "admin/tests/dialog_driver_win32.h"
#include "config/registry_key.h"

namespace brisvane::admin {
namespace {

using testing::Driver;

std::string g_dir;

void Shot(HWND window, const std::string& name) {
  if (!window) {
    std::fprintf(stderr, "missing: %s\n", name.c_str());
    return;
  }
  Sleep(300);  // let the window paint
  RECT r{};
  GetWindowRect(window, &r);
  std::string req = g_dir + "\\shot.req";
  // Written aside and renamed into place: the script polls for the file
  // and must never find it created but not yet written.
  std::string part = req + ".part";
  std::ofstream(part) << name << ' ' << r.left << ' ' << r.top << ' ' << r.right - r.left << ' '
                      << r.bottom - r.top << '\n';
  if (!MoveFileExA(part.c_str(), req.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    std::fprintf(stderr, "cannot ask for %s: error %lu\n", name.c_str(), GetLastError());
    return;
  }
  for (int i = 0; i < 400 && GetFileAttributesA(req.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

void ShotPages(HWND sheet, const std::string& prefix, const char* const* names, int count) {
  for (int i = 0; i < count; ++i) {
    Driver::Page(sheet, i);
    Shot(sheet, prefix + names[i]);
  }
}

void Tour(Driver& d) {
  HWND dlg = d.Wait("Configuration");
  Shot(dlg, "01-configuration");
  Driver::ClickLater(dlg, IDC_SERVER_ADD);
  HWND prompt = d.Wait("New Virtual Server");
  Shot(prompt, "02-prompt");
  Driver::ClickLater(prompt, IDCANCEL);
  d.WaitGone(prompt);

  Driver::ClickLater(dlg, IDC_GLOBAL_SETTINGS);
  HWND sheet = d.Wait("Global");
  const char* const global[] = {"network", "system", "logging", "external",
                                "mime",    "icons",  "dynamic-ip", "advanced"};
  ShotPages(sheet, "10-global-", global, 8);
  Driver::PressCancel(sheet);
  d.WaitGone(sheet);

  Driver::ClickLater(dlg, IDC_DEFAULT_SETTINGS);
  sheet = d.Wait("www.example.com");
  const char* const server[] = {"server", "security", "alias",    "redirection", "standard-cgi",
                                "windows-cgi", "isapi", "indexing", "users-groups", "access-list"};
  ShotPages(sheet, "20-server-", server, 10);

  HWND users = Driver::Page(sheet, 8);
  Driver::Select(users, IDC_UG_LIST, "alice");
  Driver::ClickLater(users, IDC_UG_PROPERTIES);
  HWND user = d.Wait("User Properties");
  Shot(user, "30-user");
  Driver::ClickLater(user, IDCANCEL);
  d.WaitGone(user);
  Driver::Select(users, IDC_UG_LIST, "[staff]");
  Driver::ClickLater(users, IDC_UG_PROPERTIES);
  HWND group = d.Wait("Group Properties");
  Shot(group, "31-group");
  Driver::ClickLater(group, IDCANCEL);
  d.WaitGone(group);

  HWND acl = Driver::Page(sheet, 9);
  Driver::Select(acl, IDC_ACL_LIST, "/private");
  Driver::ClickLater(acl, IDC_ACL_PROPERTIES);
  HWND entry = d.Wait("/private");
  const char* const entry_pages[] = {"entry", "user-permissions", "site-permissions"};
  ShotPages(entry, "40-access-", entry_pages, 3);
  HWND perms = Driver::Page(entry, 1);
  Driver::Select(perms, IDC_PERM_LIST, "*");
  Driver::ClickLater(perms, IDC_PERM_PROPERTIES);
  HWND principal = d.Wait("Access");
  Shot(principal, "41-principal");
  Driver::ClickLater(principal, IDCANCEL);
  d.WaitGone(principal);
  Driver::PressCancel(entry);
  d.WaitGone(entry);
  Driver::PressCancel(sheet);
  d.WaitGone(sheet);
  Driver::ClickLater(dlg, IDCANCEL);
}

ServerSettings Sample() {
  ServerSettings s(SettingsFlavor::kConfigModule);
  VirtualServerConfig& vs = s.virtual_servers[0];
  vs.site_address = "www.example.com";
  vs.security_type = 2;
  vs.alias = {{"/docs", "C:\\Brisvane\\docs"}, {"/images", "C:\\Brisvane\\images"}};
  vs.realms.push_back({kDefaultRealmName, "", {{"alice", "a"}, {"bob", "b"}}, {{"staff", {"alice"}}}});
  AccessEntry e{"/private", kDefaultRealmName, false, false, true, {"*"}, {"10.0."}, {}};
  e.principals.push_back({28, PrincipalKind::kUser, "*"});
  e.principals.push_back({0, PrincipalKind::kGroup, "staff"});
  vs.access_entries.push_back(e);
  s.virtual_servers.push_back(vs);
  s.virtual_servers[1].site_address = "intranet.example.com";
  return s;
}

}  // namespace
}  // namespace brisvane::admin

int main(int argc, char** argv) {
  using namespace brisvane;
  using namespace brisvane::admin;
  if (argc < 2) return 2;
  g_dir = argv[1];
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  const std::string profile = "Screenshots";
  if (!SaveSettings(Sample(), profile, SettingsFlavor::kConfigModule)) return 1;
  SetAskHook([](const std::string&, const std::string&, unsigned) { return kAnswerOk; });
  Driver driver(GetCurrentThreadId());
  std::thread t([&] {
    Tour(driver);
    driver.CloseAll();
  });
  RunConfigurationModule(profile);
  t.join();
  ClearProfile(profile);
  return 0;
}
