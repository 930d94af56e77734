// From a URL path to a place on disk: the virtual server that serves the
// request, and the longest map prefix that takes its path. Every URL the
// engine turns into a path goes through MapUrl (the request itself,
// PATH_TRANSLATED, an extension's map request, an include's "virtual"), so
// a map rule cannot mean one thing here and another there.
#pragma once

#include <string>
#include <vector>

#include "engine/core/request_context.h"

namespace brisvane {

struct NamePair;
struct VirtualServerConfig;

// The host name a request asks for, from its absolute URL or Host header,
// without the port; "" when it has none or gives a dotted address.
std::string RequestHostName(const HttpMessage& req);
// The virtual server for a request, or nullptr when none is configured.
const VirtualServerRuntime* SelectVirtualServer(const EngineSnapshot& snapshot,
                                                const HttpMessage& request);

// Where a URL path leads through one virtual server's maps.
struct MappedUrl {
  HandlerKind kind = HandlerKind::kDocument;  // the handler of the map that took it
  // The entry's target followed by the rest of the URL as written; with no
  // matching entry, DocRoot followed by the URL in platform separators.
  std::string path;
  size_t prefix = 0;  // length of the matching URL prefix; 0 when none matched
};

// The maps in the dispatcher's order (Redir, Alias, CgiBin, CgiWin,
// ISAPIExt); a later map wins only with a strictly longer prefix. An empty
// URL is the document root itself.
MappedUrl MapUrl(const VirtualServerConfig& config, const std::string& url);

// A script and the path information after it.
struct ScriptSplit {
  std::string script_path;  // a prefix of the physical path that exists
  std::string script_url;   // the URL cut at the same place
  std::string path_info;    // the rest of the URL, from its "/" on
};

// Shortens the physical path (in platform separators) at its last separator
// and the URL at its last "/", in step, until the path names something that
// exists (a file or a directory). A path that exists as it is has no path
// information. False, with `split` untouched, when no prefix exists.
bool SplitScriptPath(const std::string& physical, const std::string& url, ScriptSplit* split);

// Maps the request's URL path through the virtual server's maps into
// ctx.mapping (kind, physical path, script URL and path information; for a
// Redir entry the escaped target).
void ResolvePath(const VirtualServerRuntime& vs, RequestContext& ctx);

// A URL path to a physical path in platform separators, mapped as a request
// for it would be, through the request's virtual server. False, with *path
// empty, for an empty URL, a request without a virtual server, or a URL
// that a Redir entry takes (it names no place on disk).
bool MapUrlToPhysicalPath(const RequestContext& ctx, const std::string& url, std::string* path);

// "/" becomes the platform's separator.
void ToPlatformSeparators(std::string& path);

}  // namespace brisvane
