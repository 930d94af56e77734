// Putting a response on the wire, the finishing step that runs after every
// handler (server-side includes, byte ranges, keep-alive), and the HEAD rule
// that holds for every response.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/handler.h"
#include "engine/core/socket.h"

namespace brisvane {

// Status line and header block exactly as they go out. A status text,
// header name or value ends at its first CR, LF or NUL.
std::string FormatResponseHead(const HttpMessage& response);

// A socket as the place a body goes: a file range leaves through the
// system's file sending, without passing through a buffer here.
class SocketSink final : public BodySink {
 public:
  explicit SocketSink(Socket& socket) : socket_(socket) {}
  bool Write(const void* data, size_t length) override { return socket_.Send(data, length) >= 0; }
  bool WriteFile(platform::FileHandle file, uint64_t offset, uint64_t length) override {
    // An encrypted connection takes the bytes through its session.
    return socket_.secure() ? BodySink::WriteFile(file, offset, length) : socket_.SendFile(file, offset, length);
  }

 private:
  Socket& socket_;
};

// Writes the whole response; false when a write fails or a file body
// cannot be read. `body_bytes` gets the body bytes sent.
bool WriteResponse(HttpMessage& response, BodySink& sink, uint64_t* body_bytes);
bool WriteResponse(HttpMessage& response, Socket& socket, uint64_t* body_bytes);

// The step after every handler: included documents and byte ranges.
void FinishResponse(RequestServices& services, RequestContext& ctx);

// A response to HEAD has no body, whatever produced it; its headers,
// "Content-Length" included, stay. A script's raw response is left alone.
void DropBodyForHead(RequestContext& ctx);

}  // namespace brisvane
