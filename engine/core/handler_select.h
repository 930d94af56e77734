// Choosing the handler once the URL is mapped: built-in URLs, the
// existence check, directories (redirect, default document or listing)
// and the media type of a document.
#pragma once

#include "engine/core/handler.h"

namespace brisvane {

// Sets ctx.handler (and, for documents, the response's media type).
// kStageDone when a handler was chosen; kStageStop with the error response
// prepared when the request ends here (bad URL, a file that cannot be
// read, a directory without default document or listing).
StageResult SelectHandler(RequestServices& services, RequestContext& ctx);

}  // namespace brisvane
