// Reading one request from a connection: request line, known headers and
// body (Content-Length or chunked, into a temporary file).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/core/http_message.h"
#include "engine/core/socket.h"
#include "engine/core/temp_file.h"
#include "platform/error.h"

namespace brisvane {

// Longest line the reader takes; a line that reaches it is refused.
inline constexpr size_t kLineCapacity = 8192;
// Header block limits (each block: the headers, and a chunked trailer).
inline constexpr size_t kMaxHeaderLines = 100;
inline constexpr size_t kMaxHeaderBytes = 64 * 1024;

// What reading a request came to.
struct ReadOutcome {
  // kHeld: the head is parsed but its body was never asked for, because
  // the connection's check before "100 Continue" said no; the request is
  // answered (admission refuses it) and the connection closed.
  enum Kind { kRead, kClose, kRefuse, kHeld };
  Kind kind = kClose;
  int status = 0;                 // kRefuse: answer with this status, then close
  const char* reason = nullptr;   // kRefuse: status text and error-log line
  platform::os_error error = 0;   // kRefuse: the system's reason, when it has one

  static ReadOutcome Read() { return {kRead, 0, nullptr}; }
  static ReadOutcome Close() { return {kClose, 0, nullptr}; }
  static ReadOutcome Refuse(int code, const char* why) { return {kRefuse, code, why}; }
  static ReadOutcome Fail(int code, const char* why, platform::os_error e) { return {kRefuse, code, why, e}; }
  static ReadOutcome Held() { return {kHeld, 0, nullptr}; }
};

// What a request body may be, decided before any of it is received.
struct BodyLimits {
  // Largest body taken, in bytes; 0: any size. A larger Content-Length, or
  // a chunk that would take a chunked body past it, is refused with 413
  // before any of it is stored.
  uint64_t max_bytes = 0;
  // Asked once the body's framing and size have passed, only when the
  // client waits for "100 Continue"; false: the body is held back.
  std::function<bool()> may_continue;
};

// The reason logged when a body is larger than its limit.
inline constexpr char kBodyTooLarge[] = "Request body larger than MaxRequestBody";

// Counts of a header block's lines, against its limits.
struct HeaderTally {
  size_t lines = 0;
  size_t bytes = 0;
  size_t hosts = 0;
};

// A request body received piece by piece, from whatever has arrived on the
// connection: a slow client need not hold a thread while it sends. The
// one decoder of counted and chunked bodies, for the reader that waits for
// them too. The body goes to a temporary file.
class BodyReceiver {
 public:
  // True once nothing more is to be received; outcome() is then final.
  bool done() const { return done_; }
  // The request's outcome, as ReadRequest's.
  const ReadOutcome& outcome() const { return outcome_; }
  // Takes what the socket has buffered, without waiting; true once done().
  bool Take(Socket& socket);
  // Nothing more will arrive before the body is whole (the peer closed, a
  // receive failed or its time ran out): a counted body is answered as
  // too short, a chunked one closes the connection.
  void Cut();

 private:
  friend void ReadRequestHead(HttpMessage&, Socket&, bool, const BodyLimits&, BodyReceiver*);
  enum class Stage : uint8_t { kLength, kChunkSize, kChunkData, kChunkEnd, kTrailer };
  ReadOutcome Start(bool chunked, uint64_t length, uint64_t max_bytes);
  void Finish(const ReadOutcome& out);
  bool Store(Socket& socket);

  HttpMessage* request_ = nullptr;
  bool done_ = true;
  bool made_ = false;  // the body's file exists
  Stage stage_ = Stage::kLength;
  uint64_t left_ = 0;  // bytes still to come: of the body, or of the chunk
  uint64_t stored_ = 0;
  uint64_t max_bytes_ = 0;
  ReadOutcome outcome_;
  TempFile file_;
  std::string line_;
  HeaderTally trailer_;
};

// The request line and headers, then the body's framing: refusals, the size
// limit and "100 Continue" (sent here). `body` is done when no body is to
// be received; otherwise it is fed until it is, and its outcome is the
// request's. Reads the head without waiting when it is buffered whole.
void ReadRequestHead(HttpMessage& request, Socket& socket, bool resolve_names, const BodyLimits& limits,
                     BodyReceiver* body);

// Head and body, waiting for them. kRead: the request is parsed. kClose:
// close without a response. kRefuse: the message cannot be framed safely,
// or its body is too large; the request line and the addresses are set
// (for the log) but the request is not parsed. kHeld: parsed, without its
// body.
ReadOutcome ReadRequest(HttpMessage& request, Socket& socket, bool resolve_names,
                        const BodyLimits& limits = {});

// Splits the request target into scheme, host, path and query. Only a
// target of the form "scheme://..." is an absolute URL; it is recognised on
// the raw text, before the path is decoded and normalised. False when the
// path comes out empty.
bool ParseRequestTarget(const std::string& target, HttpMessage& request);

// "HTTP/1.1" -> 257; the word before the "/" is not checked.
uint32_t ParseVersion(const std::string& text);

}  // namespace brisvane
