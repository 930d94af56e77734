// Documents from the file system: GET and HEAD with Last-Modified and
// If-Modified-Since, PUT, DELETE, and byte ranges.
#pragma once

#include <string>

#include "engine/core/handler.h"

namespace brisvane {


// kStageDone when a response is ready to be finished, kStageStop after an
// error response.
StageResult ServeStaticDocument(RequestServices& services, RequestContext& ctx);

// Part of the finishing step: 2 when nothing applies, 1 when a partial
// response was set up, 0 after refusing with 416.
int ApplyByteRanges(EngineLogs& logs, RequestContext& ctx);

// Answers a failed file operation on `path` the way the existence check
// does: 2 and 3 give 404, 5 gives 403, anything else 500 with the
// system's text; writes `Error <verb> "path" - text` to the error log.
void RespondFileError(EngineLogs& logs, RequestContext& ctx, const char* verb, const std::string& path,
                      unsigned code);

}  // namespace brisvane
