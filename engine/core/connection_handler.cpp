// The keep-alive loop that every connection thread runs.
#include <memory>

#include "engine/core/connection_pool.h"
#include "engine/core/dispatch.h"
#include "engine/core/engine.h"
#include "engine/core/request_reader.h"
#include "engine/core/response_writer.h"
#include "engine/core/text_util.h"

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
    if (!ReadRequest(ctx->request, socket, settings.resolve_name)) break;
    ctx->bytes_received = ctx->request.body.Size();
    if (!ProcessRequest(engine, *ctx)) {
      engine.logs().Error("Fatal error executing request - please report", ctx.get());
      break;
    }
    HonourClientClose(ctx->request, ctx->response);
    if (!WriteResponse(ctx->response, socket, &ctx->bytes_sent)) break;
    engine.statistics().Count(*ctx);
    engine.logs().Access(*ctx);
    if (!KeepsConnection(ctx->response)) break;
    // No poll: the next receive itself waits up to KeepAlive.
    socket.ExpectData(settings.keep_alive, settings.recv_timeout);
  }
  CloseGracefully(socket);
  ctx.reset();
  engine.current_clients().fetch_sub(1);
}

}  // namespace brisvane
