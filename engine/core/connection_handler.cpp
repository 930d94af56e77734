// The keep-alive loop that every connection thread runs.
#include <ctime>
#include <memory>

#include "engine/core/connection_pool.h"
#include "engine/core/dispatch.h"
#include "engine/core/engine.h"
#include "engine/core/http_date.h"
#include "engine/core/request_reader.h"
#include "engine/core/response_writer.h"
#include "engine/core/text_util.h"
#include "engine/pages/error_page.h"
#include "platform/system.h"

namespace brisvane {
namespace {

// True when the comma-separated header value holds `token` (any case).
bool ContainsToken(const std::string& value, std::string_view token) {
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(',', start);
    if (end == std::string::npos) end = value.size();
    std::string item = TrimBoth(TrimBoth(std::string_view(value).substr(start, end - start), ' '), '\t');
    if (EqualsIgnoreCase(item, token)) return true;
    start = end + 1;
  }
  return false;
}

bool KeepsConnection(const HttpMessage& resp) {
  const std::string* conn = resp.Get(kHdrConnection);
  if (conn && EqualsIgnoreCase(*conn, "close")) return false;
  if (resp.version <= kHttp10 && !(conn && EqualsIgnoreCase(*conn, "Keep-Alive"))) return false;
  return true;
}

// An HTTP/1.1 client that sends "Connection: close" reads until the
// connection ends; it must be told so and the connection must then close.
void HonourClientClose(const HttpMessage& req, HttpMessage& resp) {
  if (req.version < kHttp11 || resp.version < kHttp11) return;
  const std::string* conn = req.Get(kHdrConnection);
  if (!conn || !ContainsToken(*conn, "close")) return;
  resp.Set(kHdrConnection, "close");
}

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
void RefuseUnreadable(Engine& engine, RequestContext& ctx, const ReadOutcome& read) {
  HttpMessage& resp = ctx.response;
  const ServerSettings& s = ctx.snapshot->settings;
  resp.version = ctx.request.version == kHttp11 ? kHttp11 : kHttp10;
  resp.Set(kHdrDate, FormatHttpDate(static_cast<int64_t>(std::time(nullptr))));
  resp.Set(kHdrServer, s.send_version_info ? "Brisvane/2.10" : "Brisvane");
  RespondError(ctx, read.status);
  resp.Set(kHdrConnection, "close");
  engine.logs().Error(read.reason, &ctx);
}

// Waits for the next request on a kept connection. A keep-alive wait of 0
// means no wait at all: only a request already on its way is read.
bool AwaitNextRequest(Socket& socket, const ServerSettings& settings) {
  if (settings.keep_alive == 0) return socket.WaitReadable(0);
  // No poll: the next receive itself waits up to KeepAlive.
  socket.ExpectData(settings.keep_alive, settings.recv_timeout);
  return true;
}

}  // namespace

void HandleConnection(Engine& engine, Socket& socket) {
  engine.current_clients().fetch_add(1);
  {
    auto snap = engine.snapshot();
    uint32_t recv_timeout = snap ? snap->settings.recv_timeout : 45000;
    uint32_t send_timeout = snap ? snap->settings.send_timeout : 45000;
    socket.SetReceiveTimeout(recv_timeout);
    socket.SetSendTimeout(send_timeout);
    socket.SetNoDelay(true);
  }
  auto ctx = std::make_unique<RequestContext>();
  while (!engine.stop_flag()) {
    ctx->Reset();
    ctx->snapshot = engine.snapshot();
    if (!ctx->snapshot) break;
    const ServerSettings& settings = ctx->snapshot->settings;
    const ReadOutcome read = ReadRequest(ctx->request, socket, settings.resolve_name);
    if (read.kind == ReadOutcome::kClose) break;
    ctx->bytes_received = ctx->request.body.Size();
    if (read.kind == ReadOutcome::kRefuse) {
      RefuseUnreadable(engine, *ctx, read);
    } else if (!ProcessRequest(engine, *ctx)) {
      engine.logs().Error("Fatal error executing request - please report", ctx.get());
      break;
    }
    HonourClientClose(ctx->request, ctx->response);
    // Every request read is counted and logged, with the bytes that went
    // out even when the client left half-way.
    const bool sent = WriteResponse(ctx->response, socket, &ctx->bytes_sent);
    engine.statistics().Count(*ctx);
    engine.logs().Access(*ctx);
    if (sent && read.kind == ReadOutcome::kRefuse) DrainAfterRefusal(socket);
    if (!sent || read.kind == ReadOutcome::kRefuse || !KeepsConnection(ctx->response)) break;
    if (!AwaitNextRequest(socket, settings)) break;
  }
  CloseGracefully(socket);
  ctx.reset();
  engine.current_clients().fetch_sub(1);
}

}  // namespace brisvane
