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

// Longest-prefix lookup in one map: the matching prefix length when it
// beats `best`, else 0; `target` is set for a match.
size_t MapLookup(const std::vector<NamePair>& map, const std::string& url, std::string* target, size_t best) {
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

MappedUrl MapUrl(const VirtualServerConfig& c, const std::string& url) {
  MappedUrl m;
  if (url.empty()) {
    m.path = c.doc_root;
    return m;
  }
  struct MapRef {
    const std::vector<NamePair>* map;
    HandlerKind kind;
  };
  const MapRef maps[] = {{&c.redir, HandlerKind::kRedirection},
                         {&c.alias, HandlerKind::kDocument},
                         {&c.cgi_bin, HandlerKind::kStdCgi},
                         {&c.cgi_win, HandlerKind::kWinCgi},
                         {&c.isapi_ext, HandlerKind::kIsapi}};
  std::string target;
  for (const MapRef& map : maps) {
    const size_t len = MapLookup(*map.map, url, &target, m.prefix);
    if (len > m.prefix) {
      m.prefix = len;
      m.kind = map.kind;
      m.path = target;
    }
  }
  if (m.prefix == 0) {
    m.path = c.doc_root + url;
    ToPlatformSeparators(m.path);
  }
  return m;
}

bool SplitScriptPath(const std::string& physical, const std::string& url, ScriptSplit* split) {
  std::string p = physical;
  std::string u = url;
  while (!Exists(p)) {
    const size_t ps = p.rfind(kSep);
    const size_t us = u.rfind('/');
    if (ps == std::string::npos || us == std::string::npos || ps == 0) return false;
    p.resize(ps);
    u.resize(us);
  }
  split->path_info = url.substr(u.size());
  split->script_path = std::move(p);
  split->script_url = std::move(u);
  return true;
}

void ResolvePath(const VirtualServerRuntime& vs, RequestContext& ctx) {
  Mapping& m = ctx.mapping;
  const std::string& url = ctx.request.path;
  MappedUrl mapped = MapUrl(vs.config(), url);
  m = Mapping();
  m.kind = mapped.kind;
  m.physical_path = std::move(mapped.path);
  if (mapped.prefix == 0) return;
  if (m.kind == HandlerKind::kRedirection) {
    // The client's part of the target is a decoded path: every byte of it
    // that means something in a URL, or could end the header, is escaped.
    const std::string rest = url.substr(mapped.prefix);
    const std::string configured = m.physical_path.substr(0, m.physical_path.size() - rest.size());
    m.redirect_target = EscapeConfiguredTarget(configured) + EscapeForUrl(rest);
    m.physical_path = m.redirect_target;
    return;
  }
  if (!IsScriptHandler(m.kind)) return;
  // A script map: the longest prefix of the physical path that names an
  // existing file is the script; the rest of the URL is path information.
  // Unsplit, the path keeps its separators until the handler is chosen.
  m.script_url = url;
  std::string physical = m.physical_path;
  ToPlatformSeparators(physical);
  ScriptSplit split;
  if (!SplitScriptPath(physical, url, &split) || split.path_info.empty()) return;
  m.physical_path = std::move(split.script_path);
  m.script_url = std::move(split.script_url);
  m.path_info = std::move(split.path_info);
}

bool MapUrlToPhysicalPath(const RequestContext& ctx, const std::string& url, std::string* path) {
  path->clear();
  if (url.empty() || !ctx.virtual_server) return false;
  MappedUrl mapped = MapUrl(ctx.virtual_server->config(), url);
  if (mapped.kind == HandlerKind::kRedirection) return false;
  *path = std::move(mapped.path);
  ToPlatformSeparators(*path);
  return true;
}

std::string RequestHostName(const HttpMessage& req) {
  std::string host;
  if (!req.host.empty())
    host = req.host;
  else if (const std::string* h = req.Get(kHdrHost))
    host = *h;
  host = host.substr(0, host.find(':'));
  if (IsDottedAddress(host)) host.clear();
  return host;
}

const VirtualServerRuntime* SelectVirtualServer(const EngineSnapshot& snap, const HttpMessage& req) {
  if (snap.servers.empty()) return nullptr;
  const std::string host = RequestHostName(req);
  for (const auto& vs : snap.servers) {
    const VirtualServerConfig& c = vs->config();
    if (c.site_ip != req.local_address) continue;
    if (!host.empty() && !EqualsIgnoreCase(c.site_address, host)) continue;
    return vs.get();
  }
  return snap.servers.front().get();
}

}  // namespace brisvane
