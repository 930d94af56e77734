// Which certificate a TLS connection is served with. Among the UseSSL
// servers whose SiteIP is the connection's local address (all UseSSL
// servers when none names it), the one whose SiteAddress is the name the
// client asked for, else the first of them: the same rule picks the
// certificate in the handshake and tells afterwards whose it was.
#pragma once

#include <memory>
#include <string>

#include "engine/core/virtual_server.h"
#include "platform/tls.h"

namespace brisvane {

// Fills snap->tls_tables from its servers' loaded certificates.
void BuildTlsTables(EngineSnapshot* snap);

// The table for a connection on `local_ip`; null when no server can answer
// there (the handshake then fails for want of a certificate).
std::shared_ptr<const platform::TlsServerTable> TlsTableFor(const EngineSnapshot& snap,
                                                            const std::string& local_ip);

// The server whose certificate a handshake on `local_ip` for `server_name`
// presented; null when none could.
const VirtualServerRuntime* PresentedServer(const EngineSnapshot& snap, const std::string& local_ip,
                                            const std::string& server_name);

// Whether the TLS listener is wanted at all.
bool AnyServerUsesTls(const ServerSettings& settings);

}  // namespace brisvane
