// What every request passes before a virtual server is chosen: the
// engine's own state (overload, pause), the version and method, then the
// URL's safety and the Host rule.
#pragma once

#include "engine/core/handler.h"

namespace brisvane {

struct ServerSettings;

// "Date" now and "Server" as the settings allow: on every response.
void SetDateAndServer(const ServerSettings& settings, HttpMessage& response);

// Whether the engine takes requests now, from the counters in `services`:
// the first two admission checks, also asked before a client is told to
// send its body.
enum class EngineRoom { kOpen, kOverloaded, kUnavailable };
EngineRoom RoomForRequest(const RequestServices& services, const ServerSettings& settings);

// The admission checks; false when a refusal has been prepared. Sets
// ctx.overloaded when the engine has no room for the request.
bool Admit(RequestServices& services, RequestContext& ctx);

// The URL safety rules and, for HTTP/1.1, the required Host; false when a
// refusal has been prepared.
bool CheckUrlAndHost(RequestServices& services, RequestContext& ctx);

}  // namespace brisvane
