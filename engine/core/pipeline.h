// The request pipeline, top to bottom: admission, URL check, virtual
// server, mapping, authentication, authorization, handler selection, the
// handler, the finishing step. A request the server makes on its own
// behalf (an included document) runs the same stages from mapping on.
#pragma once

#include <string>

#include "engine/core/handler.h"

namespace brisvane {

// Runs the whole pipeline for a client's request. False only for a request
// that was never parsed; otherwise the outcome is in the response.
bool ProcessRequest(RequestServices& services, RequestContext& ctx);

// Runs `url` (a path with an optional "?query", not yet decoded) as a GET
// made on behalf of `parent`, with the parent's configuration, virtual
// server, client and request headers, into `child` (reset first). The
// child's path is decoded, normalised and checked like a client's. False
// when the child was refused before a handler ran or nested too deeply;
// the child's response tells what happened.
bool RunChildRequest(RequestServices& services, const RequestContext& parent,
                     const std::string& url, RequestContext* child);

// The proxy refusal: 501 "This version does not handle proxy requests".
StageResult RefuseProxy(RequestServices& services, RequestContext& ctx);

}  // namespace brisvane
