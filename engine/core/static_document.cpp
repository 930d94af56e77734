#include "engine/core/static_document.h"

#include <vector>

#include "engine/core/byte_range.h"
#include "engine/core/engine.h"
#include "engine/core/http_date.h"
#include "engine/pages/error_page.h"
#include "platform/error.h"
#include "platform/file.h"

namespace brisvane {
namespace {

bool IsSsiType(const std::string* type) {
  return type && (*type == "wwwserver/html-ssi" || *type == "text/ssi");
}

int ServeGet(RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  if (resp.body.kind() != MessageBody::kExistingFile || resp.body.path() != resp.physical_path)
    resp.body.UseExistingFile(resp.physical_path);
  resp.SetStatus(200);
  if (!IsSsiType(resp.Get(kHdrContentType))) {
    FileTime modified = 0;
    if (resp.body.LastWriteTime(&modified)) {
      const std::string* since = ctx.request.Get(kHdrIfModifiedSince);
      FileTime since_time = 0;
      if (since && ParseHttpDate(*since, &since_time) && CompareFileTimes(modified, since_time) <= 0) {
        resp.SetStatus(304);
        resp.Clear(kHdrContentLength);
        resp.body.Reset();
        return 1;
      }
      std::string text;
      if (FormatFileTime(modified, &text)) resp.Set(kHdrLastModified, text);
    }
  }
  resp.SetNumber(kHdrContentLength, resp.body.Size());
  return 1;
}

int ServePut(RequestContext& ctx) {
  const MessageBody& body = ctx.request.body;
  const std::string& target = ctx.response.physical_path;
  bool have_body = body.kind() == MessageBody::kTemporaryFile;
  if (have_body && platform::file_copy(body.path(), target, true)) {
    RespondError(ctx, 201, "New document written");
  } else if (have_body && platform::file_copy(body.path(), target, false)) {
    RespondError(ctx, 200, "Document written");
  } else {
    RespondError(ctx, 409, "PUT Conflict Error");
  }
  return 1;
}

}  // namespace

void RespondFileError(Engine& engine, RequestContext& ctx, const char* verb, const std::string& path,
                      unsigned code) {
  std::string text = platform::error_message(code);
  if (platform::is_not_found(code))
    RespondError(ctx, 404);
  else if (code == platform::err::kAccessDenied)
    RespondError(ctx, 403);
  else
    RespondError(ctx, 500, text.c_str());
  engine.logs().Error(std::string("Error ") + verb + " \"" + path + "\" - " + text, &ctx);
}

int ServeStaticDocument(Engine& engine, RequestContext& ctx) {
  switch (ctx.request.method) {
    case kMethodGet:
    case kMethodHead:
      return ServeGet(ctx);
    case kMethodPut:
      return ServePut(ctx);
    case kMethodDelete:
      // A deletion that fails must not be reported as done.
      if (!platform::file_delete(ctx.response.physical_path)) {
        RespondFileError(engine, ctx, "deleting", ctx.response.physical_path, platform::last_error());
        return 1;
      }
      RespondError(ctx, 200, "Resource deleted");
      return 1;
    default:
      RespondError(ctx, 405, "Method not allowed on this resource");
      ctx.response.Set(kHdrAllow, "GET, HEAD");
      return 0;
  }
}

int ApplyByteRanges(Engine& engine, RequestContext& ctx) {
  const HttpMessage& req = ctx.request;
  HttpMessage& resp = ctx.response;
  const std::string* range = req.Get(kHdrRange);
  if (!range || (req.method != kMethodGet && req.method != kMethodHead) || resp.map_kind != kMapDocument ||
      resp.body.kind() != MessageBody::kExistingFile || resp.body.path() != resp.physical_path)
    return 2;
  uint64_t size = resp.body.FileSize();
  std::vector<ByteRange> ranges;
  if (ParseByteRanges(*range, size, &ranges) && ranges.size() == 1) {
    const ByteRange& r = ranges[0];
    resp.Set(kHdrContentRange, FormatContentRange(r, size));
    resp.SetStatus(206);
    resp.body.set_range(r.first, r.length);
    resp.SetNumber(kHdrContentLength, r.length);
    return 1;
  }
  engine.logs().Trace("Partial retrieval rejected: " + *range, &ctx);
  RespondError(ctx, 416);
  return 0;
}

}  // namespace brisvane
