#include "engine/core/static_document.h"

#include <vector>

#include "engine/core/byte_range.h"
#include "engine/core/document_cache.h"
#include "engine/core/log_writer.h"
#include "engine/core/http_date.h"
#include "engine/core/error_page.h"
#include "platform/error.h"
#include "platform/file.h"

namespace brisvane {
namespace {

bool IsSsiType(const std::string* type) { return type && IsIncludeMediaType(*type); }

StageResult ServeGet(RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  if (resp.body.kind() != MessageBody::kExistingFile || resp.body.path() != ctx.mapping.physical_path)
    resp.body.UseExistingFile(ctx.mapping.physical_path);
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
        return kStageDone;
      }
      std::string text;
      if (FormatFileTime(modified, &text)) resp.Set(kHdrLastModified, text);
    }
  }
  resp.SetNumber(kHdrContentLength, resp.body.Size());
  return kStageDone;
}

StageResult ServePut(RequestContext& ctx) {
  const MessageBody& body = ctx.request.body;
  const std::string& target = ctx.mapping.physical_path;
  bool have_body = body.kind() == MessageBody::kTemporaryFile;
  if (have_body && platform::file_copy(body.path(), target, true)) {
    RespondError(ctx, 201, "New document written");
  } else if (have_body && platform::file_copy(body.path(), target, false)) {
    RespondError(ctx, 200, "Document written");
  } else {
    RespondError(ctx, 409, "PUT Conflict Error");
  }
  return kStageDone;
}

}  // namespace

void RespondFileError(EngineLogs& logs, RequestContext& ctx, const char* verb, const std::string& path,
                      unsigned code) {
  std::string text = platform::error_message(code);
  if (platform::is_not_found(code))
    RespondError(ctx, 404);
  else if (code == platform::err::kAccessDenied)
    RespondError(ctx, 403);
  else
    RespondError(ctx, 500, text.c_str());
  logs.Error(std::string("Error ") + verb + " \"" + path + "\" - " + text, &ctx);
}

StageResult ServeStaticDocument(RequestServices& services, RequestContext& ctx) {
  switch (ctx.request.method) {
    case kMethodGet:
    case kMethodHead:
      return ServeGet(ctx);
    case kMethodPut:
      if (services.documents) services.documents->Forget(ctx.mapping.physical_path);
      return ServePut(ctx);
    case kMethodDelete:
      if (services.documents) services.documents->Forget(ctx.mapping.physical_path);
      // A deletion that fails must not be reported as done.
      if (!platform::file_delete(ctx.mapping.physical_path)) {
        RespondFileError(services.logs, ctx, "deleting", ctx.mapping.physical_path, platform::last_error());
        return kStageDone;
      }
      RespondError(ctx, 200, "Resource deleted");
      return kStageDone;
    default:
      RespondError(ctx, 405, "Method not allowed on this resource");
      ctx.response.Set(kHdrAllow, "GET, HEAD");
      return kStageStop;
  }
}

int ApplyByteRanges(EngineLogs& logs, RequestContext& ctx) {
  const HttpMessage& req = ctx.request;
  HttpMessage& resp = ctx.response;
  const std::string* range = req.Get(kHdrRange);
  if (!range || (req.method != kMethodGet && req.method != kMethodHead) || ctx.mapping.kind != HandlerKind::kDocument ||
      resp.body.kind() != MessageBody::kExistingFile || resp.body.path() != ctx.mapping.physical_path)
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
  logs.Trace("Partial retrieval rejected: " + *range, &ctx);
  RespondError(ctx, 416);
  return 0;
}

}  // namespace brisvane
