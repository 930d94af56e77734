#include "engine/core/error_page.h"

#include "engine/core/virtual_server.h"
#include "engine/core/error_template.h"

namespace brisvane {

void RespondError(RequestContext& ctx, int code, const char* message) {
  HttpMessage& resp = ctx.response;
  resp.SetStatus(code, message);
  if (!ctx.virtual_server) {
    // Refused before a virtual server was chosen: no page, but the client
    // must still learn where the response ends.
    resp.body.Reset();
    resp.Clear(kHdrContentType);
    resp.SetNumber(kHdrContentLength, 0);
    return;
  }
  const VirtualServerRuntime& vs = *ctx.virtual_server;
  std::string_view tmpl = vs.use_error_template() ? std::string_view(vs.error_template())
                                                  : std::string_view(kBuiltinErrorTemplate);
  const std::string* server = resp.Get(kHdrServer);
  std::string page = ExpandErrorTemplate(tmpl, code, resp.status_text ? resp.status_text->c_str() : nullptr,
                                         vs.config().admin_email, server ? *server : std::string());
  SetHtmlPage(resp, std::move(page));
}

void SetHtmlPage(HttpMessage& response, std::string page) {
  response.SetNumber(kHdrContentLength, page.size());
  response.Set(kHdrContentType, "text/html");
  response.body.SetMemory(std::move(page));
}

}  // namespace brisvane
