// The handler for ISAPI extension libraries: each library is loaded once
// and kept in an engine-wide cache; each request runs the library's
// HttpExtensionProc on a thread that serves nothing else while it runs
// (threads park between runs for the next one), and what the extension writes
// to the client goes through a pipe into the script-output processing, as
// a CGI program's output does.
#pragma once

#include <cstdint>

#include "engine/core/handler.h"

namespace brisvane {

// Runs the extension the request maps to and makes its output the
// response. kStageDone when the output became the response; kStageStop
// after an error response (500 "ISAPI Launch Error" when the pipe or the
// body file cannot be opened, 500 "ISAPI Extension Error" when the library
// cannot be loaded, lacks an entry point or no thread can be started, 503
// "ISAPI Extension Busy" while 16 runs are stuck past CGITimeOut).
StageResult LaunchIsapiExtension(RequestServices& services, RequestContext& ctx);

// Unloads every cached library that no request is running in, after
// calling its TerminateExtension with HSE_TERM_MUST_UNLOAD.
void UnloadIdleIsapiExtensions();

// At engine stop: waits up to `wait_ms` for the running extension threads,
// then unloads the idle libraries and ends the parked threads. A library whose extension is still
// running stays loaded, and that run's context stays valid until its
// thread returns.
void EndIsapiExtensions(uint32_t wait_ms);

// Extension runs, in any engine of the process, still going past their
// CGITimeOut.
uint32_t StuckIsapiExtensionRuns();

}  // namespace brisvane
