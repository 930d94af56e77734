#include "engine/core/virtual_server.h"

#include "engine/core/log_writer.h"
#include "engine/core/tls_sites.h"
#include "platform/file.h"
#include "platform/scoped_handle.h"

namespace brisvane {

VirtualServerRuntime::VirtualServerRuntime(const VirtualServerConfig& config, EngineLogs* logs)
    : config_(config) {
  if (config.use_ssl) {
    platform::TlsLoadError why;
    if (config.server_certificate.empty()) {
      why.reason = "no certificate file is set";
    } else {
      tls_context_ = platform::TlsContext::load(config.server_certificate, config.server_private_key, &why);
    }
    if (!tls_context_ && logs)
      logs->Error("Unable to load the certificate of virtual server \"" + config.site_address + "\" from \"" +
                      why.file + "\" - " + why.reason + ", the server has no HTTPS",
                  nullptr);
  }
  if (!config.use_error_template || config.error_template_file_name.empty()) return;
  platform::ScopedFile f(platform::file_open(config.error_template_file_name, platform::kGenericRead,
                                             platform::kShareRead, platform::kOpenExisting, 0));
  if (!f) {
    if (logs) logs->Error("Could not open error template, using default", nullptr);
    return;
  }
  char buf[8192];
  while (true) {
    int64_t n = platform::file_read(f.get(), buf, sizeof buf);
    if (n <= 0) break;
    error_template_.append(buf, static_cast<size_t>(n));
  }
  use_error_template_ = true;
}

void BuildVirtualServers(EngineSnapshot* snap, EngineLogs* logs) {
  for (const VirtualServerConfig& vs : snap->settings.virtual_servers)
    snap->servers.push_back(std::make_unique<VirtualServerRuntime>(vs, logs));
  BuildTlsTables(snap);
}

}  // namespace brisvane
