#include "engine/core/response_writer.h"

#include <cstdio>
#include <string_view>

#include "engine/core/engine.h"
#include "engine/core/static_document.h"
#include "engine/core/text_util.h"
#include "engine/core/error_page.h"

namespace brisvane {
namespace {

using namespace std::string_view_literals;

// Bodies up to this size travel in the same write as the head, so a
// keep-alive client never waits on a delayed acknowledgement.
constexpr size_t kInlineBodyLimit = 16384;

// Text up to its first CR, LF or NUL: whatever produced a header or the
// status text, it cannot end the line early and start one of its own.
std::string_view OneLine(std::string_view text) { return text.substr(0, text.find_first_of("\r\n\0"sv)); }

void AppendHeader(std::string* out, std::string_view name, std::string_view value) {
  // A header line is formatted into at most 1024 bytes; longer values are
  // cut, and the line still ends with its line end.
  size_t room = 1024 - 1 - 2 - 2;
  std::string line = std::string(OneLine(name)) + ": " + std::string(OneLine(value));
  if (line.size() > room) line.resize(room);
  out->append(line);
  out->append("\r\n");
}

}  // namespace

std::string FormatResponseHead(const HttpMessage& r) {
  std::string out;
  out.reserve(512);
  char status[256];
  std::snprintf(status, sizeof status, "HTTP/%1d.%1d %d %s", static_cast<int>(r.version / 256),
                static_cast<int>(r.version % 256), r.status_code,
                std::string(OneLine(r.status_text ? *r.status_text : std::string())).c_str());
  out.append(status);  // at most 255 characters; longer texts are cut
  out.append("\r\n");
  for (int i = 0; i < kHeaderCount; ++i)
    if (const std::string* v = r.Get(i)) AppendHeader(&out, HeaderName(i), *v);
  for (const auto& [name, value] : r.extra_headers()) AppendHeader(&out, name.c_str(), value);
  out.append("\r\n");
  return out;
}

bool WriteResponse(HttpMessage& r, BodySink& sink, uint64_t* body_bytes) {
  // HTTP/0.9 and a script's raw output are the body alone.
  const bool body_only = r.version == kHttp09 || r.raw;
  BodyReader reader(r.body);
  return reader.SendTo(sink, body_only ? std::string() : FormatResponseHead(r), kInlineBodyLimit, body_bytes);
}

bool WriteResponse(HttpMessage& r, Socket& socket, uint64_t* body_bytes) {
  *body_bytes = 0;
  if (!socket.IsValid()) return false;
  SocketSink sink(socket);
  return WriteResponse(r, sink, body_bytes);
}

void FinishResponse(RequestServices& services, RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  const ServerSettings& settings = ctx.snapshot->settings;
  const std::string* type = resp.Get(kHdrContentType);
  if (settings.process_ssi && type && IsIncludeMediaType(*type)) {
    if (services.handlers.includes) {
      services.handlers.includes(services, ctx);
    } else {
      RespondError(ctx, 500, "SSI Processing Error");
      services.logs.Error("SSI Processing Error on " + ctx.mapping.physical_path, &ctx);
    }
  }
  ApplyByteRanges(services.logs, ctx);
  ctx.finished = true;
}

void DropBodyForHead(RequestContext& ctx) {
  if (ctx.request.method == kMethodHead && !ctx.response.raw) ctx.response.body.Reset();
}

}  // namespace brisvane
