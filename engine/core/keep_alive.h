// Whether a connection stays open after a response: the one place that
// decides, and sets the response's "Connection" header to say so.
#pragma once

#include "engine/core/request_context.h"

namespace brisvane {

// Called once per response, after the handler and before the write.
// - an HTTP/1.1 client that sent "Connection: close" is told "close";
// - an overloaded server closes HTTP/1.1 connections;
// - an HTTP/1.0 client that asked for "Keep-Alive" keeps its connection
//   when keep-alive is enabled, the response went through the finishing
//   step, has a non-zero "Content-Length" and did not come from a script;
// - a response already marked "close" (a refused message, a script) closes.
// True when the connection stays open.
bool DecideKeepAlive(RequestContext& ctx);

}  // namespace brisvane
