#include "config/server_settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/text.h"
#include "config/registry_key.h"
#include "config/save_tracker.h"
#include "config/settings_table.h"
#include "config/type_maps.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kSep = platform::kPathSeparator;

// Security subkeys of a virtual server.
constexpr char kAccessKey[] = "Access";
constexpr char kAuthenticationKey[] = "Authentication";
constexpr char kVirtualKey[] = "Virtual";

// One value into `member` of `target`, `def` giving what a missing or
// unreadable value loads as.
template <class Record>
void LoadField(const SettingField<Record>& field, const RegistryKey& key, const Record& def,
               Record* target) {
  std::visit(
      [&](auto member) {
        using T = std::remove_reference_t<decltype(target->*member)>;
        if constexpr (std::is_same_v<T, std::string>) {
          std::string value;
          if (key.QueryString(field.name, &value)) {
            target->*member = std::move(value);
          } else if (field.read != SettingRead::kTextKeptWhenMissing) {
            target->*member = def.*member;
          }
        } else {
          uint32_t value = static_cast<uint32_t>(def.*member);
          if (field.read == SettingRead::kRawBytes) {
            uint32_t raw = 0;
            if (key.QueryDword(field.name, &raw)) value = raw;
          } else {
            value = key.GetDword(field.name, value);
          }
          if constexpr (std::is_same_v<T, bool>) {
            target->*member = value != 0;
          } else {
            target->*member = value;
          }
        }
      },
      field.member);
}

template <class Record>
void SaveField(const SettingField<Record>& field, SaveKey& key, const Record& record) {
  std::visit(
      [&](auto member) {
        using T = std::remove_cvref_t<decltype(record.*member)>;
        if constexpr (std::is_same_v<T, std::string>) {
          key.SetString(field.name, record.*member);
        } else {
          key.SetDword(field.name, static_cast<uint32_t>(record.*member));
        }
      },
      field.member);
}

// Each section key is opened (and created) once, in the rows' order.
template <class Record>
void LoadFields(std::span<const SettingField<Record>> fields, const RegistryKey& key,
                SettingsFlavor flavor, const Record& def, Record* target) {
  std::optional<RegistryKey> section;
  const char* open_name = nullptr;
  for (const SettingField<Record>& field : fields) {
    if (!LoadsSetting(field.use, flavor)) continue;
    const RegistryKey* from = &key;
    if (field.section) {
      if (!open_name || std::strcmp(open_name, field.section) != 0) {
        section.emplace(key, field.section, true);
        open_name = field.section;
      }
      from = &*section;
    }
    LoadField(field, *from, def, target);
  }
}

template <class Record>
void SaveFields(std::span<const SettingField<Record>> fields, SaveKey& key,
                SettingsFlavor flavor, const Record& record) {
  std::optional<SaveKey> section;
  const char* open_name = nullptr;
  for (const SettingField<Record>& field : fields) {
    if (!SavesSetting(field.use, flavor)) continue;
    SaveKey* to = &key;
    if (field.section) {
      if (!open_name || std::strcmp(open_name, field.section) != 0) {
        section.emplace(key, field.section);
        open_name = field.section;
      }
      to = &*section;
    }
    SaveField(field, *to, record);
  }
}

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

// A list: its values, or the default rows when the key holds none. `trim`
// makes prefixes and targets join with exactly one separator wherever they
// are used.
template <class Record>
void LoadLists(std::span<const SettingList<Record>> lists, const RegistryKey& parent,
               const Record& def, Record* target) {
  for (const SettingList<Record>& list : lists) {
    RegistryKey key(parent, list.subkey, true);
    if (key.ValueCount() == 0) {
      target->*list.member = def.*list.member;
      continue;
    }
    NamePairList rows = ReadValues(key, list.data_first);
    if (list.trim) {
      for (NamePair& row : rows) {
        row.first = TrimTrailing(row.first, '/');
        row.second = TrimTrailing(row.second, kSep);
      }
    }
    target->*list.member = std::move(rows);
  }
}

template <class Record>
void SaveLists(std::span<const SettingList<Record>> lists, SaveKey& parent, const Record& record) {
  for (const SettingList<Record>& list : lists) {
    SaveKey key(parent, list.subkey);
    std::vector<std::pair<std::string, std::string>> values;
    for (const NamePair& row : record.*list.member) {
      if (list.data_first) {
        values.emplace_back(row.second, row.first);
      } else {
        values.emplace_back(row.first, row.second);
      }
    }
    key.SetOrderedStrings(values);
  }
}

void LoadVirtualServers(const RegistryKey& root, const std::string& install_dir,
                        SettingsFlavor flavor, std::vector<VirtualServerConfig>* out) {
  RegistryKey list(root, kVirtualKey, true);
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

void SaveVirtualServerTo(const VirtualServerConfig& vs, SaveKey& key, SettingsFlavor flavor) {
  // Both exist before anything else is written; realms and access entries
  // are written into them at the end.
  SaveKey access(key, kAccessKey);
  SaveKey authentication(key, kAuthenticationKey);
  SaveFields(VirtualServerFields(), key, flavor, vs);
  SaveLists(VirtualServerLists(), key, vs);
  SaveRealms(vs.realms, authentication);
  SaveAccessList(vs.access_entries, access);
}

// The values of `fields` by their keys below `prefix`.
template <class Record>
void AddOwnedFields(std::span<const SettingField<Record>> fields, const std::string& prefix,
                    std::vector<OwnedKey>* out) {
  for (const SettingField<Record>& field : fields) {
    std::string path = prefix;
    if (field.section) path += (path.empty() ? "" : "\\") + std::string(field.section);
    auto it = std::find_if(out->begin(), out->end(),
                           [&](const OwnedKey& o) { return o.path == path; });
    if (it == out->end()) it = out->insert(out->end(), OwnedKey::Values(path, {}));
    it->values.push_back(field.name);
  }
}

template <class Record>
void AddOwnedLists(std::span<const SettingList<Record>> lists, const std::string& prefix,
                   std::vector<OwnedKey>* out) {
  for (const SettingList<Record>& list : lists) {
    out->push_back(OwnedKey::AllValues(prefix + (prefix.empty() ? "" : "\\") + list.subkey));
  }
}

// What the save of one virtual server owns, below `prefix` (its key).
// Every row of the table counts, also those this program does not write:
// the save is what they hold afterwards.
void AddOwnedVirtualServer(const std::string& prefix, std::vector<OwnedKey>* out) {
  AddOwnedFields(VirtualServerFields(), prefix, out);
  AddOwnedLists(VirtualServerLists(), prefix, out);
  const std::string base = prefix + (prefix.empty() ? "" : "\\");
  auto records = [&](const char* container, const std::vector<OwnedKey>& record) {
    out->push_back(OwnedKey::AllSubkeys(base + container));
    for (const OwnedKey& o : record) {
      OwnedKey key = o;
      key.path = base + container + "\\*" + (o.path.empty() ? "" : "\\" + o.path);
      out->push_back(std::move(key));
    }
  };
  records(kAuthenticationKey, RealmOwnedKeys());
  records(kAccessKey, AccessEntryOwnedKeys());
}

const std::vector<OwnedKey>& ProfileOwnedKeys() {
  static const std::vector<OwnedKey> keys = [] {
    std::vector<OwnedKey> out;
    AddOwnedFields(GlobalSettingFields(), "", &out);
    AddOwnedLists(GlobalSettingLists(), "", &out);
    out.push_back(OwnedKey::AllSubkeys(kVirtualKey));
    AddOwnedVirtualServer(std::string(kVirtualKey) + "\\*", &out);
    return out;
  }();
  return keys;
}

const std::vector<OwnedKey>& VirtualServerOwnedKeys() {
  static const std::vector<OwnedKey> keys = [] {
    std::vector<OwnedKey> out;
    AddOwnedVirtualServer("", &out);
    return out;
  }();
  return keys;
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
  platform::RegStoreHold hold;
  if (platform::reg_hold_store(platform::RegHoldMode::kShared, kRegistryWaitMs, &hold) !=
      platform::err::kSuccess)
    return false;
  RegistryKey root(platform::kHkeyLocalMachine, ProfileKeyPath(profile), true);
  if (!root.IsOpen()) return false;
  const ServerSettings def(target->install_directory, flavor);

  target->virtual_servers.clear();
  LoadFields(GlobalSettingFields(), root, flavor, def, target);
  if (target->num_threads < kMinThreads) target->num_threads = kMinThreads;
  LoadLists(GlobalSettingLists(), root, def, target);
  LoadVirtualServers(root, target->install_directory, flavor, &target->virtual_servers);
  return true;
}

bool LoadVirtualServer(VirtualServerConfig* target, RegistryKey& key,
                       const std::string& install_dir, SettingsFlavor flavor) {
  VirtualServerConfig def;
  ApplyVirtualServerDefaults(&def, install_dir);
  LoadFields(VirtualServerFields(), key, flavor, def, target);
  // Paths below the document root are joined with a separator of their own.
  target->doc_root = TrimTrailing(target->doc_root, kSep);
  LoadLists(VirtualServerLists(), key, def, target);
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
  platform::RegStoreHold hold;
  if (platform::reg_hold_store(platform::RegHoldMode::kExclusive, kRegistryWaitMs, &hold) !=
      platform::err::kSuccess)
    return false;
  RegistryKey root_key(platform::kHkeyLocalMachine, ProfileKeyPath(profile), true);
  if (!root_key.IsOpen()) return false;
  WriteSet written;
  SaveKey root(written, root_key);

  SaveFields(GlobalSettingFields(), root, flavor, settings);
  SaveLists(GlobalSettingLists(), root, settings);
  {
    SaveKey list(root, kVirtualKey);
    for (size_t i = 0; i < settings.virtual_servers.size(); ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%04d", static_cast<int>(i));
      SaveKey key(list, name);
      SaveVirtualServerTo(settings.virtual_servers[i], key, flavor);
    }
  }
  // Only a save that wrote everything may remove what it replaces.
  if (!written.ok()) return false;
  return RemoveUnwritten(written, ProfileOwnedKeys(), root_key);
}

bool SaveVirtualServer(const VirtualServerConfig& vs, RegistryKey& key, SettingsFlavor flavor) {
  WriteSet written;
  SaveKey root(written, key);
  SaveVirtualServerTo(vs, root, flavor);
  if (!written.ok()) return false;
  return RemoveUnwritten(written, VirtualServerOwnedKeys(), key);
}

bool ClearProfile(const std::string& profile) {
  platform::RegStoreHold hold;
  if (platform::reg_hold_store(platform::RegHoldMode::kExclusive, kRegistryWaitMs, &hold) !=
      platform::err::kSuccess)
    return false;
  RegistryKey root(platform::kHkeyLocalMachine, ProfileKeyPath(profile), true);
  if (!root.IsOpen()) return false;
  root.DeleteTree();
  return root.SubKeyCount() == 0;
}

}  // namespace brisvane
