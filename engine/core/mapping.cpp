#include "engine/core/mapping.h"

#include "config/server_settings.h"
#include "engine/core/text_util.h"
#include "engine/core/virtual_server.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kSep = platform::kPathSeparator;

bool Exists(const std::string& path) {
  return platform::file_attributes(path) != platform::kInvalidAttributes;
}

bool IsDottedAddress(const std::string& text) {
  uint32_t addr;
  return platform::parse_ipv4(text, &addr);
}

// For script maps: the longest prefix of the physical path that names an
// existing file is the script; the rest of the URL is path information.
void SplitScript(Mapping& m, const std::string& url) {
  std::string physical = m.physical_path;
  ToPlatformSeparators(physical);
  m.script_url = url;
  m.path_info.clear();
  if (Exists(physical)) return;
  std::string p = physical;
  std::string u = url;
  while (true) {
    size_t ps = p.rfind(kSep);
    size_t us = u.rfind('/');
    if (ps == std::string::npos || us == std::string::npos || ps == 0) return;  // unsplit
    p.resize(ps);
    u.resize(us);
    if (Exists(p)) {
      m.physical_path = p;
      m.script_url = u;
      m.path_info = url.substr(us);
      return;
    }
  }
}

// A configured target is a URL already: its path part is escaped as the
// old targets always were, and a query in it keeps its "?" and "&".
std::string EscapeConfiguredTarget(const std::string& target) {
  size_t q = target.find('?');
  std::string url = EscapeForUrl(target.substr(0, q));
  if (q != std::string::npos) url += EscapeUrlUnsafeBytes(target.substr(q));
  return url;
}

}  // namespace

void ToPlatformSeparators(std::string& path) {
  if (kSep == '/') return;
  for (char& c : path)
    if (c == '/') c = kSep;
}

size_t MapLookup(const std::vector<NamePair>& map, const std::string& url, std::string* target,
                 size_t best) {
  size_t found = 0;
  for (const NamePair& entry : map) {
    const std::string& prefix = entry.first;
    if (prefix.size() <= best || prefix.size() <= found || prefix.size() > url.size()) continue;
    if (!StartsWithIgnoreCase(url, prefix)) continue;
    if (url.size() != prefix.size() && url[prefix.size()] != '/') continue;
    *target = entry.second + url.substr(prefix.size());
    found = prefix.size();
  }
  return found;
}

void ResolvePath(const VirtualServerRuntime& vs, RequestContext& ctx) {
  Mapping& m = ctx.mapping;
  const VirtualServerConfig& c = vs.config();
  const std::string& url = ctx.request.path;
  m = Mapping();
  if (url.empty()) {
    m.physical_path = c.doc_root;
    m.kind = kMapDocument;
    return;
  }
  struct MapRef {
    const std::vector<NamePair>* map;
    int kind;
  };
  const MapRef maps[] = {{&c.redir, kMapRedirection},
                         {&c.alias, kMapDocument},
                         {&c.cgi_bin, kMapStdCgi},
                         {&c.cgi_win, kMapWinCgi},
                         {&c.isapi_ext, kMapIsapi}};
  size_t best = 0;
  std::string target;
  for (const MapRef& map : maps) {
    size_t len = MapLookup(*map.map, url, &target, best);
    if (len > best) {
      best = len;
      m.kind = map.kind;
      m.physical_path = target;
    }
  }
  if (best == 0) {
    m.physical_path = c.doc_root + url;
    ToPlatformSeparators(m.physical_path);
    m.kind = kMapDocument;
    return;
  }
  if (m.kind == kMapRedirection) {
    // The client's part of the target is a decoded path: every byte of it
    // that means something in a URL, or could end the header, is escaped.
    std::string configured = m.physical_path.substr(0, m.physical_path.size() - (url.size() - best));
    m.redirect_target = EscapeConfiguredTarget(configured) + EscapeForUrl(url.substr(best));
    m.physical_path = m.redirect_target;
  }
  if (m.kind == kMapStdCgi || m.kind == kMapWinCgi || m.kind == kMapIsapi) SplitScript(m, url);
}

const VirtualServerRuntime* SelectVirtualServer(const EngineSnapshot& snap, const HttpMessage& req) {
  if (snap.servers.empty()) return nullptr;
  std::string host;
  if (!req.host.empty())
    host = req.host;
  else if (const std::string* h = req.Get(kHdrHost))
    host = *h;
  host = host.substr(0, host.find(':'));
  if (IsDottedAddress(host)) host.clear();
  for (const auto& vs : snap.servers) {
    const VirtualServerConfig& c = vs->config();
    if (c.site_ip != req.local_address) continue;
    if (!host.empty() && !EqualsIgnoreCase(c.site_address, host)) continue;
    return vs.get();
  }
  return snap.servers.front().get();
}

}  // namespace brisvane
