// One request on a connection whose head has arrived: read, process,
// answer, log.
#include <atomic>
#include <memory>

#include "engine/core/admission.h"
#include "engine/core/connection_handler.h"
#include "engine/core/connection_pool.h"
#include "engine/core/engine.h"
#include "engine/core/error_page.h"
#include "engine/core/keep_alive.h"
#include "engine/core/pipeline.h"
#include "engine/core/request_reader.h"
#include "engine/core/response_writer.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr uint64_t kBytesPerKiB = 1024;

// Tells the client we are done, drains a little of what it may still be
// sending so that the close is not turned into a reset, and closes.
void CloseGracefully(Socket& socket) {
  socket.Shutdown(1);
  socket.SetBlocking(false);
  char scratch[80];
  socket.Receive(scratch, sizeof scratch);
  // Linger is off: it is the default and nothing here turns it on.
  socket.Close();
}

// After a refusal the client may still be sending what was never read; a
// close with unread data resets the connection, which can destroy the
// answer before the client has read it. Reads it away for a short while.
void DrainAfterRefusal(Socket& socket) {
  socket.Shutdown(1);
  socket.SetReceiveTimeout(250);
  char scratch[4096];
  const uint32_t start = platform::tick_count();
  while (platform::tick_count() - start < 2000 && socket.Receive(scratch, sizeof scratch) > 0) {
  }
}

// A message the reader would not frame is answered like any refusal made
// before a virtual server is chosen, and the connection then closes: what
// follows it on the wire cannot be told apart from its body.
void RefuseUnreadable(RequestServices& services, RequestContext& ctx, const ReadOutcome& read) {
  HttpMessage& resp = ctx.response;
  resp.version = ctx.request.version == kHttp11 ? kHttp11 : kHttp10;
  SetDateAndServer(ctx.snapshot->settings, resp);
  RespondError(ctx, read.status);
  resp.Set(kHdrConnection, "close");
  std::string line = read.reason;
  if (read.error != 0) line += " - " + platform::error_message(read.error);
  services.logs.Error(line, &ctx);
}

}  // namespace

void CloseConnection(Socket& socket) { CloseGracefully(socket); }

std::unique_ptr<IncomingRequest> BeginRequest(Engine& engine, Socket& socket) {
  auto incoming = std::make_unique<IncomingRequest>();
  RequestContext& ctx = incoming->ctx;
  ctx.cancel = &engine.stop_signal();
  ctx.snapshot = engine.snapshot();
  if (!ctx.snapshot) return nullptr;
  ctx.secure = socket.secure();
  const ServerSettings& settings = ctx.snapshot->settings;
  BodyLimits limits;
  limits.max_bytes = static_cast<uint64_t>(settings.max_request_body) * kBytesPerKiB;
  // A client waiting for "100 Continue" is told to send its body only
  // when admission would take the request now, this one counted in.
  limits.may_continue = [&engine, &settings, &socket, held = incoming.get()] {
    RequestServices services{engine.logs(), engine.statistics(), engine.handlers(), &socket,
                             &engine.documents()};
    services.current_clients = held->held_clients = engine.current_clients().load() + 1;
    services.available = held->held_available = engine.available();
    return RoomForRequest(services, settings) == EngineRoom::kOpen;
  };
  ReadRequestHead(ctx.request, socket, settings.resolve_name, limits, &incoming->body);
  return incoming;
}

bool FinishRequest(Engine& engine, Socket& socket, IncomingRequest& incoming) {
  const ReadOutcome& read = incoming.body.outcome();
  if (read.kind == ReadOutcome::kClose) return false;
  RequestContext* ctx = &incoming.ctx;
  RequestServices services{engine.logs(), engine.statistics(), engine.handlers(), &socket,
                           &engine.documents()};
  // In progress from here until the response is written: what the
  // overload rule counts, this request included.
  std::atomic<uint32_t>& in_progress = engine.current_clients();
  const uint32_t counted = in_progress.fetch_add(1) + 1;
  bool counted_in = true;
  auto count_out = [&] {
    if (counted_in) in_progress.fetch_sub(1);
    counted_in = false;
  };
  if (read.kind == ReadOutcome::kHeld) {
    services.current_clients = incoming.held_clients;
    services.available = incoming.held_available;
  } else {
    services.current_clients = counted;
    services.available = engine.available();
  }
  ctx->bytes_received = ctx->request.body.Size();
  if (read.kind == ReadOutcome::kRefuse) {
    RefuseUnreadable(services, *ctx, read);
  } else if (!ProcessRequest(services, *ctx)) {
    count_out();
    engine.logs().Error("Fatal error executing request - please report", ctx);
    return false;
  }
  // The body that was held back may still come: nothing after it can
  // be read as a request.
  const bool unread = read.kind == ReadOutcome::kRefuse || read.kind == ReadOutcome::kHeld;
  const bool keep = DecideKeepAlive(*ctx);
  // Every request read is counted and logged, with the bytes that went
  // out even when the client left half-way.
  const bool sent = WriteResponse(ctx->response, socket, &ctx->bytes_sent);
  count_out();
  engine.statistics().Count(*ctx);
  engine.logs().Access(*ctx);
  if (sent && unread) DrainAfterRefusal(socket);
  return sent && !unread && keep && !engine.stop_flag();
}

}  // namespace brisvane
