#include "config/foreign_export.h"

#include <cstdint>

#include "config/registry_key.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kDefaultRealm[] = "Web Server";

void CreateEmpty(const RegistryKey& root, const char* path) { RegistryKey key(root, path, true); }

}  // namespace

bool ExportForeignConfiguration(const ServerSettings& s, const std::string& image_path) {
  if (s.virtual_servers.empty()) return false;
  const VirtualServerConfig& vs = s.virtual_servers.front();
  RegistryKey root(platform::kHkeyLocalMachine, kForeignRoot, true);
  root.SetString("AnonUserName", vs.anon_user_name);
  const uint8_t zero[4] = {0, 0, 0, 0};
  root.SetBinary("RevNumber", zero);
  root.SetString("ServerAdmin", vs.admin_email);
  root.SetString("ServerName", vs.site_address);
  root.SetString("ServerRoot", s.install_directory);
  // The foreign server reads its port as four little-endian bytes.
  const uint8_t port[4] = {static_cast<uint8_t>(s.port), static_cast<uint8_t>(s.port >> 8),
                           static_cast<uint8_t>(s.port >> 16), static_cast<uint8_t>(s.port >> 24)};
  root.SetBinary("TCP Port", port);
  // In the order the foreign layout lists them.
  {
    RegistryKey access(root, "Access\\Basic", true);
    access.SetString("DefaultRealm", kDefaultRealm);
  }
  CreateEmpty(root, "Access\\Basic\\/");
  {
    RegistryKey assoc(root, "AssocMap", true);
    for (const NamePair& p : s.assoc_map) assoc.SetString(p.first.c_str(), p.second);
  }
  {
    RegistryKey auth(root, "Authentication\\Basic", true);
    auth.SetString("DefaultRealm", kDefaultRealm);
  }
  for (const char* path : {"Authentication\\Basic\\Web Server\\Groups",
                           "Authentication\\Basic\\Web Server\\Users", "CGI", "ConsExeMap"})
    CreateEmpty(root, path);
  {
    RegistryKey index(root, "DirIndex", true);
    index.SetString("IndexDoc", vs.default_index);
  }
  {
    RegistryKey docs(root, "DocMap", true);
    docs.SetString("/", vs.doc_root);
  }
  for (const char* path :
       {"ImageMaps", "Java", "Logs", "MultiHome\\AdminEmail", "MultiHome\\AnonAccount",
        "MultiHome\\Certificate", "MultiHome\\HostName", "MultiHome\\TransferLog",
        "MultiHome\\URLPrefix", "PostProc", "RedirMap", "ShellExeMap"})
    CreateEmpty(root, path);
  {
    // The type map holds (type, ending); the foreign map is keyed by ending.
    RegistryKey types(root, "TypeMap", true);
    for (const NamePair& p : s.type_map) types.SetString(p.second.c_str(), p.first);
  }
  CreateEmpty(root, "WinExeMap");
  RegistryKey service(platform::kHkeyLocalMachine, kForeignServiceKey, true);
  std::string image = image_path.empty() ? platform::executable_path() : image_path;
  if (image.size() > 259) image.resize(259);
  service.SetString("ImagePath", image);
  return true;
}

}  // namespace brisvane
