// The server's settings as held in memory, and their load from and save to
// the registry below HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\<profile>.
// Each section is a subkey and each setting a value: numbers and flags as
// REG_DWORD, texts as REG_SZ. Whatever is missing or unreadable loads as its
// built-in default, so an empty profile key gives a server that runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/access_model.h"

namespace brisvane {

class RegistryKey;

// One row of a list kept as registry values. For most lists `first` is the
// value name and `second` its data; the type map stores them the other way
// round (see ServerSettings::type_map).
struct NamePair {
  std::string first;
  std::string second;
  bool operator==(const NamePair&) const = default;
};

// Rows in insertion order; duplicates are allowed.
using NamePairList = std::vector<NamePair>;

// The engine and the configuration module read the same keys but differ in
// a few defaults and in which values they own.
enum class SettingsFlavor { kEngine, kConfigModule };

inline constexpr char kSettingsRoot[] = "SOFTWARE\\Halvex\\Brisvane\\2.0";
inline constexpr char kDefaultProfile[] = "Default";

// How long a load or save waits for another program's edit of the
// registry to end before it gives up (see platform::reg_hold_store).
inline constexpr uint32_t kRegistryWaitMs = 10000;

// The engine never runs with fewer worker threads than this.
inline constexpr uint32_t kMinThreads = 4;

// Key path of `profile` below HKEY_LOCAL_MACHINE. An empty profile means
// kDefaultProfile, so no call can reach the version key that holds every
// profile.
std::string ProfileKeyPath(const std::string& profile);

// `dir` + separator + `suffix`, without doubling a separator that `dir`
// already ends with. Default paths are built with it.
std::string InstallPath(const std::string& dir, const std::string& suffix);

struct VirtualServerConfig {
  // On the virtual server's key itself: the TLS set-up. The certificate
  // and key are file paths; an empty key means the key follows the
  // certificates in the certificate file (or is inside a .pfx).
  bool use_ssl = false;
  std::string server_certificate;
  std::string server_private_key;
  bool redirect_to_ssl = false;  // plain HTTP answered by a redirect to https

  // "Server" subkey. Paths are empty until ApplyVirtualServerDefaults.
  std::string site_address = "localhost";
  std::string site_ip = "127.0.0.1";
  std::string admin_email = "webmaster@localhost";
  std::string doc_root;
  std::string default_index = "index.html";
  std::string master_user;
  std::string master_password;
  std::string error_template_file_name;
  bool use_error_template = true;
  bool use_dynamic_ip = false;
  uint32_t security_type = 0;
  std::string anon_user_name = "zelt_anon";  // loaded, never saved

  // "Index" subkey.
  uint32_t auto_index = 3;

  // One subkey each; value name = URL prefix, data = target.
  NamePairList alias;
  NamePairList redir;
  NamePairList cgi_bin;
  NamePairList cgi_win;
  NamePairList isapi_ext;

  // "Authentication" subkey: one subkey per realm. "Access" subkey: one
  // subkey per entry, named by its URL path prefix.
  std::vector<Realm> realms;
  std::vector<AccessEntry> access_entries;

  bool operator==(const VirtualServerConfig&) const = default;
};

struct ServerSettings {
  // Every field at its default for `flavor`, with paths below the
  // directory of the running executable or below `install_dir`. The lists
  // hold their built-in rows and there is one default virtual server.
  explicit ServerSettings(SettingsFlavor flavor = SettingsFlavor::kEngine);
  ServerSettings(std::string install_dir, SettingsFlavor flavor);

  // Base of every default path. Set by the constructor; callers may replace
  // it before loading.
  std::string install_directory;

  // Network
  uint32_t port = 80;
  uint32_t ssl_port = 443;  // the TLS listener, on the same addresses as `port`
  uint32_t send_timeout = 45000;  // milliseconds, as are the three below
  uint32_t recv_timeout = 45000;
  uint32_t keep_alive = 10000;
  uint32_t cgi_timeout = 300000;
  bool use_keep_alive = false;
  bool ssl_security = false;

  // Server
  bool send_version_info = false;
  bool resolve_name = false;
  uint32_t priority_level = 2;
  uint32_t num_threads = 12;
  uint32_t bounce_port = 80;
  std::string bounce_site = "checkip.amazonaws.com";
  bool use_remote_admin = true;  // the configuration module's own setting
  uint32_t max_request_body = 0;   // KiB; 0: any size
  uint32_t max_connections = 10000;

  // Log
  uint32_t access_log_mask = 1;
  uint32_t error_log_mask = 1;
  uint32_t trace_log_mask = 0;
  std::string access_log_file_name;
  std::string error_log_file_name;
  std::string trace_log_file_name;

  // Dynamic
  bool dynamic_ip = false;
  uint32_t dynamic_service = 0;
  uint32_t dynamic_refresh = 1200000;
  std::string dynamic_login;
  std::string dynamic_password;
  std::string dynamic_host;

  // Advanced
  bool cgi_debug_mode = false;
  bool cgi_send_password = true;
  bool preserve_path_info = false;
  bool process_external = true;
  bool process_ssi = true;
  bool process_ssi_secure = false;

  // Icons: class -> icon URL. AssocMap: file ending -> program.
  NamePairList icons;
  NamePairList assoc_map;
  // TypeMap: first = media type (the value's data), second = file ending
  // (the value's name), the order consumers search in.
  NamePairList type_map;

  std::vector<VirtualServerConfig> virtual_servers;

  bool operator==(const ServerSettings&) const = default;
};

// Resets `vs` to its defaults, with paths below `install_dir`.
void ApplyVirtualServerDefaults(VirtualServerConfig* vs, const std::string& install_dir);

// Replaces the global settings and the virtual-server list of `target`
// with the profile's; `install_directory` is kept and used for default
// paths. The profile key and every section key are created when missing.
// Other programs' changes wait until the load is done. False, with `target`
// untouched, only when the profile key cannot be opened or created, or
// another program kept the registry longer than kRegistryWaitMs.
bool LoadSettings(ServerSettings* target, const std::string& profile,
                  SettingsFlavor flavor = SettingsFlavor::kEngine);

// Reads one virtual server from `key` (one subkey of "Virtual"), creating
// its subkeys when missing. Always true.
bool LoadVirtualServer(VirtualServerConfig* target, RegistryKey& key,
                       const std::string& install_dir,
                       SettingsFlavor flavor = SettingsFlavor::kEngine);

// Replaces what the settings own below the profile key with `settings`:
// the values of the settings table, the lists, the virtual servers with
// their realms and access entries; virtual servers are renumbered "0000",
// "0001", ... in list order. Values and keys the settings do not own (a
// later version's, or added by hand) stay as they are. Every value is
// written first; only when all writes succeeded is what the save owns but
// did not write removed. Other programs wait until the save is done. False
// when the profile key cannot be opened, the registry stayed busy or any
// write failed: nothing stored before is lost then, though values already
// written stay.
bool SaveSettings(const ServerSettings& settings, const std::string& profile,
                  SettingsFlavor flavor = SettingsFlavor::kEngine);

// Writes one virtual server below `key` and then removes what it owns but
// did not write below it. False when a write failed.
bool SaveVirtualServer(const VirtualServerConfig& vs, RegistryKey& key,
                       SettingsFlavor flavor = SettingsFlavor::kEngine);

// Deletes every subkey of the profile key; values directly in it stay.
// True when the profile key opened and has no subkeys left.
bool ClearProfile(const std::string& profile);

}  // namespace brisvane
