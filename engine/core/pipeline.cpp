#include "engine/core/pipeline.h"

#include "engine/core/admission.h"
#include "engine/core/authorization.h"
#include "engine/core/error_page.h"
#include "engine/core/handler_select.h"
#include "engine/core/log_writer.h"
#include "engine/core/mapping.h"
#include "engine/core/redirection.h"
#include "engine/core/request_reader.h"
#include "engine/core/response_writer.h"
#include "engine/core/socket.h"
#include "engine/core/text_util.h"
#include "engine/core/tls_sites.h"
#include "engine/core/virtual_server.h"
#include "platform/file.h"

namespace brisvane {
namespace {

// Requests made on behalf of requests made on behalf of ... stop here, so
// a document that includes itself cannot recurse without end.
constexpr int kMaxDepth = 8;
constexpr int kStatusMisdirected = 421;

// The three script handlers never run a directory, and their responses
// end the connection.
bool ScriptGuard(RequestServices& services, RequestContext& ctx) {
  const std::string& path = ctx.mapping.physical_path;
  const uint32_t a = platform::file_attributes(path);
  if (a != platform::kInvalidAttributes && (a & platform::kAttrDirectory)) {
    RespondError(ctx, 404);
    services.logs.Error("Can not execute a directory: " + path, &ctx);
    return false;
  }
  if (ctx.response.version >= kHttp11)
    ctx.response.Set(kHdrConnection, "close");
  else
    ctx.response.Clear(kHdrConnection);
  return true;
}

StageResult RunHandler(RequestServices& services, RequestContext& ctx) {
  if (IsScriptHandler(ctx.handler) && !ScriptGuard(services, ctx)) return kStageStop;
  Handler handler = services.handlers.Get(ctx.handler);
  if (!handler) {
    RespondError(ctx, 500);
    services.logs.Error("No handler for this request", &ctx);
    return kStageStop;
  }
  return handler(services, ctx);
}

// From mapping to the finished response, for the virtual server chosen.
void Dispatch(RequestServices& services, RequestContext& ctx) {
  ResolvePath(*ctx.virtual_server, ctx);
  ctx.auth.Reset();
  if (ParseAuthorizationHeader(services.logs, ctx) == kStageStop) return;
  if (AuthorizeBySecurityType(services.logs, ctx) == kStageStop) return;
  if (SelectHandler(services, ctx) == kStageStop) return;
  if (RunHandler(services, ctx) == kStageStop) return;
  FinishResponse(services, ctx);
}

// Over TLS, a request that names another HTTPS server than the one whose
// certificate the client accepted: the client reused a connection it made
// for one name for another, and must connect anew.
bool Misdirected(const RequestServices& services, const RequestContext& ctx, const VirtualServerRuntime& vs) {
  if (!ctx.secure || !services.connection || !vs.config().use_ssl) return false;
  const std::string host = RequestHostName(ctx.request);
  if (host.empty() || !EqualsIgnoreCase(vs.config().site_address, host)) return false;
  const VirtualServerRuntime* presented =
      PresentedServer(*ctx.snapshot, ctx.request.local_address, services.connection->TlsServerName());
  return presented && presented != &vs &&
         !EqualsIgnoreCase(presented->config().site_address, vs.config().site_address);
}

bool ChooseVirtualServer(const RequestServices& services, RequestContext& ctx) {
  const VirtualServerRuntime* vs = SelectVirtualServer(*ctx.snapshot, ctx.request);
  if (!vs) {
    RespondError(ctx, 503, "No virtual server configured");
    return false;
  }
  if (Misdirected(services, ctx, *vs)) {
    RespondError(ctx, kStatusMisdirected);
    return false;
  }
  ctx.virtual_server = vs;
  return true;
}

}  // namespace

StageResult RefuseProxy(RequestServices&, RequestContext& ctx) {
  RespondError(ctx, 501, "This version does not handle proxy requests");
  return kStageStop;
}

bool ProcessRequest(RequestServices& services, RequestContext& ctx) {
  if (!ctx.request.parsed) return false;
  if (Admit(services, ctx) && CheckUrlAndHost(services, ctx) && ChooseVirtualServer(services, ctx)) {
    // Sent to the TLS listener before anything of the site is looked at:
    // no map, no password check, no document.
    if (RedirectToSecureListener(ctx))
      FinishResponse(services, ctx);
    else
      Dispatch(services, ctx);
  }
  // Whatever answered, refusals included: a body after HEAD would be read
  // as the start of the next response on a kept connection.
  DropBodyForHead(ctx);
  return true;
}

bool RunChildRequest(RequestServices& services, const RequestContext& parent,
                     const std::string& url, RequestContext* child) {
  child->Reset();
  child->snapshot = parent.snapshot;
  child->virtual_server = parent.virtual_server;
  child->depth = parent.depth + 1;
  child->secure = parent.secure;
  child->cancel = parent.cancel;
  HttpMessage& req = child->request;
  const HttpMessage& from = parent.request;
  for (int i = 0; i < kHeaderCount; ++i) {
    if (const std::string* v = from.Get(i)) req.Set(i, *v);
  }
  req.Clear(kHdrRange);
  req.Clear(kHdrIfModifiedSince);
  req.version = from.version;
  req.method_name = "GET";
  req.method = kMethodGet;
  req.local_address = from.local_address;
  req.remote_address = from.remote_address;
  req.remote_host = from.remote_host;
  req.request_line = "GET " + url;
  HttpMessage& resp = child->response;
  resp.version = parent.response.version;
  SetDateAndServer(child->snapshot->settings, resp);
  if (child->depth > kMaxDepth || !child->virtual_server) {
    RespondError(*child, 500);
    return false;
  }
  if (!ParseRequestTarget(url, req) || req.absolute || !CheckUrlAndHost(services, *child)) {
    if (child->response.status_code < 400) RespondError(*child, 400);
    return false;
  }
  req.parsed = 1;
  Dispatch(services, *child);
  return true;
}

}  // namespace brisvane
