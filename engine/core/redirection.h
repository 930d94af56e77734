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

// The "URL=" value of the "[InternetShortcut]" section of a ".url" file,
// or "" when it has none.
std::string InternetShortcutUrl(std::string_view text);

}  // namespace brisvane
