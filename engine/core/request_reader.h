// Reading one request from a connection: request line, known headers and
// body (Content-Length or chunked, into a temporary file).
#pragma once

#include "engine/core/http_message.h"
#include "engine/core/socket.h"

namespace brisvane {

// Longest line the reader takes; longer lines are split.
inline constexpr size_t kLineCapacity = 8192;

// False means: close the connection without a response.
bool ReadRequest(HttpMessage& request, Socket& socket, bool resolve_names);

// Splits the request target into scheme, host, path and query. Absolute
// URLs ("scheme://host/path") are recognised on the raw text, before the
// path is decoded and normalised. False when the path comes out empty.
bool ParseRequestTarget(const std::string& target, HttpMessage& request);

// "HTTP/1.1" -> 257; the word before the "/" is not checked.
uint32_t ParseVersion(const std::string& text);

}  // namespace brisvane
