#include "engine/core/redirection.h"

#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "engine/core/text_util.h"

namespace brisvane {
namespace {

// Shortcut files are small; a larger one is not read at all.
constexpr size_t kMaxShortcutSize = 65536;

void RespondRedirect(RequestContext& ctx, const std::string& location) {
  RespondError(ctx, 302);
  ctx.response.Clear(kHdrContentType);
  ctx.response.Set(kHdrLocation, location);
}

// A ".url" document sends the client to the URL it holds.
StageResult RedirectByShortcut(RequestServices& services, RequestContext& ctx) {
  HttpMessage& resp = ctx.response;
  const std::string& path = ctx.mapping.physical_path;
  if (!resp.body.IsDocument(path)) resp.body.OpenDocument(path);
  std::string text;
  std::string url;
  if (BodyReader(resp.body).ReadAll(&text, kMaxShortcutSize)) url = InternetShortcutUrl(text);
  if (url.empty()) {
    RespondError(ctx, 500);
    services.logs.Error("No URL in Internet Shortcut \"" + path + "\"", &ctx);
    return kStageStop;
  }
  RespondRedirect(ctx, EscapeUrlUnsafeBytes(url));
  return kStageDone;
}

}  // namespace

// Lines end at CR or LF alone too, so no line break can hide inside the value.
std::string InternetShortcutUrl(std::string_view text) {
  bool in_section = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line = TrimBoth(TrimBoth(text.substr(pos, end - pos), '\t'), ' ');
    pos = end + 1;
    if (!line.empty() && line.front() == '[') {
      in_section = EqualsIgnoreCase(line, "[InternetShortcut]");
      continue;
    }
    size_t eq = line.find('=');
    if (!in_section || eq == std::string::npos) continue;
    if (!EqualsIgnoreCase(TrimBoth(std::string_view(line).substr(0, eq), ' '), "URL")) continue;
    return TrimBoth(std::string_view(line).substr(eq + 1), ' ');
  }
  return std::string();
}


StageResult ServeRedirection(RequestServices& services, RequestContext& ctx) {
  if (ctx.mapping.kind != HandlerKind::kRedirection) return RedirectByShortcut(services, ctx);
  // The target was escaped when it was mapped.
  RespondRedirect(ctx, ctx.mapping.redirect_target);
  return kStageDone;
}

}  // namespace brisvane
