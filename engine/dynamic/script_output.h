// Turning what a script wrote into the response: its header lines into the
// response's headers and status, the rest of its output the body, streamed
// from the same file or pipe. Output that begins with "HTTP" is the whole
// response.
#pragma once

#include <string>
#include <string_view>

#include "engine/core/handler.h"
#include "engine/core/message_body.h"
#include "platform/scoped_handle.h"

namespace brisvane {

// Reads a script's header lines as they arrive, in pieces of any size.
// A line ends at "\n"; every "\r" is dropped; at most kMaxLine bytes of a
// line are kept. A line without ":" is ignored; a name from the engine's
// header table sets that header of the response (an empty value clears
// it), any other name is added to the extra headers. A "Status: NNN text"
// line sets the status and is not sent on as a header; a "Location" line
// without one gives 302.
class ScriptHeaderParser {
 public:
  static constexpr size_t kMaxLine = 8191;

  explicit ScriptHeaderParser(HttpMessage& response) : response_(response) {}

  // Takes bytes up to and including the empty line that ends the headers;
  // returns how many were used (fewer than given only when done()).
  size_t Feed(std::string_view data);
  // The output ended: a last unterminated line is a header line too.
  void Finish();
  bool done() const { return done_; }

 private:
  void Line(std::string_view line);

  HttpMessage& response_;
  std::string line_;
  bool done_ = false;
  bool location_ = false;
  bool status_ = false;
};

// Makes the script's output file the response, which owns it from now
// on. False when the file is missing or unusable; the response then holds
// 500 "CGI Output Error".
bool ProcessScriptOutput(RequestServices& services, RequestContext& ctx, platform::ScopedFile output);

// The same for output that another thread is still writing into a pipe:
// the response owns `read_end` from now on. The writer has kFirstBytesWait to send its
// first four bytes (then the header lines are read anyway); the headers and
// the body are waited for until `deadline`, and the body, of unknown
// length, ends when the writer closes its end. False when the handle is
// unusable (500 "CGI Output Error").
inline constexpr uint32_t kFirstBytesWait = 15000;
bool ProcessScriptPipeOutput(RequestServices& services, RequestContext& ctx, platform::ScopedPipe read_end,
                             PipeDeadline deadline);

}  // namespace brisvane
