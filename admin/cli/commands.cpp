#include "admin/cli/commands.h"

#include <cstdint>
#include <map>

#include "admin/model/access_editing.h"
#include "admin/model/messages.h"
#include "admin/model/server_editing.h"
#include "base/product.h"
#include "base/text.h"
#include "config/backup.h"
#include "config/foreign_export.h"
#include "config/settings_table.h"
#include "platform/event.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace brisvane::admin {
namespace {

using Args = std::vector<std::string>;

// The command line names all five rights it can show, HEAD included.
constexpr RightsMask kCliRights = kEditorRights | MethodBit(kMethodHead);

const std::map<std::string, std::string> kUsage = {
    {"", R"(usage: vaneconf [-p PROFILE] [-s SERVER] COMMAND [ARGS]
Edits the Brisvane configuration in the registry file (BRISVANE_REGISTRY, or
registry.reg beside the program) and tells a running server to reload.
  -p PROFILE   the profile to edit ("Default")
  -s SERVER    the virtual server, by name (the default server)
Commands (each takes --help):
  show                      the whole profile, passwords hidden
  get NAME | set NAME VALUE a global or virtual-server setting
  server ...                list, add, copy, delete, make default
  map LIST ...              AssocMap TypeMap Icons Alias Redir CgiBin CgiWin ISAPIExt
  realm ... | user ... | group ...  realms, users (passwords), groups
  access ...                access entries: rights, sites, flags
  backup FILE | restore FILE [--yes] | export-foreign | reset [--yes] | check
)"},
    {"get", "usage: vaneconf [-s SERVER] get NAME\n"
            "Timeouts are shown in seconds, DynamicRefresh in minutes.\n"},
    {"set", "usage: vaneconf [-s SERVER] set NAME VALUE\n"
            "Timeouts in seconds, DynamicRefresh in minutes, flags 0 or 1,\n"
            "PriorityLevel low|medium|high|critical or 0-3, SecurityType 0-2.\n"},
    {"show", "usage: vaneconf [-p PROFILE] show\n"},
    {"server", "usage: vaneconf server list | add NAME | copy FROM NAME | delete NAME | default NAME\n"
               "add copies the default server; default moves a server to the front.\n"},
    {"map", "usage: vaneconf [-s SERVER] map LIST list | add KEY VALUE | replace KEY VALUE | delete KEY\n"
            "Global lists: AssocMap, TypeMap (KEY is the file ending), Icons.\n"
            "Per server: Alias, Redir, CgiBin, CgiWin, ISAPIExt.\n"},
    {"realm", "usage: vaneconf [-s SERVER] realm list | add NAME | delete NAME [--yes]\n"
              "Deleting a realm removes its users, groups and access entries.\n"},
    {"user", "usage: vaneconf [-s SERVER] user list REALM | add REALM NAME | passwd REALM NAME\n"
             "                                  | delete REALM NAME\n"
             "The password is prompted for without echo, or read as one line from\n"
             "standard input when that is not a terminal.\n"},
    {"group", "usage: vaneconf [-s SERVER] group list REALM | add REALM NAME | delete REALM NAME\n"
              "                                   | add-member REALM GROUP USER\n"
              "                                   | remove-member REALM GROUP USER\n"},
    {"access", "usage: vaneconf [-s SERVER] access list | show PATH | add PATH [REALM] | delete PATH\n"
               "  access grant PATH NAME METHODS [--group]   METHODS: GET,POST,PUT,DELETE,HEAD or none\n"
               "  access revoke PATH NAME [--group]\n"
               "  access allow|deny PATH add|delete PATTERN\n"
               "  access order PATH allow-deny|deny-allow\n"
               "  access set PATH user-or-class|disable-autoindex 0|1\n"
               "A new entry admits everyone (\"*\") to GET, HEAD and POST from all sites.\n"},
    {"backup", "usage: vaneconf backup FILE    (all profiles; FILE must not exist)\n"},
    {"restore", "usage: vaneconf restore FILE [--yes]    (replaces all profiles)\n"},
    {"export-foreign", "usage: vaneconf [-p PROFILE] export-foreign\n"
                       "Writes the default server into the Tamsel WebServer layout.\n"},
    {"reset", "usage: vaneconf [-p PROFILE] reset [--yes]    (the profile back to its defaults)\n"},
    {"check", "usage: vaneconf check\n"
              "Lists every line of the registry file that cannot be read, that repeats a\n"
              "section or value (the later one counts), or whose value has the wrong type.\n"},
};

class Session {
 public:
  Session(CliTerminal& term, std::string profile, std::string server)
      : term_(term), profile_(std::move(profile)), server_name_(std::move(server)),
        settings_(SettingsFlavor::kConfigModule) {}

  int Run(const std::string& command, Args args);

 private:
  int Fail(const std::string& text) {
    term_.err << "vaneconf: " << text << "\n";
    return 1;
  }
  int Usage(const std::string& command) {
    auto it = kUsage.find(command);
    term_.err << (it == kUsage.end() ? kUsage.at("") : it->second);
    return 2;
  }

  bool Load();
  int Commit();
  VirtualServerConfig* Server();
  Realm* RealmNamed(const std::string& name, bool add_default);

  int Show();
  int Get(const Args& a);
  int Set(const Args& a);
  int ServerCmd(const Args& a);
  int MapCmd(const Args& a);
  int RealmCmd(const Args& a);
  int UserCmd(const Args& a);
  int GroupCmd(const Args& a);
  int AccessCmd(const Args& a);
  int Backup(const Args& a);
  int Restore(const Args& a, bool yes);
  int Export();
  int Reset(bool yes);
  int Check();

  void ShowServer(const VirtualServerConfig& vs, size_t pos);

  CliTerminal& term_;
  std::string profile_;
  std::string server_name_;
  ServerSettings settings_;
  std::vector<bool> open_before_;
  std::string why_;
};

bool Session::Load() {
  if (!LoadSettings(&settings_, profile_, SettingsFlavor::kConfigModule)) {
    Fail("cannot open the profile \"" + profile_ + "\" in the registry");
    return false;
  }
  for (const auto& vs : settings_.virtual_servers) open_before_.push_back(OpenToEveryone(vs));
  return true;
}

void SignalFlush() {
  // No event means no running server: nothing to tell.
  platform::EventHandle e = platform::event_open(kFlushEventName);
  if (!e) return;
  platform::event_set(e);
  platform::event_close(e);
}

int Session::Commit() {
  if (!SaveSettings(settings_, profile_, SettingsFlavor::kConfigModule))
    return Fail("cannot save the profile \"" + profile_ + "\" to the registry");
  SignalFlush();
  for (size_t i = 0; i < settings_.virtual_servers.size(); ++i) {
    const VirtualServerConfig& vs = settings_.virtual_servers[i];
    bool before = i < open_before_.size() && open_before_[i];
    if (OpenToEveryone(vs) && !before)
      term_.err << "vaneconf: warning: virtual server \"" << vs.site_address
                << "\": SecurityType 1 with an empty MasterUser lets anyone PUT and DELETE\n";
  }
  return 0;
}

VirtualServerConfig* Session::Server() {
  if (server_name_.empty()) return &settings_.virtual_servers.front();
  auto pos = FindServer(settings_, server_name_);
  if (!pos) {
    Fail("no virtual server named \"" + server_name_ + "\"");
    return nullptr;
  }
  return &settings_.virtual_servers[*pos];
}

Realm* Session::RealmNamed(const std::string& name, bool add_default) {
  VirtualServerConfig* vs = Server();
  if (!vs) return nullptr;
  // Like the realm editor, a server without realms is given one first.
  if (add_default && EnsureDefaultRealm(vs)) term_.err << kAddingDefaultRealm << "\n";
  Realm* r = FindRealm(vs, name);
  if (!r) Fail("no realm named \"" + name + "\"");
  return r;
}

std::string RightsText(RightsMask rights) {
  std::string out;
  for (int32_t code = kMethodOptions; code <= kMethodTrace; ++code) {
    if (!(rights & MethodBit(code))) continue;
    if (!out.empty()) out += ",";
    out += MethodName(code);
  }
  return out.empty() ? "none" : out;
}

// A list of method names as rights; nullopt for an unknown name.
std::optional<RightsMask> ParseRights(const std::string& text) {
  if (EqualsIgnoreCase(text, "none")) return 0u;
  RightsMask rights = 0;
  for (std::string_view item : SplitList(text, ",")) {
    int32_t code = MethodCodeOf(ToUpper(item));
    if (code == kMethodUnknown || !(MethodBit(code) & kCliRights)) return std::nullopt;
    rights |= MethodBit(code);
  }
  return rights;
}

std::string KeyOf(const NamePair& p, bool data_first) { return data_first ? p.second : p.first; }

void ShowList(std::ostream& out, const char* name, const NamePairList& list, bool data_first) {
  out << name << ":\n";
  for (const NamePair& p : list)
    out << "  " << KeyOf(p, data_first) << " = " << (data_first ? p.first : p.second) << "\n";
}

void ShowEntry(std::ostream& out, const AccessEntry& e) {
  out << "access \"" << e.path << "\" realm \"" << e.realm << "\" user-or-class "
      << e.user_or_class << " disable-autoindex " << e.auto_index_disabled << " order "
      << (e.allow_first ? "allow-deny" : "deny-allow") << "\n";
  out << "  allow:";
  for (const auto& s : e.allow) out << " " << s;
  out << "\n  deny:";
  for (const auto& s : e.deny) out << " " << s;
  out << "\n";
  for (const auto& p : e.principals)
    out << "  " << PrincipalLabel(p) << ": " << RightsText(p.rights) << "\n";
}

void Session::ShowServer(const VirtualServerConfig& vs, size_t pos) {
  std::ostream& out = term_.out;
  out << "\n[server " << ServerLabel(settings_, pos) << "]\n";
  for (const auto& f : VirtualServerFields())
    if (IsEditable(f)) out << f.name << " = " << ShowField(vs, f) << "\n";
  for (const auto& l : VirtualServerLists()) ShowList(out, l.subkey, vs.*l.member, l.data_first);
  for (const Realm& r : vs.realms) {
    out << "realm \"" << r.name << "\"";
    if (!r.description.empty()) out << " (" << r.description << ")";
    out << "\n";
    for (const auto& u : r.users) out << "  user " << u.name << "\n";
    for (const auto& g : r.groups) {
      out << "  group [" << g.name << "]:";
      for (const auto& m : g.members) out << " " << m;
      out << "\n";
    }
  }
  for (const AccessEntry& e : vs.access_entries) ShowEntry(out, e);
}

int Session::Show() {
  std::ostream& out = term_.out;
  out << "[global] profile \"" << profile_ << "\"\n";
  for (const auto& f : GlobalSettingFields())
    if (IsEditable(f)) out << f.name << " = " << ShowField(settings_, f) << "\n";
  for (const auto& l : GlobalSettingLists())
    ShowList(out, l.subkey, settings_.*l.member, l.data_first);
  for (size_t i = 0; i < settings_.virtual_servers.size(); ++i)
    ShowServer(settings_.virtual_servers[i], i);
  return 0;
}

int Session::Get(const Args& a) {
  if (a.size() != 1) return Usage("get");
  if (auto f = FindGlobalField(a[0])) {
    term_.out << ShowField(settings_, *f) << "\n";
    return 0;
  }
  auto f = FindServerField(a[0]);
  if (!f) return Fail("no setting named \"" + a[0] + "\"");
  VirtualServerConfig* vs = Server();
  if (!vs) return 1;
  term_.out << ShowField(*vs, *f) << "\n";
  return 0;
}

int Session::Set(const Args& a) {
  if (a.size() != 2) return Usage("set");
  if (auto f = FindGlobalField(a[0])) {
    if (!SetField(&settings_, *f, a[1], &why_)) return Fail(std::string(f->name) + ": " + why_);
    return Commit();
  }
  auto f = FindServerField(a[0]);
  if (!f) return Fail("no setting named \"" + a[0] + "\"");
  VirtualServerConfig* vs = Server();
  if (!vs) return 1;
  if (!SetField(vs, *f, a[1], &why_)) return Fail(std::string(f->name) + ": " + why_);
  return Commit();
}

int Session::ServerCmd(const Args& a) {
  if (a.empty()) return Usage("server");
  const std::string& op = a[0];
  auto& list = settings_.virtual_servers;
  if (op == "list" && a.size() == 1) {
    for (size_t i = 0; i < list.size(); ++i)
      term_.out << ServerLabel(settings_, i) << "\t" << list[i].site_ip << "\n";
    return 0;
  }
  auto position = [&](const std::string& name) -> std::optional<size_t> {
    auto pos = FindServer(settings_, name);
    if (!pos) Fail("no virtual server named \"" + name + "\"");
    return pos;
  };
  auto new_name_ok = [&](const std::string& name) {
    if (name.empty()) return Fail("the name is empty") == 0;
    // Servers are chosen by name here, so a second one of a name could
    // never be reached.
    if (FindServer(settings_, name)) return Fail("a virtual server named \"" + name + "\" exists") == 0;
    return true;
  };
  if (op == "add" && a.size() == 2) {
    if (!new_name_ok(a[1])) return 1;
    AddServer(&settings_, a[1]);
    return Commit();
  }
  if (op == "copy" && a.size() == 3) {
    auto from = position(a[1]);
    if (!from || !new_name_ok(a[2])) return 1;
    CopyServer(&settings_, *from, a[2]);
    return Commit();
  }
  if (op == "delete" && a.size() == 2) {
    auto pos = position(a[1]);
    if (!pos) return 1;
    if (!DeleteServer(&settings_, *pos, &why_)) return Fail(why_);
    return Commit();
  }
  if (op == "default" && a.size() == 2) {
    auto pos = position(a[1]);
    if (!pos) return 1;
    MakeDefaultServer(&settings_, *pos);
    return Commit();
  }
  return Usage("server");
}

int Session::MapCmd(const Args& a) {
  if (a.size() < 2) return Usage("map");
  NamePairList* list = nullptr;
  bool data_first = false;
  for (const auto& l : GlobalSettingLists())
    if (EqualsIgnoreCase(l.subkey, a[0])) list = &(settings_.*l.member), data_first = l.data_first;
  for (const auto& l : VirtualServerLists()) {
    if (!EqualsIgnoreCase(l.subkey, a[0])) continue;
    VirtualServerConfig* vs = Server();
    if (!vs) return 1;
    list = &(vs->*l.member);
  }
  if (!list) return Fail("no list named \"" + a[0] + "\"");
  const std::string& op = a[1];
  auto find = [&](const std::string& key) -> std::optional<size_t> {
    for (size_t i = 0; i < list->size(); ++i)
      if (EqualsIgnoreCase(KeyOf((*list)[i], data_first), key)) return i;
    Fail("no row \"" + key + "\" in " + a[0]);
    return std::nullopt;
  };
  // The type map keeps (type, ending); everything else (key, value).
  auto row = [&](const std::string& key, const std::string& value) {
    return data_first ? NamePair{value, key} : NamePair{key, value};
  };
  if (op == "list" && a.size() == 2) {
    for (const NamePair& p : *list)
      term_.out << KeyOf(p, data_first) << "\t" << (data_first ? p.first : p.second) << "\n";
    return 0;
  }
  if (op == "add" && a.size() == 4) {
    NamePair p = row(a[2], a[3]);
    if (!AddPair(list, p.first, p.second, &why_)) return Fail(why_);
    return Commit();
  }
  if (op == "replace" && a.size() == 4) {
    auto pos = find(a[2]);
    if (!pos) return 1;
    NamePair p = row(a[2], a[3]);
    ReplacePair(list, *pos, p.first, p.second);
    return Commit();
  }
  if (op == "delete" && a.size() == 3) {
    auto pos = find(a[2]);
    if (!pos) return 1;
    DeletePair(list, *pos);
    return Commit();
  }
  return Usage("map");
}

int Session::RealmCmd(const Args& a) {
  if (a.empty()) return Usage("realm");
  VirtualServerConfig* vs = Server();
  if (!vs) return 1;
  if (a[0] == "list" && a.size() == 1) {
    for (const Realm& r : vs->realms) term_.out << r.name << "\n";
    return 0;
  }
  if (a[0] == "add" && a.size() == 2) {
    if (EnsureDefaultRealm(vs)) term_.err << kAddingDefaultRealm << "\n";
    if (a[1].empty()) return Fail("the realm name is empty");
    if (!AddRealm(vs, a[1], &why_)) return Fail(why_);
    return Commit();
  }
  if (a[0] == "delete" && (a.size() == 2 || (a.size() == 3 && a[2] == "--yes"))) {
    if (!FindRealm(vs, a[1])) return Fail("no realm named \"" + a[1] + "\"");
    if (a.size() == 2 && !term_.confirm(kDeleteRealmQuestion))
      return Fail("realm not deleted (give --yes to delete without asking)");
    DeleteRealm(vs, a[1]);
    return Commit();
  }
  return Usage("realm");
}

int Session::UserCmd(const Args& a) {
  if (a.size() < 2) return Usage("user");
  const std::string& op = a[0];
  Realm* realm = RealmNamed(a[1], op != "list");
  if (!realm) return 1;
  if (op == "list" && a.size() == 2) {
    for (const auto& u : realm->users) term_.out << u.name << "\n";
    return 0;
  }
  if (a.size() != 3) return Usage("user");
  const std::string& name = a[2];
  const RealmUser* existing = FindUser(*realm, name);
  if (op == "delete") {
    if (!RemoveUser(realm, name)) return Fail("no user \"" + name + "\" in the realm");
    return Commit();
  }
  if (op != "add" && op != "passwd") return Usage("user");
  if (op == "add" && existing) return Fail("user \"" + name + "\" exists (use passwd)");
  if (op == "passwd" && !existing) return Fail("no user \"" + name + "\" in the realm");
  if (name.empty()) return Fail("the user name is empty");
  std::optional<std::string> password = term_.read_password();
  if (!password) return Fail("no password given");
  if (op == "add") AddUser(realm, {name, *password});
  else ReplaceUser(realm, name, {name, *password});
  return Commit();
}

int Session::GroupCmd(const Args& a) {
  if (a.size() < 2) return Usage("group");
  const std::string& op = a[0];
  Realm* realm = RealmNamed(a[1], op != "list");
  if (!realm) return 1;
  if (op == "list" && a.size() == 2) {
    for (const auto& g : realm->groups) {
      term_.out << g.name << ":";
      for (const auto& m : g.members) term_.out << " " << m;
      term_.out << "\n";
    }
    return 0;
  }
  if (op == "add" && a.size() == 3) {
    if (FindGroup(realm, a[2])) return Fail("group \"" + a[2] + "\" exists");
    if (!AddGroup(realm, {a[2], {}})) return Fail("the group name is empty");
    return Commit();
  }
  if (op == "delete" && a.size() == 3) {
    if (!RemoveGroup(realm, a[2])) return Fail("no group \"" + a[2] + "\" in the realm");
    return Commit();
  }
  if ((op == "add-member" || op == "remove-member") && a.size() == 4) {
    RealmGroup* g = FindGroup(realm, a[2]);
    if (!g) return Fail("no group \"" + a[2] + "\" in the realm");
    if (op == "add-member" && !AddMember(*realm, g, a[3]))
      return Fail("\"" + a[3] + "\" is not a user of the realm, or already a member");
    if (op == "remove-member" && !RemoveMember(g, a[3]))
      return Fail("\"" + a[3] + "\" is not a member");
    return Commit();
  }
  return Usage("group");
}

int Session::AccessCmd(const Args& in) {
  if (in.empty()) return Usage("access");
  Args a;
  bool group = false;
  for (const auto& s : in) {
    if (s == "--group") group = true;
    else a.push_back(s);
  }
  VirtualServerConfig* vs = Server();
  if (!vs) return 1;
  const std::string& op = a[0];
  if (op == "list" && a.size() == 1) {
    for (const auto& e : vs->access_entries) term_.out << e.path << "\t" << e.realm << "\n";
    return 0;
  }
  if (a.size() < 2) return Usage("access");
  if (op == "add" && (a.size() == 2 || a.size() == 3)) {
    if (!AddAccessEntry(vs, a[1], a.size() == 3 ? a[2] : kDefaultRealmName))
      return Fail("the path is empty");
    return Commit();
  }
  AccessEntry* e = FindAccessEntryByPath(vs, a[1]);
  if (!e) return Fail("no access entry for \"" + a[1] + "\"");
  if (op == "show" && a.size() == 2) {
    ShowEntry(term_.out, *e);
    return 0;
  }
  if (op == "delete" && a.size() == 2) {
    RemoveAccessEntry(vs, a[1]);
    return Commit();
  }
  // The entry editor opens only while the entry's realm exists.
  if (!CanEditAccessEntry(*vs, *e, &why_)) return Fail(why_);
  PrincipalKind kind = group ? PrincipalKind::kGroup : PrincipalKind::kUser;
  if (op == "grant" && a.size() == 4) {
    auto rights = ParseRights(a[3]);
    if (!rights) return Fail("methods must be GET, POST, PUT, DELETE, HEAD or none");
    AccessPrincipal* p = FindPrincipal(e, kind, a[2]);
    if (p) {
      EditPrincipal(p, a[2], kind, *rights, kCliRights);
    } else {
      AccessPrincipal fresh;
      if (!EditPrincipal(&fresh, a[2], kind, *rights, kCliRights)) return Fail("the name is empty");
      e->principals.push_back(fresh);
    }
    return Commit();
  }
  if (op == "revoke" && a.size() == 3) {
    AccessPrincipal* p = FindPrincipal(e, kind, a[2]);
    if (!p) return Fail("no such principal");
    e->principals.erase(e->principals.begin() + (p - e->principals.data()));
    return Commit();
  }
  if ((op == "allow" || op == "deny") && a.size() == 4) {
    std::vector<std::string>* sites = op == "allow" ? &e->allow : &e->deny;
    if (a[2] == "add" && AddSite(sites, a[3])) return Commit();
    if (a[2] == "delete" && RemoveSite(sites, a[3])) return Commit();
    return Fail(a[2] == "add" ? "the pattern is empty" : "no such pattern");
  }
  if (op == "order" && a.size() == 3 && (a[2] == "allow-deny" || a[2] == "deny-allow")) {
    e->allow_first = a[2] == "allow-deny";
    return Commit();
  }
  if (op == "set" && a.size() == 4 && (a[3] == "0" || a[3] == "1")) {
    if (a[2] == "user-or-class") e->user_or_class = a[3] == "1";
    else if (a[2] == "disable-autoindex") e->auto_index_disabled = a[3] == "1";
    else return Usage("access");
    return Commit();
  }
  return Usage("access");
}

int Session::Backup(const Args& a) {
  if (a.size() != 1) return Usage("backup");
  // A failure has been reported with the system's text.
  return BackupConfiguration(a[0]) ? 0 : 1;
}

int Session::Restore(const Args& a, bool yes) {
  if (a.size() != 1) return Usage("restore");
  if (!yes && !term_.confirm(kRestoreWarning))
    return Fail("nothing restored (give --yes to restore without asking)");
  if (!RestoreConfiguration(a[0])) return 1;
  SignalFlush();
  term_.out << "restored " << a[0] << "\n";
  return 0;
}

int Session::Export() {
  std::string host = platform::executable_directory() + platform::kPathSeparator + "vanehost";
  if (!ExportForeignConfiguration(settings_, host)) return Fail("there is no virtual server");
  return 0;
}

int Session::Reset(bool yes) {
  if (!yes && !term_.confirm("Reset profile \"" + profile_ + "\" to the built-in defaults?"))
    return Fail("nothing reset (give --yes to reset without asking)");
  ClearProfile(profile_);
  SignalFlush();
  return 0;
}

int Session::Check() {
  std::string where;
  std::vector<std::string> problems;
  if (platform::os_error e = platform::reg_check_store(SettingTypeRules(), &where, &problems))
    return Fail("cannot read " + where + ": " + platform::error_message(e));
  for (const auto& p : problems) term_.out << where << ": " << p << "\n";
  if (problems.empty()) {
    term_.out << where << ": every line is readable, once, with the type it needs\n";
    return 0;
  }
  return Fail(std::to_string(problems.size()) + " line(s) need mending");
}

int Session::Run(const std::string& command, Args args) {
  bool yes = false;
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "--help" || *it == "-h") {
      auto u = kUsage.find(command);
      term_.out << (u == kUsage.end() ? kUsage.at("") : u->second);
      return 0;
    }
    if (*it == "--yes" && command != "realm") {
      yes = true;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  // One command is one read-modify-write: no other program's edit may
  // come between its load and its save, or one of the two is lost.
  const bool reads_only = command == "check" || command == "backup" || command == "show" ||
                          command == "get";
  platform::RegStoreHold hold;
  if (platform::os_error e = platform::reg_hold_store(
          reads_only ? platform::RegHoldMode::kShared : platform::RegHoldMode::kExclusive,
          kRegistryWaitMs, &hold)) {
    if (e == platform::err::kTimeout)
      return Fail("the registry is being changed by another program (waited " +
                  std::to_string(kRegistryWaitMs / 1000) + " s); nothing was done");
    return Fail("cannot lock the registry: " + platform::error_message(e));
  }
  if (command == "check") return args.empty() ? Check() : Usage("check");
  if (command == "backup") return Backup(args);
  if (command == "restore") return Restore(args, yes);
  if (!kUsage.contains(command)) {
    term_.err << "vaneconf: unknown command \"" << command << "\"\n";
    return Usage("");
  }
  if (command == "reset") return args.empty() ? Reset(yes) : Usage("reset");
  if (!Load()) return 1;
  if (command == "show") return args.empty() ? Show() : Usage("show");
  if (command == "get") return Get(args);
  if (command == "set") return Set(args);
  if (command == "server") return ServerCmd(args);
  if (command == "map") return MapCmd(args);
  if (command == "realm") return RealmCmd(args);
  if (command == "user") return UserCmd(args);
  if (command == "group") return GroupCmd(args);
  if (command == "access") return AccessCmd(args);
  if (command == "export-foreign") return args.empty() ? Export() : Usage("export-foreign");
  return Usage("");
}

}  // namespace

int RunVaneconf(const std::vector<std::string>& args, CliTerminal& term) {
  std::string profile = kDefaultProfile;
  std::string server;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "-p" || a == "-s") && i + 1 < args.size()) {
      (a == "-p" ? profile : server) = args[++i];
    } else if (a == "--help" || a == "-h") {
      term.out << kUsage.at("");
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      term.err << "vaneconf: unknown option \"" << a << "\"\n" << kUsage.at("");
      return 2;
    } else {
      break;
    }
  }
  if (i == args.size()) {
    term.err << kUsage.at("");
    return 2;
  }
  if (profile.empty()) profile = kDefaultProfile;
  Session session(term, profile, server);
  return session.Run(args[i], Args(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end()));
}

}  // namespace brisvane::admin
