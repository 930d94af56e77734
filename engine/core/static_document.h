// Documents from the file system: GET and HEAD with Last-Modified and
// If-Modified-Since, PUT, DELETE, and byte ranges.
#pragma once

#include <string>

#include "engine/core/handler.h"

namespace brisvane {

// kStageDone when a response is ready to be finished, kStageStop after an
// error response.
StageResult ServeStaticDocument(RequestServices& services, RequestContext& ctx);

// What the "Range" header of a request came to.
enum class RangeOutcome {
  kWhole,    // nothing to apply: no header, or not the plain document
  kPartial,  // 206 with the one range asked for
  kRefused,  // 416: no range that can be served, or more than one
};
// Part of the finishing step.
RangeOutcome ApplyByteRanges(EngineLogs& logs, RequestContext& ctx);

// Answers a failed file operation on `path` the way the existence check
// does: 2 and 3 give 404, 5 gives 403, anything else 500 with the
// system's text; writes `Error <verb> "path" - text` to the error log.
void RespondFileError(EngineLogs& logs, RequestContext& ctx, const char* verb, const std::string& path,
                      unsigned code);

}  // namespace brisvane
