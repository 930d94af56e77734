#include "engine/core/keep_alive.h"

#include <string>

#include "config/server_settings.h"
#include "engine/core/text_util.h"
#include "engine/core/virtual_server.h"

namespace brisvane {
namespace {

// True when the comma-separated header value holds `token` (any case).
bool ContainsToken(const std::string& value, std::string_view token) {
  for (std::string_view item : SplitList(value, ",", " \t"))
    if (EqualsIgnoreCase(item, token)) return true;
  return false;
}

bool HeaderIs(const HttpMessage& m, int index, std::string_view value) {
  const std::string* v = m.Get(index);
  return v && EqualsIgnoreCase(*v, value);
}

}  // namespace

bool DecideKeepAlive(RequestContext& ctx) {
  const HttpMessage& req = ctx.request;
  HttpMessage& resp = ctx.response;
  if (resp.version >= kHttp11) {
    const std::string* conn = req.Get(kHdrConnection);
    // A client that will read until the connection ends must be told so.
    if (ctx.overloaded || (req.version >= kHttp11 && conn && ContainsToken(*conn, "close")))
      resp.Set(kHdrConnection, "close");
  } else if (resp.version == kHttp10 && ctx.finished && ctx.snapshot &&
             ctx.snapshot->settings.use_keep_alive && HeaderIs(req, kHdrConnection, "Keep-Alive") &&
             resp.GetNumber(kHdrContentLength) != 0 && !ctx.overloaded &&
             !IsScriptHandler(ctx.handler)) {
    resp.Set(kHdrConnection, "Keep-Alive");
  }
  if (HeaderIs(resp, kHdrConnection, "close")) return false;
  if (resp.version <= kHttp10 && !HeaderIs(resp, kHdrConnection, "Keep-Alive")) return false;
  return true;
}

}  // namespace brisvane
