// Reading one request from a connection: request line, known headers and
// body (Content-Length or chunked, into a temporary file).
#pragma once

#include "engine/core/http_message.h"
#include "engine/core/socket.h"
#include "platform/error.h"

namespace brisvane {

// Longest line the reader takes; a line that reaches it is refused.
inline constexpr size_t kLineCapacity = 8192;
// Header block limits (each block: the headers, and a chunked trailer).
inline constexpr size_t kMaxHeaderLines = 100;
inline constexpr size_t kMaxHeaderBytes = 64 * 1024;

// What reading a request came to.
struct ReadOutcome {
  enum Kind { kRead, kClose, kRefuse };
  Kind kind = kClose;
  int status = 0;                 // kRefuse: answer with this status, then close
  const char* reason = nullptr;   // kRefuse: status text and error-log line
  platform::os_error error = 0;   // kRefuse: the system's reason, when it has one

  static ReadOutcome Read() { return {kRead, 0, nullptr}; }
  static ReadOutcome Close() { return {kClose, 0, nullptr}; }
  static ReadOutcome Refuse(int code, const char* why) { return {kRefuse, code, why}; }
  static ReadOutcome Fail(int code, const char* why, platform::os_error e) { return {kRefuse, code, why, e}; }
};

// kRead: the request is parsed. kClose: close without a response.
// kRefuse: the message cannot be framed safely; the request line and the
// addresses are set (for the log) but the request is not parsed.
ReadOutcome ReadRequest(HttpMessage& request, Socket& socket, bool resolve_names);

// Splits the request target into scheme, host, path and query. Only a
// target of the form "scheme://..." is an absolute URL; it is recognised on
// the raw text, before the path is decoded and normalised. False when the
// path comes out empty.
bool ParseRequestTarget(const std::string& target, HttpMessage& request);

// "HTTP/1.1" -> 257; the word before the "/" is not checked.
uint32_t ParseVersion(const std::string& text);

}  // namespace brisvane
