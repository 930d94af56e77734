// From an admitted request to a response: URL check, virtual-server
// selection, mapping through the server's maps, authorization and the
// handler, then the finishing step.
#pragma once

#include <string>

#include "engine/core/http_message.h"

namespace brisvane {

class Engine;
class VirtualServerRuntime;
struct EngineSnapshot;
struct NamePair;

// Stage results of the pipeline.
enum StageResult : int { kStageStop = 0, kStageDone = 1, kStageDecline = 2, kStageRestart = 3 };

// Runs admission, the URL check and dispatch. False only for a request
// that was never parsed.
bool ProcessRequest(Engine& engine, RequestContext& ctx);

// The admission checks; false when a refusal has been prepared.
bool Admit(Engine& engine, RequestContext& ctx);

// The virtual server for a request, or nullptr when none is configured.
const VirtualServerRuntime* SelectVirtualServer(const EngineSnapshot& snapshot,
                                                const HttpMessage& request);

// Longest-prefix lookup in one map: returns the matching prefix length
// when it beats `best`, else 0, and sets `target` for a match.
size_t MapLookup(const std::vector<NamePair>& map, const std::string& url, std::string* target,
                 size_t best);

// Maps the URL path to a physical path and map kind.
void ResolvePath(const EngineSnapshot& snapshot, const VirtualServerRuntime& vs, RequestContext& ctx);

}  // namespace brisvane
