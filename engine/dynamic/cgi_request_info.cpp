#include "engine/dynamic/cgi_request_info.h"

#include <cstdio>

#include "base/product.h"
#include "base/text.h"
#include "config/server_settings.h"
#include "config/type_maps.h"
#include "engine/core/mapping.h"
#include "engine/core/virtual_server.h"

namespace brisvane {
namespace {

std::string HeaderValue(const HttpMessage& m, int index) {
  const std::string* v = m.Get(index);
  return v ? *v : std::string();
}

std::string HttpVariableName(std::string_view header) {
  std::string name = "HTTP_";
  for (char c : header) name += c == '-' ? '_' : UpperAscii(c);
  return name;
}

// Every header of the request that the engine's table knows, one line each.
std::string AllHeaders(const HttpMessage& req, bool raw) {
  std::string out;
  for (int i = 1; i < kHeaderCount; ++i) {
    const std::string* v = req.Get(i);
    if (!v) continue;
    out += raw ? std::string(HeaderName(i)) : HttpVariableName(HeaderName(i));
    out += ": " + *v + "\r\n";
  }
  return out;
}

std::string Protocol(uint32_t version) {
  char text[32];
  std::snprintf(text, sizeof text, "HTTP/%1d.%1d", static_cast<int>(version / 256),
                static_cast<int>(version % 256));
  return text;
}

std::string AuthenticatedUser(const RequestContext& ctx) {
  return ctx.auth.authenticated ? ctx.auth.user : std::string();
}

// The listeners' ports when no settings are at hand.
constexpr uint32_t kDefaultPort = 80;
constexpr uint32_t kDefaultSslPort = 443;

// The port of the listener the request came in on: scripts build their own
// URLs from it.
uint32_t ListenerPort(const RequestContext& ctx, const ServerSettings* settings) {
  if (!settings) return ctx.secure ? kDefaultSslPort : kDefaultPort;
  return ctx.secure ? settings->ssl_port : settings->port;
}

}  // namespace

bool LookupServerVariable(const RequestContext& ctx, std::string_view name, std::string* out) {
  out->clear();
  const HttpMessage& req = ctx.request;
  const ServerSettings* settings = ctx.snapshot ? &ctx.snapshot->settings : nullptr;
  const VirtualServerConfig* vs = ctx.virtual_server ? &ctx.virtual_server->config() : nullptr;
  if (name == "ALL_HTTP") *out = AllHeaders(req, false);
  else if (name == "ALL_RAW") *out = AllHeaders(req, true);
  else if (name == "AUTH_PASSWORD") *out = ctx.auth.password;
  else if (name == "AUTH_TYPE") *out = ctx.auth.auth_type;
  else if (name == "AUTH_USER" || name == "REMOTE_USER") *out = AuthenticatedUser(ctx);
  else if (name == "DOCUMENT_ROOT") *out = vs ? vs->doc_root : std::string();
  else if (name == "CONTENT_LENGTH") *out = std::to_string(req.body.Size());
  else if (name == "CONTENT_TYPE") *out = HeaderValue(req, kHdrContentType);
  else if (name == "HTTP_ACCEPT") *out = HeaderValue(req, kHdrAccept);
  else if (name == "HTTP_AUTHORIZATION") *out = HeaderValue(req, kHdrAuthorization);
  else if (name == "HTTP_COOKIE") *out = HeaderValue(req, kHdrCookie);
  else if (name == "HTTP_HOST") *out = HeaderValue(req, kHdrHost);
  else if (name == "HTTP_REFERER") *out = HeaderValue(req, kHdrReferer);
  else if (name == "HTTP_USER_AGENT" || name == "HTTP_USERAGENT") *out = HeaderValue(req, kHdrUserAgent);
  else if (name == "PATH_INFO") *out = ctx.mapping.path_info;
  else if (name == "PATH_TRANSLATED") {
    if (!ctx.mapping.path_info.empty()) MapUrlToPhysicalPath(ctx, ctx.mapping.path_info, out);
  }
  else if (name == "QUERY_STRING") *out = req.query;
  else if (name == "REMOTE_ADDR") *out = req.remote_address;
  else if (name == "REMOTE_HOST") *out = req.remote_host;
  else if (name == "REQUEST_METHOD") *out = req.method_name;
  else if (name == "SCRIPT_NAME") *out = ctx.mapping.script_url;
  else if (name == "SERVER_NAME") *out = vs ? vs->site_address : std::string();
  else if (name == "SERVER_PORT") *out = std::to_string(ListenerPort(ctx, settings));
  else if (name == "SERVER_PORT_SECURE") *out = ctx.secure ? "1" : "0";
  // Known only over TLS: over plain HTTP an extension that asks is told the
  // name is unknown, exactly as before the server spoke TLS.
  else if (name == "HTTPS" && ctx.secure) *out = "on";
  else if (name == "SERVER_PROTOCOL") *out = Protocol(req.version);
  else if (name == "SERVER_SOFTWARE") *out = kProductNameVersion;
  else if (name == "URL") *out = req.path;
  else return false;
  return true;
}

void FillCgiRequestInfo(const RequestContext& ctx, CgiRequestInfo* info) {
  *info = CgiRequestInfo();
  const ServerSettings& settings = ctx.snapshot->settings;
  info->timeout_ms = settings.cgi_timeout;
  info->debug_mode = settings.cgi_debug_mode;
  info->ssi_secure = settings.process_ssi_secure;
  if (ctx.virtual_server) {
    info->server_admin = ctx.virtual_server->config().admin_email;
    info->document_root = ctx.virtual_server->config().doc_root;
  }
  info->document_url = ctx.request.path;
  info->document_path = ctx.mapping.physical_path;
  info->script_filename = ctx.mapping.physical_path;
  struct Field {
    const char* name;
    std::string CgiRequestInfo::*field;
  };
  static const Field kFields[] = {
      {"AUTH_TYPE", &CgiRequestInfo::auth_type},           {"CONTENT_LENGTH", &CgiRequestInfo::content_length},
      {"CONTENT_TYPE", &CgiRequestInfo::content_type},     {"PATH_INFO", &CgiRequestInfo::path_info},
      {"PATH_TRANSLATED", &CgiRequestInfo::path_translated}, {"QUERY_STRING", &CgiRequestInfo::query_string},
      {"REMOTE_ADDR", &CgiRequestInfo::remote_addr},       {"REMOTE_HOST", &CgiRequestInfo::remote_host},
      {"REMOTE_USER", &CgiRequestInfo::remote_user},       {"REQUEST_METHOD", &CgiRequestInfo::request_method},
      {"SCRIPT_NAME", &CgiRequestInfo::script_name},       {"SERVER_NAME", &CgiRequestInfo::server_name},
      {"SERVER_PORT", &CgiRequestInfo::server_port},       {"SERVER_PROTOCOL", &CgiRequestInfo::server_protocol},
      {"SERVER_SOFTWARE", &CgiRequestInfo::server_software}};
  for (const Field& f : kFields) LookupServerVariable(ctx, f.name, &(info->*f.field));
  LookupServerVariable(ctx, "HTTPS", &info->https);
  info->remote_ident.clear();
  info->auth_realm = ctx.auth.realm;
  if (settings.cgi_send_password) info->password = ctx.auth.password;
  const HttpMessage& req = ctx.request;
  info->accept = HeaderValue(req, kHdrAccept);
  info->accept_language = HeaderValue(req, kHdrAcceptLanguage);
  info->cookie = HeaderValue(req, kHdrCookie);
  info->referer = HeaderValue(req, kHdrReferer);
  info->user_agent = HeaderValue(req, kHdrUserAgent);
  info->request = &ctx;
}

std::string ScriptCommandLine(const RequestContext& ctx, const std::string& path, bool* associated) {
  const ServerSettings& settings = ctx.snapshot->settings;
  std::string program;
  if (settings.process_external) program = AssociationFor(settings.assoc_map, path);
  if (associated) *associated = !program.empty();
  if (program.empty()) return "\"" + path + "\"";
  return "\"" + program + "\" \"" + path + "\"";
}

}  // namespace brisvane
