// The handler for programs under a CgiBin directory: one child process
// per request, the request body on its standard input, its output in a
// temporary file that becomes the response.
#pragma once

#include <string>

#include "engine/core/handler.h"

namespace brisvane {

// The command line and working directory a CgiBin request runs with. For
// an associated interpreter SCRIPT_NAME (and, without PreservePathInfo,
// PATH_INFO) become the request path, as the request is changed here. A
// query with neither "=" nor "&" becomes arguments, "+" read as a space.
struct CgiCommand {
  std::string command_line;
  std::string working_directory;
};
CgiCommand PrepareStandardCgi(RequestContext& ctx);

// Runs the program and makes its output the response. kStageDone when the
// output became the response; kStageStop after an error response (500
// "Standard CGI Launch Error" or "CGI Output Error").
StageResult LaunchStandardCgi(RequestServices& services, RequestContext& ctx);

}  // namespace brisvane
