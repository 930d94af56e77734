// Redirections: a Redir map entry, a directory named without its final
// "/", and Internet Shortcut (".url") documents.
#pragma once

#include <string>
#include <string_view>

#include "engine/core/handler.h"

namespace brisvane {

// 302 to the mapped target, or to the URL a shortcut file holds (500 when
// it holds none; its path on disk is never shown).
StageResult ServeRedirection(RequestServices& services, RequestContext& ctx);

// The query as it goes after "?" in a Location ("" for none): its "&" and
// "=" keep their meaning, its unsafe bytes do not pass raw.
std::string LocationQuerySuffix(const std::string& query);

// An absolute, escaped Location on this server: the scheme and port of the
// listener a client should use (https and SSLPort when `secure`, else http
// and Port; the scheme's default port is not written), `host`, the decoded
// URL path `path` and the request's query.
std::string LocationOnThisServer(const RequestContext& ctx, std::string_view host, bool secure,
                                 const std::string& path);

// A plain-HTTP request to a virtual server that sends such clients to its
// TLS listener gets 301 to the same URL there; true when it did. The host
// is the one the client asked for (its port dropped), else SiteAddress.
bool RedirectToSecureListener(RequestContext& ctx);

// The "URL=" value of the "[InternetShortcut]" section of a ".url" file,
// or "" when it has none.
std::string InternetShortcutUrl(std::string_view text);

}  // namespace brisvane
