#include "engine/core/dispatch.h"

#include <cstdio>
#include <ctime>

#include "config/type_maps.h"
#include "engine/core/authorization.h"
#include "engine/core/engine.h"
#include "engine/core/http_date.h"
#include "engine/core/response_writer.h"
#include "engine/core/static_document.h"
#include "engine/core/text_util.h"
#include "engine/core/url_path.h"
#include "engine/core/virtual_server.h"
#include "engine/pages/auto_index.h"
#include "engine/pages/error_page.h"
#include "engine/pages/statistics_page.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kSep = platform::kPathSeparator;

void ToPlatformSeparators(std::string& path) {
  if (kSep == '/') return;
  for (char& c : path)
    if (c == '/') c = kSep;
}

bool IsDirectory(const std::string& path) {
  uint32_t a = platform::file_attributes(path);
  return a != platform::kInvalidAttributes && (a & platform::kAttrDirectory);
}

bool Exists(const std::string& path) {
  return platform::file_attributes(path) != platform::kInvalidAttributes;
}

bool IsDottedAddress(const std::string& text) {
  uint32_t addr;
  return platform::parse_ipv4(text, &addr);
}

// For script maps: the longest prefix of the physical path that names an
// existing file is the script; the rest of the URL is path information.
void SplitScript(HttpMessage& resp, const std::string& url) {
  std::string physical = resp.physical_path;
  ToPlatformSeparators(physical);
  resp.script_url = url;
  resp.path_info.clear();
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
      resp.physical_path = p;
      resp.script_url = u;
      resp.path_info = url.substr(us);
      return;
    }
  }
}

int HandlerNotAvailable(Engine& engine, RequestContext& ctx, const std::string& type) {
  RespondError(ctx, 501);
  engine.logs().Error("No handler for " + type + " in this server", &ctx);
  return kStageStop;
}

// The three script handlers never run a directory, and their responses
// end the connection.
bool ScriptGuard(Engine& engine, RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  if (IsDirectory(resp.physical_path)) {
    RespondError(ctx, 404);
    engine.logs().Error("Can not execute a directory: " + resp.physical_path, &ctx);
    return false;
  }
  if (resp.version >= kHttp11)
    resp.Set(kHdrConnection, "close");
  else
    resp.Clear(kHdrConnection);
  return true;
}

// The query as it goes after "?" in a Location: its "&" and "=" keep their
// meaning, its unsafe bytes do not pass raw.
std::string QuerySuffix(const std::string& query) {
  return query.empty() ? std::string() : "?" + EscapeUrlUnsafeBytes(query);
}

// A configured target is a URL already: its path part is escaped as the
// old targets always were, and a query in it keeps its "?" and "&".
std::string EscapeConfiguredTarget(const std::string& target) {
  size_t q = target.find('?');
  std::string url = EscapeForUrl(target.substr(0, q));
  if (q != std::string::npos) url += EscapeUrlUnsafeBytes(target.substr(q));
  return url;
}

// The "URL=" value of the "[InternetShortcut]" section of a ".url" file, or
// "" when it has none. Lines end at CR or LF alone too, so no line break can
// hide inside the value.
std::string InternetShortcutUrl(std::string_view text) {
  bool in_section = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line = TrimBoth(TrimBoth(text.substr(pos, end - pos), '\t'), ' ');
    pos = end + 1;
    if (!line.empty() && line.front() == '[') {
      in_section = EqualsIgnoreCase(line, "[InternetShortcut]");
      continue;
    }
    size_t eq = line.find('=');
    if (!in_section || eq == std::string::npos) continue;
    if (!EqualsIgnoreCase(TrimBoth(std::string_view(line).substr(0, eq), ' '), "URL")) continue;
    return TrimBoth(std::string_view(line).substr(eq + 1), ' ');
  }
  return std::string();
}

// Shortcut files are small; a larger one is not read at all.
constexpr size_t kMaxShortcutSize = 65536;

// A ".url" document sends the client to the URL it holds; its own path on
// disk is never shown.
int RedirectByShortcut(Engine& engine, RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  if (resp.body.kind() != MessageBody::kExistingFile) resp.body.UseExistingFile(resp.physical_path);
  std::string text;
  std::string url;
  if (resp.body.ReadInline(&text, kMaxShortcutSize)) url = InternetShortcutUrl(text);
  if (url.empty()) {
    RespondError(ctx, 500);
    engine.logs().Error("No URL in Internet Shortcut \"" + resp.physical_path + "\"", &ctx);
    return kStageStop;
  }
  RespondError(ctx, 302);
  resp.Clear(kHdrContentType);
  resp.Set(kHdrLocation, EscapeUrlUnsafeBytes(url));
  return kStageDone;
}

// The physical path of a redirection already holds the escaped target
// (see ResolvePath and the directory redirect).
int Redirect(Engine& engine, RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  if (resp.map_kind != kMapRedirection) return RedirectByShortcut(engine, ctx);
  std::string location = resp.physical_path;
  RespondError(ctx, 302);
  resp.Clear(kHdrContentType);
  resp.Set(kHdrLocation, location);
  return kStageDone;
}

int SpecialUrls(RequestContext& ctx) {
  if (ctx.proxy) return kStageDecline;
  if (ctx.request.path == "/~stats") {
    ctx.response.Set(kHdrContentType, "wwwserver/stats");
    return kStageDone;
  }
  if (ctx.request.path == "/~admin") {
    ctx.response.Set(kHdrContentType, "wwwserver/admin");
    return kStageDone;
  }
  return kStageDecline;
}

// Chooses the handler type, held in the response's Content-Type entry.
int MapHandlerType(Engine& engine, const EngineSnapshot& snap, const VirtualServerRuntime& vs,
                   RequestContext& ctx) {
  HttpMessage& req = ctx.request;
  HttpMessage& resp = ctx.response;
  if (ctx.proxy) {
    resp.Set(kHdrContentType, "wwwserver/proxy");
    return kStageDone;
  }
  if (resp.physical_path.empty()) {
    RespondError(ctx, 400);
    engine.logs().Error("Bad URL in request", &ctx);
    return kStageStop;
  }
  if (resp.map_kind == kMapRedirection) {
    resp.Set(kHdrContentType, "wwwserver/redirection");
    resp.physical_path += QuerySuffix(req.query);
    return kStageDone;
  }
  ToPlatformSeparators(resp.physical_path);
  platform::FileHandle probe = platform::kInvalidFile;
  if (req.method != kMethodPut) {
    platform::FileHandle f = platform::file_open(
        resp.physical_path, platform::kGenericRead,
        platform::kShareRead | platform::kShareWrite | platform::kShareDelete, platform::kOpenExisting, 0);
    if (f == platform::kInvalidFile) {
      unsigned code = platform::last_error();
      if (code == 1) {
        std::string text = platform::error_message(code);
        RespondError(ctx, 500, text.c_str());
        engine.logs().Error("Error reading \"" + resp.physical_path + "\" - " + text, &ctx);
      } else {
        RespondFileError(engine, ctx, "reading", resp.physical_path, code);
      }
      return kStageStop;
    }
    probe = f;
  }
  // A document keeps the handle the check opened; everything else closes it.
  struct ProbeGuard {
    platform::FileHandle& f;
    ~ProbeGuard() {
      if (f != platform::kInvalidFile) platform::file_close(f);
    }
  } guard{probe};
  switch (resp.map_kind) {
    case kMapStdCgi:
      resp.Set(kHdrContentType, "wwwserver/stdcgi");
      return kStageDone;
    case kMapWinCgi:
      resp.Set(kHdrContentType, "wwwserver/wincgi");
      return kStageDone;
    case kMapIsapi:
      resp.Set(kHdrContentType, "wwwserver/isapi");
      return kStageDone;
    case kMapDocument:
      break;
    default:
      RespondError(ctx, 500);
      engine.logs().Error("Bad map type: " + resp.physical_path, &ctx);
      return kStageStop;
  }
  platform::FileInfo info;
  bool have_info = probe != platform::kInvalidFile && platform::file_info(probe, &info);
  bool directory = have_info ? (info.attributes & platform::kAttrDirectory) != 0
                             : IsDirectory(resp.physical_path);
  if (directory) {
    if (resp.physical_path.back() != kSep) {
      std::string target = "http://" + vs.config().site_address;
      if (snap.settings.port != 80) {
        target.push_back(':');
        target.append(std::to_string(snap.settings.port));
      }
      resp.physical_path = EscapeUrlUnsafeBytes(target) + EscapeForUrl(req.path + "/") + QuerySuffix(req.query);
      resp.map_kind = kMapRedirection;
      resp.Set(kHdrContentType, "wwwserver/redirection");
      return kStageDone;
    }
    std::string found;
    const std::string& list = vs.config().default_index;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find_first_of(",;", start);
      if (end == std::string::npos) end = list.size();
      std::string name = TrimBoth(std::string_view(list).substr(start, end - start), ' ');
      if (name.empty()) break;
      if (Exists(resp.physical_path + name)) {
        found = name;
        break;
      }
      start = end + 1;
    }
    if (found.empty()) {
      if ((vs.config().auto_index & 1) && ctx.auth.listing_allowed) {
        resp.Set(kHdrContentType, "wwwserver/autoindex");
        return kStageDone;
      }
      RespondError(ctx, 404);
      engine.logs().Error("Default file not found: " + resp.physical_path, &ctx);
      return kStageStop;
    }
    resp.physical_path += found;
    req.path += found;
  } else if (have_info) {
    resp.body.UseOpenExistingFile(resp.physical_path, probe, info);
    probe = platform::kInvalidFile;
  }
  resp.Set(kHdrContentType, MimeTypeFor(snap.settings.type_map, resp.physical_path));
  return kStageDone;
}

int RunHandler(Engine& engine, RequestContext& ctx) {
  const std::string* t = ctx.response.Get(kHdrContentType);
  std::string type = t ? *t : std::string();
  if (type == "wwwserver/admin") {
    RespondError(ctx, 501);
    return kStageStop;
  }
  if (type == "wwwserver/autoindex") return ServeDirectoryListing(engine, ctx);
  if (type == "wwwserver/isapi" || type == "wwwserver/stdcgi" || type == "wwwserver/wincgi") {
    if (!ScriptGuard(engine, ctx)) return kStageStop;
    return HandlerNotAvailable(engine, ctx, type);
  }
  if (type == "wwwserver/proxy" && ctx.proxy) {
    RespondError(ctx, 501, "This version does not handle proxy requests");
    return kStageStop;
  }
  if (type == "wwwserver/redirection") return Redirect(engine, ctx);
  if (type == "wwwserver/stats") return ServeStatisticsPage(engine, ctx);
  return ServeStaticDocument(engine, ctx);
}

// Access control stages (engine/core/authorization.h).
int ParseAuthorization(Engine& engine, RequestContext& ctx) {
  return ParseAuthorizationHeader(engine.logs(), ctx);
}
int AuthorizeRequest(Engine& engine, RequestContext& ctx) {
  return AuthorizeBySecurityType(engine.logs(), ctx);
}

void Dispatch(Engine& engine, const EngineSnapshot& snap, const VirtualServerRuntime& vs,
              RequestContext& ctx) {
  // Restarts are bounded so that a misbehaving stage cannot spin forever.
  for (int round = 0; round < 16; ++round) {
    ResolvePath(snap, vs, ctx);
    ctx.auth.Reset();
    int r = ParseAuthorization(engine, ctx);
    if (r == kStageStop) return;
    if (r == kStageRestart) continue;
    r = AuthorizeRequest(engine, ctx);
    if (r == kStageStop) return;
    if (r == kStageRestart) continue;
    r = SpecialUrls(ctx);
    if (r == kStageDecline) r = MapHandlerType(engine, snap, vs, ctx);
    if (r == kStageStop) return;
    if (r == kStageRestart) continue;
    r = RunHandler(engine, ctx);
    if (r == kStageStop) return;
    if (r == kStageRestart) continue;
    FinishResponse(engine, ctx);
    return;
  }
  RespondError(ctx, 500);
}

}  // namespace

size_t MapLookup(const std::vector<NamePair>& map, const std::string& url, std::string* target,
                 size_t best) {
  size_t found = 0;
  for (const NamePair& entry : map) {
    const std::string& prefix = entry.first;
    if (prefix.size() <= best || prefix.size() <= found || prefix.size() > url.size()) continue;
    if (!EqualsIgnoreCase(std::string_view(url).substr(0, prefix.size()), prefix)) continue;
    if (url.size() != prefix.size() && url[prefix.size()] != '/') continue;
    *target = entry.second + url.substr(prefix.size());
    found = prefix.size();
  }
  return found;
}

void ResolvePath(const EngineSnapshot&, const VirtualServerRuntime& vs, RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  const VirtualServerConfig& c = vs.config();
  const std::string& url = ctx.request.path;
  resp.script_url.clear();
  resp.path_info.clear();
  if (url.empty()) {
    resp.physical_path = c.doc_root;
    resp.map_kind = kMapDocument;
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
  int kind = kMapNone;
  std::string target;
  for (const MapRef& m : maps) {
    size_t len = MapLookup(*m.map, url, &target, best);
    if (len > best) {
      best = len;
      kind = m.kind;
      resp.physical_path = target;
    }
  }
  if (kind == kMapRedirection) {
    // The client's part of the target is a decoded path: every byte of it
    // that means something in a URL, or could end the header, is escaped.
    std::string configured = resp.physical_path.substr(0, resp.physical_path.size() - (url.size() - best));
    resp.physical_path = EscapeConfiguredTarget(configured) + EscapeForUrl(url.substr(best));
  }
  if (best == 0) {
    resp.physical_path = c.doc_root + url;
    ToPlatformSeparators(resp.physical_path);
    kind = kMapDocument;
  }
  resp.map_kind = kind;
  if (kind == kMapStdCgi || kind == kMapWinCgi || kind == kMapIsapi) SplitScript(resp, url);
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

bool Admit(Engine& engine, RequestContext& ctx) {
  HttpMessage& req = ctx.request;
  HttpMessage& resp = ctx.response;
  const ServerSettings& s = ctx.snapshot->settings;
  resp.Set(kHdrDate, FormatHttpDate(static_cast<int64_t>(std::time(nullptr))));
  resp.Set(kHdrServer, s.send_version_info ? "Brisvane/2.10" : "Brisvane");
  uint32_t limit = static_cast<uint32_t>((static_cast<uint64_t>(s.num_threads) * 15) / 16);
  if (engine.current_clients().load() >= limit) {
    engine.set_overloaded(true);
    RespondError(ctx, 503, "Server overloaded");
    engine.logs().Error("Server overloaded, rejected request", nullptr);
    return false;
  }
  engine.set_overloaded(false);
  if (!engine.available()) {
    RespondError(ctx, 503, "Server not available");
    return false;
  }
  if (req.scheme != "http" || (req.absolute && req.version < kHttp11)) {
    ctx.proxy = true;
    return true;
  }
  if (req.version == kHttp09 || req.version == kHttp10 || req.version == kHttp11) {
    resp.version = req.version;
  } else {
    resp.version = kHttp10;
    engine.logs().Error("Bad HTTP Version or Corrupted Request, assuming HTTP/1.0", &ctx);
  }
  if (resp.version == kHttp09 && req.method != kMethodGet) {
    RespondError(ctx, 400, "Invalid HTTP/0.9 method");
    engine.logs().Error("Invalid HTTP/0.9 method", &ctx);
    return false;
  }
  if (req.method == kMethodUnknown) {
    RespondError(ctx, 501, "Method not implemented");
    engine.logs().Error("Unknown method", &ctx);
    return false;
  }
  return true;
}

namespace {

bool RunPipeline(Engine& engine, RequestContext& ctx) {
  if (!ctx.request.parsed) return false;
  if (!Admit(engine, ctx)) return true;
  if (const char* refusal = UrlRefusal(ctx.request.path)) {
    RespondError(ctx, 400);
    engine.logs().Error(refusal, &ctx);
    return true;
  }
  const EngineSnapshot& snap = *ctx.snapshot;
  std::string host = ctx.request.host;
  if (host.empty())
    if (const std::string* h = ctx.request.Get(kHdrHost)) host = *h;
  if (ctx.request.version >= kHttp11 && host.empty()) {
    engine.logs().Error("No host specified", &ctx);
    RespondError(ctx, 400, "No Host Specified");
    return true;
  }
  const VirtualServerRuntime* vs = SelectVirtualServer(snap, ctx.request);
  if (!vs) {
    RespondError(ctx, 503, "No virtual server configured");
    return true;
  }
  ctx.virtual_server = vs;
  Dispatch(engine, snap, *vs, ctx);
  return true;
}

}  // namespace

bool ProcessRequest(Engine& engine, RequestContext& ctx) {
  if (!RunPipeline(engine, ctx)) return false;
  // Whatever answered, refusals included: a body after HEAD would be read
  // as the start of the next response on a kept connection.
  DropBodyForHead(ctx);
  return true;
}

}  // namespace brisvane
