#include "engine/core/static_document.h"

#include <memory>
#include <vector>

#include "engine/core/byte_range.h"
#include "engine/core/document_cache.h"
#include "engine/core/log_writer.h"
#include "engine/core/http_date.h"
#include "engine/core/error_page.h"
#include "engine/core/temp_file.h"
#include "platform/error.h"
#include "platform/file.h"

namespace brisvane {
namespace {

// Pieces a PUT body is copied in.
constexpr size_t kCopyPiece = 65536;

bool IsSsiType(const std::string* type) { return type && IsIncludeMediaType(*type); }

StageResult ServeGet(EngineLogs& logs, RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  const std::string& path = ctx.mapping.physical_path;
  if (!resp.body.IsDocument(path) && !resp.body.OpenDocument(path)) {
    RespondFileError(logs, ctx, "reading", path, platform::last_error());
    return kStageStop;
  }
  resp.SetStatus(200);
  if (!IsSsiType(resp.Get(kHdrContentType))) {
    const FileTime modified = resp.body.document_info()->last_write;
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
  resp.SetNumber(kHdrContentLength, resp.body.Size());
  return kStageDone;
}

// What a PUT or DELETE came to; each is answered with a page of its own.
enum class StoreOutcome { kCreated, kReplaced, kConflict, kDeleted };

void Answer(RequestContext& ctx, StoreOutcome outcome) {
  switch (outcome) {
    case StoreOutcome::kCreated: RespondWithNotice(ctx, 201, "New document written"); return;
    case StoreOutcome::kReplaced: RespondWithNotice(ctx, 200, "Document written"); return;
    case StoreOutcome::kConflict: RespondError(ctx, 409, "PUT Conflict Error"); return;
    case StoreOutcome::kDeleted: RespondWithNotice(ctx, 200, "Resource deleted"); return;
  }
}

// The request body into a new file beside the target, then moved over it
// in one step: a failure at any point leaves the old document as it was
// and no file behind.
StoreOutcome StoreDocument(EngineLogs& logs, RequestContext& ctx) {
  const std::string& target = ctx.mapping.physical_path;
  // Nothing to store: refused as before, and nothing to log.
  if (ctx.request.body.empty()) return StoreOutcome::kConflict;
  const bool existed = platform::file_attributes(target) != platform::kInvalidAttributes;
  TempFile file;
  bool ok = file.CreateBeside(target);
  BodyReader body(ctx.request.body);
  std::unique_ptr<char[]> buf(new char[kCopyPiece]);
  while (ok) {
    const int64_t n = body.Read(buf.get(), kCopyPiece);
    if (n < 0) {
      logs.Error("Error reading the request body for \"" + target + "\" - " +
                     platform::error_message(platform::last_error()),
                 &ctx);
      return StoreOutcome::kConflict;
    }
    if (n == 0) break;
    ok = file.Write(buf.get(), static_cast<size_t>(n));
  }
  if (ok) ok = file.ReplaceTarget(target);
  if (!ok) {
    logs.Error("Error writing \"" + target + "\" - " + platform::error_message(file.error()), &ctx);
    return StoreOutcome::kConflict;
  }
  return existed ? StoreOutcome::kReplaced : StoreOutcome::kCreated;
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
      return ServeGet(services.logs, ctx);
    case kMethodPut:
      if (services.documents) services.documents->Forget(ctx.mapping.physical_path);
      Answer(ctx, StoreDocument(services.logs, ctx));
      return kStageDone;
    case kMethodDelete:
      if (services.documents) services.documents->Forget(ctx.mapping.physical_path);
      // A deletion that fails must not be reported as done.
      if (!platform::file_delete(ctx.mapping.physical_path)) {
        RespondFileError(services.logs, ctx, "deleting", ctx.mapping.physical_path, platform::last_error());
        return kStageDone;
      }
      Answer(ctx, StoreOutcome::kDeleted);
      return kStageDone;
    default:
      RespondError(ctx, 405, "Method not allowed on this resource");
      ctx.response.Set(kHdrAllow, "GET, HEAD");
      return kStageStop;
  }
}

RangeOutcome ApplyByteRanges(EngineLogs& logs, RequestContext& ctx) {
  const HttpMessage& req = ctx.request;
  HttpMessage& resp = ctx.response;
  const std::string* range = req.Get(kHdrRange);
  if (!range || (req.method != kMethodGet && req.method != kMethodHead) || ctx.mapping.kind != HandlerKind::kDocument ||
      !resp.body.IsDocument(ctx.mapping.physical_path))
    return RangeOutcome::kWhole;
  const uint64_t size = resp.body.document_info()->size;
  std::vector<ByteRange> ranges;
  if (ParseByteRanges(*range, size, &ranges) && ranges.size() == 1) {
    const ByteRange& r = ranges[0];
    resp.Set(kHdrContentRange, FormatContentRange(r, size));
    resp.SetStatus(206);
    resp.body.Narrow(r.first, r.length);
    resp.SetNumber(kHdrContentLength, r.length);
    return RangeOutcome::kPartial;
  }
  logs.Trace("Partial retrieval rejected: " + *range, &ctx);
  RespondError(ctx, 416);
  return RangeOutcome::kRefused;
}

}  // namespace brisvane
