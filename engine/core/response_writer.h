// Putting a response on the wire, and the finishing step that runs after
// every handler (server-side includes, byte ranges, keep-alive, HEAD).
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/http_message.h"
#include "engine/core/socket.h"

namespace brisvane {

class Engine;

// Status line and header block exactly as they go out.
std::string FormatResponseHead(const HttpMessage& response);

// Writes the whole response; false when a send fails or a file body
// cannot be read. `body_bytes` gets the body bytes sent.
bool WriteResponse(HttpMessage& response, Socket& socket, uint64_t* body_bytes);

void FinishResponse(Engine& engine, RequestContext& ctx);

}  // namespace brisvane
