// The error responder: sets a status (with the caller's text or the
// default one) and builds the page from the virtual server's template or
// the built-in one.
#pragma once

#include "engine/core/request_context.h"

namespace brisvane {

void RespondError(RequestContext& ctx, int code, const char* message = nullptr);

// The same page for a request that succeeded with something to tell (a
// document written or deleted): its status and text, from the template.
inline void RespondWithNotice(RequestContext& ctx, int code, const char* message) {
  RespondError(ctx, code, message);
}

// Makes `page` the response body with its "Content-Length" and the
// "Content-Type" "text/html": every page the engine composes goes out so.
void SetHtmlPage(HttpMessage& response, std::string page);

}  // namespace brisvane
