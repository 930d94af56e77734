#include "config/settings_table.h"

namespace brisvane {
namespace {

using S = ServerSettings;
using V = VirtualServerConfig;

const SettingField<S> kGlobalFields[] = {
    {"Network", "Port", &S::port},
    {"Network", "SSLPort", &S::ssl_port},
    {"Network", "SendTimeOut", &S::send_timeout},
    {"Network", "RecvTimeOut", &S::recv_timeout},
    {"Network", "KeepAlive", &S::keep_alive},
    {"Network", "CGITimeOut", &S::cgi_timeout},
    {"Network", "UseKeepAlive", &S::use_keep_alive},
    {"Network", "SSLSecurity", &S::ssl_security},
    {"Server", "SendVersionInfo", &S::send_version_info},
    {"Server", "ResolveName", &S::resolve_name},
    {"Server", "PriorityLevel", &S::priority_level},
    {"Server", "NumThreads", &S::num_threads},
    {"Server", "BouncePort", &S::bounce_port},
    {"Server", "BounceSite", &S::bounce_site},
    {"Server", "UseRemoteAdmin", &S::use_remote_admin, SettingUse::kConfigModuleOnly},
    {"Server", "MaxRequestBody", &S::max_request_body},
    {"Server", "MaxConnections", &S::max_connections},
    {"Log", "AccessLogMask", &S::access_log_mask},
    {"Log", "ErrorLogMask", &S::error_log_mask},
    {"Log", "TraceLogMask", &S::trace_log_mask},
    {"Log", "AccessLogFileName", &S::access_log_file_name},
    {"Log", "ErrorLogFileName", &S::error_log_file_name},
    {"Log", "TraceLogFileName", &S::trace_log_file_name},
    {"Dynamic", "DynamicIP", &S::dynamic_ip},
    {"Dynamic", "DynamicService", &S::dynamic_service},
    {"Dynamic", "DynamicRefresh", &S::dynamic_refresh},
    {"Dynamic", "DynamicLogin", &S::dynamic_login},
    {"Dynamic", "DynamicPassword", &S::dynamic_password},
    {"Dynamic", "DynamicHost", &S::dynamic_host},
    {"Advanced", "CGIDebugMode", &S::cgi_debug_mode},
    {"Advanced", "CGISendPassword", &S::cgi_send_password},
    {"Advanced", "PreservePathInfo", &S::preserve_path_info},
    {"Advanced", "ProcessExternal", &S::process_external},
    {"Advanced", "ProcessSSI", &S::process_ssi},
    {"Advanced", "ProcessSSISecure", &S::process_ssi_secure},
};

const SettingList<S> kGlobalLists[] = {
    {"Icons", &S::icons, false, false},
    {"TypeMap", &S::type_map, true, false},
    {"AssocMap", &S::assoc_map, false, false},
};

const SettingField<V> kVirtualServerFields[] = {
    {nullptr, "UseSSL", &V::use_ssl},
    {nullptr, "ServerCertificate", &V::server_certificate, SettingUse::kBoth,
     SettingRead::kTextKeptWhenMissing},
    {nullptr, "ServerPrivateKey", &V::server_private_key},
    {nullptr, "RedirectToSSL", &V::redirect_to_ssl},
    {"Server", "SiteAddress", &V::site_address},
    {"Server", "SiteIP", &V::site_ip},
    {"Server", "AdminEmail", &V::admin_email},
    {"Server", "DocRoot", &V::doc_root},
    {"Server", "DefaultIndex", &V::default_index},
    {"Server", "MasterUser", &V::master_user},
    {"Server", "MasterPassword", &V::master_password},
    {"Server", "ErrorTemplateFileName", &V::error_template_file_name},
    {"Server", "UseErrorTemplate", &V::use_error_template, SettingUse::kBoth, SettingRead::kRawBytes},
    {"Server", "UseDynamicIP", &V::use_dynamic_ip, SettingUse::kBoth, SettingRead::kRawBytes},
    {"Server", "SecurityType", &V::security_type, SettingUse::kBoth, SettingRead::kRawBytes},
    {"Server", "AnonUserName", &V::anon_user_name, SettingUse::kReadOnly},
    {"Index", "AutoIndex", &V::auto_index, SettingUse::kBoth, SettingRead::kRawBytes},
};

// Saved in this order: the redirections come first.
const SettingList<V> kVirtualServerLists[] = {
    {"Redir", &V::redir, false, false},
    {"Alias", &V::alias, false, true},
    {"CgiBin", &V::cgi_bin, false, true},
    {"CgiWin", &V::cgi_win, false, true},
    {"ISAPIExt", &V::isapi_ext, false, true},
};

}  // namespace

std::span<const SettingField<S>> GlobalSettingFields() { return kGlobalFields; }
std::span<const SettingList<S>> GlobalSettingLists() { return kGlobalLists; }
std::span<const SettingField<V>> VirtualServerFields() { return kVirtualServerFields; }
std::span<const SettingList<V>> VirtualServerLists() { return kVirtualServerLists; }

namespace {

template <class Record>
void AddTypeRules(std::span<const SettingField<Record>> fields,
                  std::span<const SettingList<Record>> lists, const std::string& key,
                  std::vector<platform::RegTypeRule>* out) {
  for (const SettingField<Record>& f : fields) {
    const bool text = std::holds_alternative<std::string Record::*>(f.member);
    out->push_back({platform::kHkeyLocalMachine, f.section ? key + "\\" + f.section : key, f.name,
                    text ? platform::kRegSz : platform::kRegDword});
  }
  for (const SettingList<Record>& l : lists)
    out->push_back({platform::kHkeyLocalMachine, key + "\\" + l.subkey, "*", platform::kRegSz});
}

}  // namespace

std::vector<platform::RegTypeRule> SettingTypeRules() {
  std::vector<platform::RegTypeRule> rules;
  const std::string profile = std::string(kSettingsRoot) + "\\*";
  AddTypeRules(GlobalSettingFields(), GlobalSettingLists(), profile, &rules);
  AddTypeRules(VirtualServerFields(), VirtualServerLists(), profile + "\\Virtual\\*", &rules);
  return rules;
}

bool LoadsSetting(SettingUse use, SettingsFlavor flavor) {
  switch (use) {
    case SettingUse::kConfigModuleOnly: return flavor == SettingsFlavor::kConfigModule;
    default: return true;
  }
}

bool SavesSetting(SettingUse use, SettingsFlavor flavor) {
  switch (use) {
    case SettingUse::kBoth: return true;
    case SettingUse::kConfigModuleOnly: return flavor == SettingsFlavor::kConfigModule;
    default: return false;
  }
}

}  // namespace brisvane
