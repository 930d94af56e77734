// The runner every child process of the engine goes through: one program,
// its CGI environment, its standard handles, and a wait bounded by the
// request's time-out that ends the program and everything it started.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/dynamic/cgi_request_info.h"
#include "platform/process.h"
#include "platform/scoped_handle.h"

namespace brisvane {

// The fixed size of a child's environment, the final empty string included.
inline constexpr size_t kEnvironmentBlockSize = 10240;
// The longest command line a child can be started with, its NUL included.
inline constexpr size_t kCommandLineLimit = 2048;

// Fills `block` (zero-filled by the caller) with the server's environment
// strings and then the CGI variables of `info`; returns the bytes used. A
// variable that does not fit is left out and the next one is tried; a
// server environment that does not fit is cut after its last whole
// string and nothing else is added, so the block always ends with its
// empty string.
size_t BuildEnvironmentBlock(const CgiRequestInfo& info, const std::string& server_environment,
                             std::array<char, kEnvironmentBlockSize>& block);

// The error line of a launch that failed: "<kind>: <what> - Launched
// failed; error code = <code>, <the system's text on one line>".
std::string LaunchFailedLine(const char* kind, const std::string& what, platform::os_error code);
// The error line of a program the time-out ended, in the same shape:
// "<kind>: <what> - Ended after CGITimeOut of <ms> ms; error code = ...".
std::string TimedOutLine(const char* kind, const std::string& what, uint32_t timeout_ms);

class ScriptProcess {
 public:
  explicit ScriptProcess(const CgiRequestInfo& params);
  // Waits for a child still running (bounded as Wait is).
  ~ScriptProcess();
  ScriptProcess(const ScriptProcess&) = delete;
  ScriptProcess& operator=(const ScriptProcess&) = delete;

  // Starts the program the command line names, in `working_directory`,
  // with `input` as standard input and `output` as standard output and
  // error. False with last_error(): kInvalidParameter for an empty command
  // line or directory, kFilenameExcedRange for a command line of
  // kCommandLineLimit characters or more, kInvalidHandle for an unusable
  // handle, or the system's reason.
  bool Start(const std::string& command_line, const std::string& working_directory,
             platform::ChildStdio input, platform::ChildStdio output);
  // Starts a program exactly as `start` describes it, with no CGI
  // environment added (a Windows CGI program reads its request from
  // files). Fails as Start does, without its length limit.
  bool StartAs(const platform::ProcessStart& start);
  // Waits for the end, at most the time-out (none when it is 0). True when
  // the program ended by itself (or never ran); false when it was ended
  // after the time-out, together with every process it started, with
  // last_error() kTimeout, or when the wait itself failed (its reason).
  bool Wait();
  bool IsRunning() const { return running_; }
  // Ends the program now, as a time-out would.
  void Terminate();
  platform::ProcessHandle process() const { return process_.get(); }
  platform::os_error last_error() const { return error_; }
  const CgiRequestInfo& parameters() const { return params_; }

 private:
  CgiRequestInfo params_;
  size_t environment_length_ = 0;
  std::array<char, kEnvironmentBlockSize> environment_{};
  bool Spawn(const platform::ProcessStart& start);

  bool running_ = false;
  platform::ScopedProcess process_;
  platform::os_error error_ = platform::err::kSuccess;
};

// Start, wait and release in one call. True when the program started
// (whether or not it had to be ended); false with platform::last_error()
// set when it could not be started. `timed_out` (when given) tells whether
// the wait ended it.
bool RunScriptToCompletion(const CgiRequestInfo& params, const std::string& command_line,
                           const std::string& working_directory, platform::ChildStdio input,
                           platform::ChildStdio output, bool* timed_out = nullptr);

}  // namespace brisvane
