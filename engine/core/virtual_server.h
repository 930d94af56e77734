// The run-time form of the configuration: one immutable snapshot of the
// settings and the virtual servers built from them. Start and Flush build a
// new snapshot; requests hold the one they started with.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/server_settings.h"
#include "platform/tls.h"

namespace brisvane {

class EngineLogs;

class VirtualServerRuntime {
 public:
  // Loads the error template when the configuration asks for one; a file
  // that cannot be opened switches this server to the built-in page. With
  // UseSSL, loads the certificate too: one that cannot be loaded is an
  // error line naming the server, the file and the reason, and the server
  // then has no TLS.
  VirtualServerRuntime(const VirtualServerConfig& config, EngineLogs* logs);

  const VirtualServerConfig& config() const { return config_; }
  const std::string& error_template() const { return error_template_; }
  bool use_error_template() const { return use_error_template_; }
  // Null unless UseSSL is on and the certificate loaded.
  const std::shared_ptr<platform::TlsContext>& tls_context() const { return tls_context_; }

 private:
  const VirtualServerConfig& config_;
  std::string error_template_;
  bool use_error_template_ = false;
  std::shared_ptr<platform::TlsContext> tls_context_;
};

struct EngineSnapshot {
  ServerSettings settings;
  std::vector<std::unique_ptr<VirtualServerRuntime>> servers;
  // What a handshake chooses its certificate from, by SiteIP; "" for the
  // local addresses that no UseSSL server names. Built with the servers.
  std::map<std::string, std::shared_ptr<const platform::TlsServerTable>> tls_tables;
};

// Builds the servers of `snap->settings` (certificates loaded) and their
// TLS tables: what Start, Flush and a new public address all do.
void BuildVirtualServers(EngineSnapshot* snap, EngineLogs* logs);

}  // namespace brisvane
