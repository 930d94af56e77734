// From a URL path to a place on disk: the virtual server that serves the
// request, and the longest map prefix that takes its path.
#pragma once

#include <string>
#include <vector>

#include "engine/core/request_context.h"

namespace brisvane {

struct NamePair;

// The virtual server for a request, or nullptr when none is configured.
const VirtualServerRuntime* SelectVirtualServer(const EngineSnapshot& snapshot,
                                                const HttpMessage& request);

// Longest-prefix lookup in one map: returns the matching prefix length
// when it beats `best`, else 0, and sets `target` for a match.
size_t MapLookup(const std::vector<NamePair>& map, const std::string& url, std::string* target,
                 size_t best);

// Maps the request's URL path through the virtual server's maps into
// ctx.mapping (kind, physical path, script URL and path information; for a
// Redir entry the escaped target).
void ResolvePath(const VirtualServerRuntime& vs, RequestContext& ctx);

// "/" becomes the platform's separator.
void ToPlatformSeparators(std::string& path);

}  // namespace brisvane
