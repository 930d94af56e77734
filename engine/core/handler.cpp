#include "engine/core/handler.h"

namespace brisvane {

HandlerKind HandlerKindOfType(std::string_view media_type) {
  // A type map may name any handler type; everything else is a document.
  // Proxy refusal is only for requests that are proxy requests.
  if (media_type == "wwwserver/stdcgi") return HandlerKind::kStdCgi;
  if (media_type == "wwwserver/wincgi") return HandlerKind::kWinCgi;
  if (media_type == "wwwserver/isapi") return HandlerKind::kIsapi;
  if (media_type == "wwwserver/redirection") return HandlerKind::kRedirection;
  if (media_type == "wwwserver/autoindex") return HandlerKind::kDirectoryListing;
  if (media_type == "wwwserver/stats") return HandlerKind::kStatistics;
  if (media_type == "wwwserver/admin") return HandlerKind::kAdmin;
  return HandlerKind::kDocument;
}

bool IsIncludeMediaType(std::string_view media_type) {
  return media_type == "wwwserver/html-ssi" || media_type == "text/ssi";
}

}  // namespace brisvane
