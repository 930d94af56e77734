#include "config/server_settings.h"

#include <cstdio>
#include <utility>

#include "config/registry_key.h"
#include "config/type_maps.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kSep = platform::kPathSeparator;

// Subkeys of a virtual server that hold lists.
constexpr char kAliasKey[] = "Alias";
constexpr char kRedirKey[] = "Redir";
constexpr char kCgiBinKey[] = "CgiBin";
constexpr char kCgiWinKey[] = "CgiWin";
constexpr char kIsapiExtKey[] = "ISAPIExt";
// Security subkeys of a virtual server.
constexpr char kAccessKey[] = "Access";
constexpr char kAuthenticationKey[] = "Authentication";

std::string TrimTrailing(std::string text, char c) {
  size_t end = text.find_last_not_of(c);
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

bool ReadFlag(const RegistryKey& key, const char* name, bool def) {
  return key.GetDword(name, def ? 1 : 0) != 0;
}

std::string ReadText(const RegistryKey& key, const char* name, const std::string& def) {
  std::string value;
  return key.QueryString(name, &value) ? value : def;
}

// Raw bytes of up to four, zero-extended; `def` when missing or longer.
uint32_t ReadRawDword(const RegistryKey& key, const char* name, uint32_t def) {
  uint32_t value = 0;
  return key.QueryDword(name, &value) ? value : def;
}

void WriteFlag(RegistryKey& key, const char* name, bool value) { key.SetDword(name, value ? 1 : 0); }

// Every value of `key` in enumeration order, as (name, data), or as
// (data, name) when `data_first`. Values that cannot be read are skipped.
NamePairList ReadValues(const RegistryKey& key, bool data_first) {
  NamePairList list;
  uint32_t count = key.ValueCount();
  for (uint32_t i = 0; i < count; ++i) {
    std::string name, data;
    if (!key.EnumValue(i, &name, &data)) continue;
    if (data_first) std::swap(name, data);
    list.push_back({std::move(name), std::move(data)});
  }
  return list;
}

void WriteValues(RegistryKey& key, const NamePairList& list, bool data_first) {
  for (const NamePair& row : list) {
    if (data_first) {
      key.SetString(row.second.c_str(), row.first);
    } else {
      key.SetString(row.first.c_str(), row.second);
    }
  }
}

// A global list: its values, or `defaults` when the key holds none.
NamePairList LoadGlobalList(const RegistryKey& root, const char* subkey, bool data_first,
                            const NamePairList& defaults) {
  RegistryKey key(root, subkey, true);
  if (key.ValueCount() == 0) return defaults;
  return ReadValues(key, data_first);
}

void SaveGlobalList(const RegistryKey& root, const char* subkey, const NamePairList& list,
                    bool data_first) {
  RegistryKey key(root, subkey, true);
  key.DeleteTree();  // nothing below a list key belongs there
  WriteValues(key, list, data_first);
}

// A virtual server's URL-prefix list. `trim` removes trailing "/" from
// names and trailing separators from paths, so that prefixes and targets
// join with exactly one separator wherever they are used.
NamePairList LoadPrefixList(const RegistryKey& vs_key, const char* subkey, bool trim,
                            const NamePairList& defaults) {
  RegistryKey key(vs_key, subkey, true);
  if (key.ValueCount() == 0) return defaults;
  NamePairList list = ReadValues(key, false);
  if (trim) {
    for (NamePair& row : list) {
      row.first = TrimTrailing(std::move(row.first), '/');
      row.second = TrimTrailing(std::move(row.second), kSep);
    }
  }
  return list;
}

void SaveList(const RegistryKey& vs_key, const char* subkey, const NamePairList& list) {
  RegistryKey key(vs_key, subkey, true);
  WriteValues(key, list, false);
}

void LoadNetwork(const RegistryKey& root, const ServerSettings& def, ServerSettings* s) {
  RegistryKey key(root, "Network", true);
  s->port = key.GetDword("Port", def.port);
  s->send_timeout = key.GetDword("SendTimeOut", def.send_timeout);
  s->recv_timeout = key.GetDword("RecvTimeOut", def.recv_timeout);
  s->keep_alive = key.GetDword("KeepAlive", def.keep_alive);
  s->cgi_timeout = key.GetDword("CGITimeOut", def.cgi_timeout);
  s->use_keep_alive = ReadFlag(key, "UseKeepAlive", def.use_keep_alive);
  s->ssl_security = ReadFlag(key, "SSLSecurity", def.ssl_security);
}

void LoadServer(const RegistryKey& root, const ServerSettings& def, SettingsFlavor flavor,
                ServerSettings* s) {
  RegistryKey key(root, "Server", true);
  s->send_version_info = ReadFlag(key, "SendVersionInfo", def.send_version_info);
  s->resolve_name = ReadFlag(key, "ResolveName", def.resolve_name);
  s->priority_level = key.GetDword("PriorityLevel", def.priority_level);
  s->num_threads = key.GetDword("NumThreads", def.num_threads);
  if (s->num_threads < kMinThreads) s->num_threads = kMinThreads;
  s->bounce_port = key.GetDword("BouncePort", def.bounce_port);
  s->bounce_site = ReadText(key, "BounceSite", def.bounce_site);
  if (flavor == SettingsFlavor::kConfigModule) {
    s->use_remote_admin = ReadFlag(key, "UseRemoteAdmin", def.use_remote_admin);
  }
}

void LoadLog(const RegistryKey& root, const ServerSettings& def, ServerSettings* s) {
  RegistryKey key(root, "Log", true);
  s->access_log_mask = key.GetDword("AccessLogMask", def.access_log_mask);
  s->error_log_mask = key.GetDword("ErrorLogMask", def.error_log_mask);
  s->trace_log_mask = key.GetDword("TraceLogMask", def.trace_log_mask);
  s->access_log_file_name = ReadText(key, "AccessLogFileName", def.access_log_file_name);
  s->error_log_file_name = ReadText(key, "ErrorLogFileName", def.error_log_file_name);
  s->trace_log_file_name = ReadText(key, "TraceLogFileName", def.trace_log_file_name);
}

void LoadDynamic(const RegistryKey& root, const ServerSettings& def, ServerSettings* s) {
  RegistryKey key(root, "Dynamic", true);
  s->dynamic_ip = ReadFlag(key, "DynamicIP", def.dynamic_ip);
  s->dynamic_service = key.GetDword("DynamicService", def.dynamic_service);
  s->dynamic_refresh = key.GetDword("DynamicRefresh", def.dynamic_refresh);
  s->dynamic_login = ReadText(key, "DynamicLogin", def.dynamic_login);
  s->dynamic_password = ReadText(key, "DynamicPassword", def.dynamic_password);
  s->dynamic_host = ReadText(key, "DynamicHost", def.dynamic_host);
}

void LoadAdvanced(const RegistryKey& root, const ServerSettings& def, ServerSettings* s) {
  RegistryKey key(root, "Advanced", true);
  s->cgi_debug_mode = ReadFlag(key, "CGIDebugMode", def.cgi_debug_mode);
  s->cgi_send_password = ReadFlag(key, "CGISendPassword", def.cgi_send_password);
  s->preserve_path_info = ReadFlag(key, "PreservePathInfo", def.preserve_path_info);
  s->process_external = ReadFlag(key, "ProcessExternal", def.process_external);
  s->process_ssi = ReadFlag(key, "ProcessSSI", def.process_ssi);
  s->process_ssi_secure = ReadFlag(key, "ProcessSSISecure", def.process_ssi_secure);
}

void SaveNetwork(const RegistryKey& root, const ServerSettings& s) {
  RegistryKey key(root, "Network", true);
  key.SetDword("Port", s.port);
  key.SetDword("SendTimeOut", s.send_timeout);
  key.SetDword("RecvTimeOut", s.recv_timeout);
  key.SetDword("KeepAlive", s.keep_alive);
  key.SetDword("CGITimeOut", s.cgi_timeout);
  WriteFlag(key, "UseKeepAlive", s.use_keep_alive);
  WriteFlag(key, "SSLSecurity", s.ssl_security);
}

void SaveServer(const RegistryKey& root, const ServerSettings& s, SettingsFlavor flavor) {
  RegistryKey key(root, "Server", true);
  WriteFlag(key, "SendVersionInfo", s.send_version_info);
  WriteFlag(key, "ResolveName", s.resolve_name);
  key.SetDword("PriorityLevel", s.priority_level);
  key.SetDword("NumThreads", s.num_threads);
  key.SetDword("BouncePort", s.bounce_port);
  key.SetString("BounceSite", s.bounce_site);
  if (flavor == SettingsFlavor::kConfigModule) WriteFlag(key, "UseRemoteAdmin", s.use_remote_admin);
}

void SaveLog(const RegistryKey& root, const ServerSettings& s) {
  RegistryKey key(root, "Log", true);
  key.SetDword("AccessLogMask", s.access_log_mask);
  key.SetDword("ErrorLogMask", s.error_log_mask);
  key.SetDword("TraceLogMask", s.trace_log_mask);
  key.SetString("AccessLogFileName", s.access_log_file_name);
  key.SetString("ErrorLogFileName", s.error_log_file_name);
  key.SetString("TraceLogFileName", s.trace_log_file_name);
}

void SaveDynamic(const RegistryKey& root, const ServerSettings& s) {
  RegistryKey key(root, "Dynamic", true);
  WriteFlag(key, "DynamicIP", s.dynamic_ip);
  key.SetDword("DynamicService", s.dynamic_service);
  key.SetDword("DynamicRefresh", s.dynamic_refresh);
  key.SetString("DynamicLogin", s.dynamic_login);
  key.SetString("DynamicPassword", s.dynamic_password);
  key.SetString("DynamicHost", s.dynamic_host);
}

void SaveAdvanced(const RegistryKey& root, const ServerSettings& s) {
  RegistryKey key(root, "Advanced", true);
  WriteFlag(key, "CGIDebugMode", s.cgi_debug_mode);
  WriteFlag(key, "CGISendPassword", s.cgi_send_password);
  WriteFlag(key, "PreservePathInfo", s.preserve_path_info);
  WriteFlag(key, "ProcessExternal", s.process_external);
  WriteFlag(key, "ProcessSSI", s.process_ssi);
  WriteFlag(key, "ProcessSSISecure", s.process_ssi_secure);
}

void LoadVirtualServers(const RegistryKey& root, const std::string& install_dir,
                        SettingsFlavor flavor, std::vector<VirtualServerConfig>* out) {
  RegistryKey list(root, "Virtual", true);
  uint32_t count = list.SubKeyCount();
  if (count == 0) {
    VirtualServerConfig vs;
    ApplyVirtualServerDefaults(&vs, install_dir);
    out->push_back(std::move(vs));
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    if (!list.EnumSubKey(i, &name)) continue;
    RegistryKey key(list, name, true);
    // A fresh record each time, so nothing carries over between servers.
    VirtualServerConfig vs;
    LoadVirtualServer(&vs, key, install_dir, flavor);
    out->push_back(std::move(vs));
  }
}

}  // namespace

std::string ProfileKeyPath(const std::string& profile) {
  return std::string(kSettingsRoot) + "\\" + (profile.empty() ? kDefaultProfile : profile);
}

std::string InstallPath(const std::string& dir, const std::string& suffix) {
  if (!dir.empty() && dir.back() == kSep) return dir + suffix;
  return dir + kSep + suffix;
}

ServerSettings::ServerSettings(SettingsFlavor flavor)
    : ServerSettings(platform::executable_directory(), flavor) {}

ServerSettings::ServerSettings(std::string install_dir, SettingsFlavor flavor)
    : install_directory(std::move(install_dir)) {
  if (flavor == SettingsFlavor::kConfigModule) {
    send_version_info = true;
    num_threads = 16;
  }
  const std::string logs = InstallPath(install_directory, "Logs");
  access_log_file_name = InstallPath(logs, "AccessLog.TXT");
  error_log_file_name = InstallPath(logs, "ErrorLog.TXT");
  trace_log_file_name = InstallPath(logs, "TraceLog.TXT");
  ApplyIconDefaults(this);
  ApplyTypeMapDefaults(this);
  ApplyAssocMapDefaults(this);
  virtual_servers.resize(1);
  ApplyVirtualServerDefaults(&virtual_servers[0], install_directory);
}

void ApplyVirtualServerDefaults(VirtualServerConfig* vs, const std::string& install_dir) {
  *vs = VirtualServerConfig{};
  vs->doc_root = InstallPath(install_dir, "HTDOCS");
  vs->error_template_file_name = InstallPath(install_dir, "ERROR.TEMP");
  vs->alias = {{"/ICONS", InstallPath(install_dir, "ICONS")}};
  vs->cgi_bin = {{"/CGI-BIN", InstallPath(install_dir, "CGI-BIN")}};
  vs->cgi_win = {{"/CGI-WIN", InstallPath(install_dir, "CGI-WIN")}};
  vs->isapi_ext = {{"/ISAPI", InstallPath(install_dir, "ISAPI")}};
}

bool LoadSettings(ServerSettings* target, const std::string& profile, SettingsFlavor flavor) {
  RegistryKey root(platform::kHkeyLocalMachine, ProfileKeyPath(profile), true);
  if (!root.IsOpen()) return false;
  const ServerSettings def(target->install_directory, flavor);

  target->virtual_servers.clear();
  LoadNetwork(root, def, target);
  LoadServer(root, def, flavor, target);
  LoadLog(root, def, target);
  LoadDynamic(root, def, target);
  LoadAdvanced(root, def, target);
  target->icons = LoadGlobalList(root, "Icons", false, def.icons);
  target->type_map = LoadGlobalList(root, "TypeMap", true, def.type_map);
  target->assoc_map = LoadGlobalList(root, "AssocMap", false, def.assoc_map);
  LoadVirtualServers(root, target->install_directory, flavor, &target->virtual_servers);
  return true;
}

bool LoadVirtualServer(VirtualServerConfig* target, RegistryKey& key,
                       const std::string& install_dir, SettingsFlavor flavor) {
  VirtualServerConfig def;
  ApplyVirtualServerDefaults(&def, install_dir);

  if (flavor == SettingsFlavor::kEngine) {
    target->use_ssl = ReadFlag(key, "UseSSL", false);
    key.QueryString("ServerCertificate", &target->server_certificate);
  }

  {
    RegistryKey server(key, "Server", true);
    target->site_address = ReadText(server, "SiteAddress", def.site_address);
    target->site_ip = ReadText(server, "SiteIP", def.site_ip);
    target->admin_email = ReadText(server, "AdminEmail", def.admin_email);
    // Paths below the document root are joined with a separator of their own.
    target->doc_root = TrimTrailing(ReadText(server, "DocRoot", def.doc_root), kSep);
    target->default_index = ReadText(server, "DefaultIndex", def.default_index);
    target->master_user = ReadText(server, "MasterUser", def.master_user);
    target->master_password = ReadText(server, "MasterPassword", def.master_password);
    target->error_template_file_name =
        ReadText(server, "ErrorTemplateFileName", def.error_template_file_name);
    target->use_error_template = ReadRawDword(server, "UseErrorTemplate", def.use_error_template) != 0;
    target->use_dynamic_ip = ReadRawDword(server, "UseDynamicIP", def.use_dynamic_ip) != 0;
    target->security_type = ReadRawDword(server, "SecurityType", def.security_type);
    target->anon_user_name = ReadText(server, "AnonUserName", def.anon_user_name);
  }
  {
    RegistryKey index(key, "Index", true);
    target->auto_index = ReadRawDword(index, "AutoIndex", def.auto_index);
  }

  target->alias = LoadPrefixList(key, kAliasKey, true, def.alias);
  target->redir = LoadPrefixList(key, kRedirKey, false, def.redir);
  target->cgi_bin = LoadPrefixList(key, kCgiBinKey, true, def.cgi_bin);
  target->cgi_win = LoadPrefixList(key, kCgiWinKey, true, def.cgi_win);
  target->isapi_ext = LoadPrefixList(key, kIsapiExtKey, true, def.isapi_ext);
  {
    RegistryKey authentication(key, kAuthenticationKey, true);
    target->realms = LoadRealms(authentication);
  }
  RegistryKey access(key, kAccessKey, true);
  target->access_entries = LoadAccessList(access);
  return true;
}

bool SaveSettings(const ServerSettings& settings, const std::string& profile,
                  SettingsFlavor flavor) {
  ClearProfile(profile);
  RegistryKey root(platform::kHkeyLocalMachine, ProfileKeyPath(profile), true);
  if (!root.IsOpen()) return false;

  SaveNetwork(root, settings);
  SaveServer(root, settings, flavor);
  SaveLog(root, settings);
  SaveDynamic(root, settings);
  SaveAdvanced(root, settings);
  SaveGlobalList(root, "Icons", settings.icons, false);
  SaveGlobalList(root, "TypeMap", settings.type_map, true);
  SaveGlobalList(root, "AssocMap", settings.assoc_map, false);

  RegistryKey list(root, "Virtual", true);
  for (size_t i = 0; i < settings.virtual_servers.size(); ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d", static_cast<int>(i));
    RegistryKey key(list, name, true);
    SaveVirtualServer(settings.virtual_servers[i], key, flavor);
  }
  return true;
}

bool SaveVirtualServer(const VirtualServerConfig& vs, RegistryKey& key, SettingsFlavor) {
  // Both exist before anything else is written and stay open to the end,
  // where realms and access entries are written into them.
  RegistryKey access(key, kAccessKey, true);
  RegistryKey authentication(key, kAuthenticationKey, true);
  {
    RegistryKey server(key, "Server", true);
    server.SetString("SiteAddress", vs.site_address);
    server.SetString("SiteIP", vs.site_ip);
    server.SetString("AdminEmail", vs.admin_email);
    server.SetString("DocRoot", vs.doc_root);
    server.SetString("DefaultIndex", vs.default_index);
    server.SetString("MasterUser", vs.master_user);
    server.SetString("MasterPassword", vs.master_password);
    server.SetString("ErrorTemplateFileName", vs.error_template_file_name);
    WriteFlag(server, "UseErrorTemplate", vs.use_error_template);
    WriteFlag(server, "UseDynamicIP", vs.use_dynamic_ip);
    server.SetDword("SecurityType", vs.security_type);
  }
  {
    RegistryKey index(key, "Index", true);
    index.SetDword("AutoIndex", vs.auto_index);
  }
  SaveList(key, kRedirKey, vs.redir);
  SaveList(key, kAliasKey, vs.alias);
  SaveList(key, kCgiBinKey, vs.cgi_bin);
  SaveList(key, kCgiWinKey, vs.cgi_win);
  SaveList(key, kIsapiExtKey, vs.isapi_ext);
  SaveRealms(vs.realms, authentication);
  SaveAccessList(vs.access_entries, access);
  return true;
}

bool ClearProfile(const std::string& profile) {
  RegistryKey root(platform::kHkeyLocalMachine, ProfileKeyPath(profile), true);
  if (!root.IsOpen()) return false;
  root.DeleteTree();
  return root.SubKeyCount() == 0;
}

}  // namespace brisvane
