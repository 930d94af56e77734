#include "engine/pages/dynamic_address.h"

#include <cstdio>

#include "engine/core/log_writer.h"
#include "platform/scoped_handle.h"
#include "platform/socket.h"

namespace brisvane {

std::string DiscoverLocalAddress(const std::string& host, uint16_t port, uint32_t timeout_ms) {
  platform::SockAddrV4 site;
  if (!platform::parse_ipv4(host, &site.addr) && !platform::resolve_host_name(host, &site.addr)) return "";
  site.port = platform::host_to_net16(port);

  platform::ScopedHandle<platform::SocketTraits> sock(platform::socket_create(true));
  if (!sock) return "";
  // Any local address and port: the system picks the route to the site.
  if (!platform::socket_bind(sock.get(), platform::SockAddrV4{})) return "";
  if (!platform::socket_connect_within(sock.get(), site, timeout_ms)) return "";
  platform::SockAddrV4 local;
  if (!platform::socket_local_address(sock.get(), &local)) return "";
  return platform::format_ipv4(local.addr);
}

bool ResolveDynamicAddress(ServerSettings* settings, const std::string& profile, EngineLogs& logs,
                           bool* changed, uint32_t timeout_ms) {
  *changed = false;
  std::string address =
      DiscoverLocalAddress(settings->bounce_site, static_cast<uint16_t>(settings->bounce_port), timeout_ms);
  if (address.empty()) {
    char line[400];
    std::snprintf(line, sizeof line, "Could not resolve dynamic IP address using bounce site %s port %d",
                  settings->bounce_site.c_str(), static_cast<int>(settings->bounce_port));
    logs.Error(line, nullptr);
    return false;
  }
  logs.Trace("Resolved dynamic IP address [" + address + "]", nullptr);
  if (!settings->dynamic_ip) return true;
  for (VirtualServerConfig& vs : settings->virtual_servers)
    if (vs.use_dynamic_ip) vs.site_ip = address;
  *changed = true;
  if (!SaveSettings(*settings, profile))
    logs.Error("Could not save the dynamic IP address to the registry profile " + profile, nullptr);
  return true;
}

}  // namespace brisvane
