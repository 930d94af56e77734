#include "engine/core/tls_sites.h"

#include <vector>

#include "engine/core/text_util.h"

namespace brisvane {
namespace {

// Key of the table for local addresses that no UseSSL server names.
constexpr char kAnyAddress[] = "";

// The servers that can present a certificate on `local_ip`, in
// configuration order.
std::vector<const VirtualServerRuntime*> Candidates(const EngineSnapshot& snap, const std::string& local_ip) {
  bool named = false;
  for (const auto& vs : snap.servers)
    named = named || (vs->config().use_ssl && vs->config().site_ip == local_ip);
  std::vector<const VirtualServerRuntime*> out;
  for (const auto& vs : snap.servers) {
    if (!vs->config().use_ssl || !vs->tls_context()) continue;
    if (named && vs->config().site_ip != local_ip) continue;
    out.push_back(vs.get());
  }
  return out;
}

std::shared_ptr<const platform::TlsServerTable> TableOf(const std::vector<const VirtualServerRuntime*>& from) {
  if (from.empty()) return nullptr;
  auto table = std::make_shared<platform::TlsServerTable>();
  table->set_default(from.front()->tls_context());
  // Backwards, so that the first of two servers with one name wins.
  for (auto it = from.rbegin(); it != from.rend(); ++it)
    table->add((*it)->config().site_address, (*it)->tls_context());
  return table;
}

}  // namespace

void BuildTlsTables(EngineSnapshot* snap) {
  snap->tls_tables.clear();
  snap->tls_tables[kAnyAddress] = TableOf(Candidates(*snap, kAnyAddress));
  for (const auto& vs : snap->servers) {
    const std::string& ip = vs->config().site_ip;
    if (vs->config().use_ssl && !snap->tls_tables.count(ip)) snap->tls_tables[ip] = TableOf(Candidates(*snap, ip));
  }
}

std::shared_ptr<const platform::TlsServerTable> TlsTableFor(const EngineSnapshot& snap,
                                                            const std::string& local_ip) {
  auto it = snap.tls_tables.find(local_ip);
  if (it == snap.tls_tables.end()) it = snap.tls_tables.find(kAnyAddress);
  return it == snap.tls_tables.end() ? nullptr : it->second;
}

const VirtualServerRuntime* PresentedServer(const EngineSnapshot& snap, const std::string& local_ip,
                                            const std::string& server_name) {
  const std::vector<const VirtualServerRuntime*> from = Candidates(snap, local_ip);
  for (const VirtualServerRuntime* vs : from)
    if (!server_name.empty() && EqualsIgnoreCase(vs->config().site_address, server_name)) return vs;
  return from.empty() ? nullptr : from.front();
}

bool AnyServerUsesTls(const ServerSettings& settings) {
  for (const VirtualServerConfig& vs : settings.virtual_servers)
    if (vs.use_ssl) return true;
  return false;
}

}  // namespace brisvane
