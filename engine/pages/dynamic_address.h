// The machine's public address, learnt from an outside "bounce site": the
// engine connects to it and reads back the local address the system chose
// for that connection. No byte is sent or received.
#pragma once

#include <cstdint>
#include <string>

#include "config/server_settings.h"

namespace brisvane {

class EngineLogs;

// How long the bounce site may take to accept. The engine's control thread
// waits for it, so a site that never answers must not hold it for long.
inline constexpr uint32_t kBounceConnectTimeoutMs = 4000;

// The local IPv4 address of a connection to `host` (a name or a dotted
// address) on `port`, as dotted text; "" when the name does not resolve or
// the connection is not made within `timeout_ms`.
std::string DiscoverLocalAddress(const std::string& host, uint16_t port,
                                 uint32_t timeout_ms = kBounceConnectTimeoutMs);

// Discovers the address through the settings' BounceSite and BouncePort
// and traces it. With DynamicIP on, it becomes the SiteIP of every virtual
// server whose UseDynamicIP is on, and the settings are saved under
// `profile`; `*changed` then tells the caller to use the new settings. On
// failure the error line names the site and nothing changes. Returns
// whether an address was found.
bool ResolveDynamicAddress(ServerSettings* settings, const std::string& profile, EngineLogs& logs,
                           bool* changed, uint32_t timeout_ms = kBounceConnectTimeoutMs);

}  // namespace brisvane
