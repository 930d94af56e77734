// One request on a connection, in two steps so that its body can arrive
// while no thread waits for it: first the head, read from the
// connection's buffer where it has arrived whole, and the decision about
// the body (refusals, the size limit, "100 Continue"); then, once the body
// is in, the request served on the calling thread.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/request_context.h"
#include "engine/core/request_reader.h"

namespace brisvane {

class Engine;
class Socket;

// A request whose head has been read; its body may still be arriving.
struct IncomingRequest {
  RequestContext ctx;
  // Fed with what arrives until done(); its outcome is the request's.
  BodyReceiver body;
  // The engine's state that "100 Continue" was refused on: admission
  // decides on the same, so a request whose body was held back is always
  // refused.
  uint32_t held_clients = 0;
  bool held_available = true;
};

// Reads the head buffered on `socket` (blocking, with its time-outs set)
// and decides on its body. Null when there are no settings to serve by.
std::unique_ptr<IncomingRequest> BeginRequest(Engine& engine, Socket& socket);

// Serves a request whose body is done: admission, handler, answer, logs.
// It is in progress meanwhile, and only then. True when the connection
// stays open for another request.
bool FinishRequest(Engine& engine, Socket& socket, IncomingRequest& incoming);

}  // namespace brisvane
