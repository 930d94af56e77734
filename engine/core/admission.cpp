#include "engine/core/admission.h"

#include <ctime>

#include "base/product.h"
#include "config/server_settings.h"
#include "engine/core/error_page.h"
#include "engine/core/http_date.h"
#include "engine/core/log_writer.h"
#include "engine/core/url_path.h"
#include "engine/core/virtual_server.h"

namespace brisvane {

void SetDateAndServer(const ServerSettings& settings, HttpMessage& response) {
  response.Set(kHdrDate, FormatHttpDate(static_cast<int64_t>(std::time(nullptr))));
  response.Set(kHdrServer, ServerSoftware(settings.send_version_info));
}

EngineRoom RoomForRequest(const RequestServices& services, const ServerSettings& settings) {
  const uint32_t limit = static_cast<uint32_t>((static_cast<uint64_t>(settings.num_threads) * 15) / 16);
  if (services.current_clients >= limit) return EngineRoom::kOverloaded;
  if (!services.available) return EngineRoom::kUnavailable;
  return EngineRoom::kOpen;
}

bool Admit(RequestServices& services, RequestContext& ctx) {
  HttpMessage& req = ctx.request;
  HttpMessage& resp = ctx.response;
  const ServerSettings& s = ctx.snapshot->settings;
  SetDateAndServer(s, resp);
  switch (RoomForRequest(services, s)) {
    case EngineRoom::kOverloaded:
      ctx.overloaded = true;
      RespondError(ctx, 503, "Server overloaded");
      services.logs.Error("Server overloaded, rejected request", nullptr);
      return false;
    case EngineRoom::kUnavailable:
      RespondError(ctx, 503, "Server not available");
      return false;
    case EngineRoom::kOpen:
      break;
  }
  if (req.scheme != "http" || (req.absolute && req.version < kHttp11)) {
    ctx.proxy = true;
    return true;
  }
  if (req.version == kHttp09 || req.version == kHttp10 || req.version == kHttp11) {
    resp.version = req.version;
  } else {
    resp.version = kHttp10;
    services.logs.Error("Bad HTTP Version or Corrupted Request, assuming HTTP/1.0", &ctx);
  }
  if (resp.version == kHttp09 && req.method != kMethodGet) {
    RespondError(ctx, 400, "Invalid HTTP/0.9 method");
    services.logs.Error("Invalid HTTP/0.9 method", &ctx);
    return false;
  }
  if (req.method == kMethodUnknown) {
    RespondError(ctx, 501, "Method not implemented");
    services.logs.Error("Unknown method", &ctx);
    return false;
  }
  return true;
}

bool CheckUrlAndHost(RequestServices& services, RequestContext& ctx) {
  if (const char* refusal = UrlRefusal(ctx.request.path)) {
    RespondError(ctx, 400);
    services.logs.Error(refusal, &ctx);
    return false;
  }
  std::string host = ctx.request.host;
  if (host.empty())
    if (const std::string* h = ctx.request.Get(kHdrHost)) host = *h;
  if (ctx.request.version >= kHttp11 && host.empty()) {
    services.logs.Error("No host specified", &ctx);
    RespondError(ctx, 400, "No Host Specified");
    return false;
  }
  return true;
}

}  // namespace brisvane
