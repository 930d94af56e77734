// The shape every request handler has: one signature, a typed stage
// result, and a narrow set of services instead of the whole engine.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/core/request_context.h"

namespace brisvane {

class DocumentCache;
class EngineLogs;
class Socket;
class Statistics;
struct HandlerTable;

// What a stage tells the pipeline; the HTTP status lives in the response.
enum StageResult : int {
  kStageStop = 0,     // a response (usually an error) is ready; skip the rest
  kStageDone = 1,     // a response is ready to be finished
  kStageDecline = 2,  // not this stage's request
};

// What a stage may use besides its request.
struct RequestServices {
  EngineLogs& logs;
  Statistics& statistics;
  const HandlerTable& handlers;
  // The client's connection, for handlers that stream; null for a request
  // made on the server's own behalf.
  Socket* connection = nullptr;
  // Small documents kept in memory; null to read every document anew.
  DocumentCache* documents = nullptr;
  // The engine's state when the request was read.
  uint32_t current_clients = 0;
  bool available = true;
};

using Handler = StageResult (*)(RequestServices& services, RequestContext& ctx);

// One handler per kind, built once by the engine library.
struct HandlerTable {
  std::array<Handler, static_cast<size_t>(HandlerKind::kCount)> handlers{};
  // The finishing step for documents of an include type; without it such
  // documents are refused with 500 rather than sent with raw directives.
  Handler includes = nullptr;
  Handler Get(HandlerKind kind) const { return handlers[static_cast<size_t>(kind)]; }
  void Set(HandlerKind kind, Handler h) { handlers[static_cast<size_t>(kind)] = h; }
};

// The handler kind that a "wwwserver/..." media type names (a type map
// entry may name any of them), or kDocument for any other type.
HandlerKind HandlerKindOfType(std::string_view media_type);

// Documents whose includes are processed when they are sent.
bool IsIncludeMediaType(std::string_view media_type);

}  // namespace brisvane
