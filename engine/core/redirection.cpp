#include "engine/core/redirection.h"

#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "engine/core/text_util.h"
#include "engine/core/virtual_server.h"

namespace brisvane {
namespace {

// Shortcut files are small; a larger one is not read at all.
constexpr size_t kMaxShortcutSize = 65536;

constexpr uint32_t kHttpDefaultPort = 80;
constexpr uint32_t kHttpsDefaultPort = 443;

bool IsHostNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool IsAddressLiteralByte(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' || c == '.';
}

// The host the client asked for (the absolute URL's, else the "Host"
// header's) without its port, or "" when there is none or it is not a
// plain name or address: whatever else a client puts there must not
// steer the Location to another place.
std::string RequestedHost(const HttpMessage& req) {
  std::string_view host = req.host;
  const std::string* header = req.Get(kHdrHost);
  if (host.empty() && header) host = *header;
  if (host.empty()) return std::string();
  if (host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos || close < 2) return std::string();
    for (char c : host.substr(1, close - 1))
      if (!IsAddressLiteralByte(c)) return std::string();
    return std::string(host.substr(0, close + 1));
  }
  host = host.substr(0, host.find(':'));
  for (char c : host)
    if (!IsHostNameByte(c)) return std::string();
  return std::string(host);
}

void RespondRedirect(RequestContext& ctx, const std::string& location) {
  RespondError(ctx, 302);
  ctx.response.Clear(kHdrContentType);
  ctx.response.Set(kHdrLocation, location);
}

// A ".url" document sends the client to the URL it holds.
StageResult RedirectByShortcut(RequestServices& services, RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  const std::string& path = ctx.mapping.physical_path;
  if (!resp.body.IsDocument(path)) resp.body.OpenDocument(path);
  std::string text;
  std::string url;
  if (BodyReader(resp.body).ReadAll(&text, kMaxShortcutSize)) url = InternetShortcutUrl(text);
  if (url.empty()) {
    RespondError(ctx, 500);
    services.logs.Error("No URL in Internet Shortcut \"" + path + "\"", &ctx);
    return kStageStop;
  }
  RespondRedirect(ctx, EscapeUrlUnsafeBytes(url));
  return kStageDone;
}

}  // namespace

// Lines end at CR or LF alone too, so no line break can hide inside the value.
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


std::string LocationQuerySuffix(const std::string& query) {
  return query.empty() ? std::string() : "?" + EscapeUrlUnsafeBytes(query);
}

std::string LocationOnThisServer(const RequestContext& ctx, std::string_view host, bool secure,
                                 const std::string& path) {
  const ServerSettings& settings = ctx.snapshot->settings;
  const uint32_t port = secure ? settings.ssl_port : settings.port;
  std::string origin = (secure ? "https://" : "http://") + std::string(host);
  if (port != (secure ? kHttpsDefaultPort : kHttpDefaultPort)) origin += ":" + std::to_string(port);
  return EscapeUrlUnsafeBytes(origin) + EscapeForUrl(path) + LocationQuerySuffix(ctx.request.query);
}

bool RedirectToSecureListener(RequestContext& ctx) {
  const VirtualServerConfig& config = ctx.virtual_server->config();
  // A proxy request names another server; it is refused as before.
  if (ctx.secure || ctx.proxy || !config.use_ssl || !config.redirect_to_ssl) return false;
  std::string host = RequestedHost(ctx.request);
  if (host.empty()) host = config.site_address;
  const std::string location = LocationOnThisServer(ctx, host, true, ctx.request.path);
  RespondError(ctx, 301, "Moved Permanently");
  ctx.response.Set(kHdrLocation, location);
  return true;
}

StageResult ServeRedirection(RequestServices& services, RequestContext& ctx) {
  if (ctx.mapping.kind != HandlerKind::kRedirection) return RedirectByShortcut(services, ctx);
  // The target was escaped when it was mapped.
  RespondRedirect(ctx, ctx.mapping.redirect_target);
  return kStageDone;
}

}  // namespace brisvane
