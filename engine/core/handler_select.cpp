#include "engine/core/handler_select.h"

#include "config/type_maps.h"
#include "engine/core/document_cache.h"
#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "engine/core/mapping.h"
#include "engine/core/redirection.h"
#include "engine/core/static_document.h"
#include "engine/core/text_util.h"
#include "engine/core/virtual_server.h"
#include "platform/file.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kSep = platform::kPathSeparator;

bool IsGetOrHead(int32_t method) { return method == kMethodGet || method == kMethodHead; }

bool IsDirectory(const std::string& path) {
  uint32_t a = platform::file_attributes(path);
  return a != platform::kInvalidAttributes && (a & platform::kAttrDirectory);
}

bool Exists(const std::string& path) {
  return platform::file_attributes(path) != platform::kInvalidAttributes;
}

bool SpecialUrl(RequestContext& ctx) {
  if (ctx.proxy) return false;
  if (ctx.request.path == "/~stats") {
    ctx.handler = HandlerKind::kStatistics;
    return true;
  }
  if (ctx.request.path == "/~admin") {
    ctx.handler = HandlerKind::kAdmin;
    return true;
  }
  return false;
}

// Opens what the mapping names (a directory counts as present), or
// answers as the file's failure deserves.
bool OpenMapped(RequestServices& services, RequestContext& ctx, platform::ScopedFile* file) {
  const std::string& path = ctx.mapping.physical_path;
  file->reset(platform::file_open(path, platform::kGenericRead,
                                  platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                                  platform::kOpenExisting, 0));
  if (*file) return true;
  unsigned code = platform::last_error();
  if (code == 1) {
    std::string text = platform::error_message(code);
    RespondError(ctx, 500, text.c_str());
    services.logs.Error("Error reading \"" + path + "\" - " + text, &ctx);
  } else {
    RespondFileError(services.logs, ctx, "reading", path, code);
  }
  return false;
}

// The first name of the virtual server's default-document list that exists
// in `directory`, or "".
std::string FindDefaultDocument(const std::string& directory, const std::string& list) {
  for (std::string_view name : SplitList(list, ",;", " ")) {
    if (name.empty()) break;  // the list ends at its first empty name
    if (Exists(directory + std::string(name))) return std::string(name);
  }
  return std::string();
}

// A directory named without its final "/" is redirected to the name with
// it, on the listener the request came in on.
void RedirectToDirectory(RequestContext& ctx) {
  Mapping& m = ctx.mapping;
  m.redirect_target = LocationOnThisServer(ctx, ctx.virtual_server->config().site_address, ctx.secure,
                                           ctx.request.path + "/");
  m.physical_path = m.redirect_target;
  m.kind = HandlerKind::kRedirection;
  ctx.handler = HandlerKind::kRedirection;
}

// A directory ending in a separator: its default document, else a listing
// when allowed. False with the 404 prepared when neither.
bool ResolveDirectory(RequestServices& services, RequestContext& ctx) {
  Mapping& m = ctx.mapping;
  const VirtualServerConfig& config = ctx.virtual_server->config();
  std::string found = FindDefaultDocument(m.physical_path, config.default_index);
  if (!found.empty()) {
    m.physical_path += found;
    ctx.request.path += found;
    return true;
  }
  if ((config.auto_index & 1) && ctx.auth.listing_allowed) {
    ctx.handler = HandlerKind::kDirectoryListing;
    return true;
  }
  RespondError(ctx, 404);
  services.logs.Error("Default file not found: " + m.physical_path, &ctx);
  return false;
}

StageResult SelectDocumentHandler(RequestServices& services, RequestContext& ctx,
                                  platform::ScopedFile& file) {
  Mapping& m = ctx.mapping;
  platform::FileInfo info;
  const bool have_info = file && platform::file_info(file.get(), &info);
  const bool directory = have_info ? (info.attributes & platform::kAttrDirectory) != 0
                                   : IsDirectory(m.physical_path);
  if (directory) {
    if (m.physical_path.back() != kSep) {
      RedirectToDirectory(ctx);
      return kStageDone;
    }
    if (!ResolveDirectory(services, ctx)) return kStageStop;
    if (ctx.handler == HandlerKind::kDirectoryListing) return kStageDone;
  } else if (have_info) {
    std::shared_ptr<const CachedDocument> kept;
    if (services.documents && IsGetOrHead(ctx.request.method))
      kept = services.documents->Keep(m.physical_path, file.get());
    if (kept) {
      ctx.response.body.SetKeptDocument(m.physical_path, kept->content, kept->info);
    } else {
      // The document keeps the handle the check opened.
      ctx.response.body.SetDocument(m.physical_path, std::move(file), info);
    }
  }
  const std::string type = MimeTypeFor(ctx.snapshot->settings.type_map, m.physical_path);
  ctx.response.Set(kHdrContentType, type);
  ctx.handler = HandlerKindOfType(type);
  return kStageDone;
}

// GET and HEAD of a small document read before and unchanged since: no
// file is opened.
bool ServeKeptDocument(RequestServices& services, RequestContext& ctx) {
  if (!services.documents || !IsGetOrHead(ctx.request.method)) return false;
  const std::string& path = ctx.mapping.physical_path;
  std::shared_ptr<const CachedDocument> kept = services.documents->Find(path);
  if (!kept) return false;
  ctx.response.body.SetKeptDocument(path, kept->content, kept->info);
  const std::string type = MimeTypeFor(ctx.snapshot->settings.type_map, path);
  ctx.response.Set(kHdrContentType, type);
  ctx.handler = HandlerKindOfType(type);
  return true;
}

}  // namespace

StageResult SelectHandler(RequestServices& services, RequestContext& ctx) {
  if (SpecialUrl(ctx)) return kStageDone;
  Mapping& m = ctx.mapping;
  if (ctx.proxy) {
    ctx.handler = HandlerKind::kProxy;
    return kStageDone;
  }
  if (m.physical_path.empty()) {
    RespondError(ctx, 400);
    services.logs.Error("Bad URL in request", &ctx);
    return kStageStop;
  }
  if (m.kind == HandlerKind::kRedirection) {
    m.redirect_target += LocationQuerySuffix(ctx.request.query);
    m.physical_path = m.redirect_target;
    ctx.handler = HandlerKind::kRedirection;
    return kStageDone;
  }
  ToPlatformSeparators(m.physical_path);
  if (m.kind == HandlerKind::kDocument && ServeKeptDocument(services, ctx)) return kStageDone;
  platform::ScopedFile file;
  if (ctx.request.method != kMethodPut && !OpenMapped(services, ctx, &file)) return kStageStop;
  if (IsScriptHandler(m.kind)) {
    ctx.handler = m.kind;
    return kStageDone;
  }
  if (m.kind == HandlerKind::kDocument) return SelectDocumentHandler(services, ctx, file);
  // No map names any other handler; kept so a new map kind cannot slip
  // through as a document.
  RespondError(ctx, 500);
  services.logs.Error("Bad map type: " + m.physical_path, &ctx);
  return kStageStop;
}

}  // namespace brisvane
