// The handler for programs under a CgiWin directory: the request is
// described in a profile (INI) file, the body is in a content file, and
// the program writes its response to an output file that the server then
// reads as a script's output.
#pragma once

#include "engine/core/handler.h"

namespace brisvane {

// Runs the program and makes its output file the response. kStageDone when
// it did; kStageStop after an error response (500 "Windows CGI Launch
// Error" when the program could not be started, the wait failed or the
// time-out ended it; 500 "CGI Output Error" when its output is unusable).
// Every temporary file of the request is gone once the response is sent.
StageResult LaunchWindowsCgi(RequestServices& services, RequestContext& ctx);

}  // namespace brisvane
