// Child processes started from a Windows command line, with chosen
// standard handles, environment and working directory; waited for with a
// time-out and terminated together with the processes they started.
// Failures set last_error() with Windows codes.
//
// A ProcessHandle is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/pipe.h"

namespace platform {

using ProcessHandle = uintptr_t;
inline constexpr ProcessHandle kInvalidProcess = 0;

// The exit code of a terminated child (-1 as a Windows exit code). On
// POSIX a child ended by any signal reports it too.
inline constexpr uint32_t kTerminatedExitCode = 0xFFFFFFFFu;

// One standard handle of a child: an open file, a pipe end, or none (the
// null device). The child gets a copy; the caller keeps and closes its own.
struct ChildStdio {
  enum class Kind : uint8_t { kNone, kFile, kPipe };
  Kind kind = Kind::kNone;
  uintptr_t handle = 0;

  static ChildStdio none() { return {}; }
  static ChildStdio file(FileHandle f) { return {Kind::kFile, f}; }
  static ChildStdio pipe(PipeHandle p) { return {Kind::kPipe, p}; }
};

struct ProcessStart {
  // The program is the first token, found as CreateProcess finds it when
  // no separate program name is given; the rest are its arguments, split
  // with the Microsoft C runtime rules (split_command_line). No shell is
  // involved on any platform. On POSIX a first token without "/" is looked
  // up in PATH, and a relative one is taken from the caller's directory.
  std::string command_line;
  // When not empty, the exact argument vector of a POSIX child (the first
  // names the program, found as above), so that arguments holding quotes,
  // backslashes or blanks arrive unchanged; command_line is then used on
  // Windows only and must name the same program.
  std::vector<std::string> arguments;
  // The child's working directory; empty for the caller's.
  std::string working_directory;
  // "NAME=value\0...NAME=value\0\0". Empty: the child inherits the
  // caller's environment (an empty environment cannot be asked for). A
  // missing final terminator is supplied.
  std::string environment;
  ChildStdio input, output, error;
  // False: the child is handed no standard handles at all and the three
  // above are not used. On Windows it then inherits nothing and gets no
  // standard handles; on POSIX descriptors 0, 1 and 2 are the null device.
  bool standard_handles = true;
};

// Starts the child, or returns kInvalidProcess with last_error():
// kInvalidParameter for an empty command line, kInvalidHandle for a
// standard handle that is invalid, kDirectory for a working directory that
// is not one, kFileNotFound/kPathNotFound for a missing program,
// kAccessDenied for one that may not be run. On POSIX the child leads a
// process group of its own and has exactly descriptors 0, 1 and 2; on
// Windows it belongs to a job object of its own (when the system allows
// one) and has no window.
ProcessHandle process_spawn(const ProcessStart& start);

enum class WaitResult { kEnded, kTimedOut, kFailed };

// Waits up to `timeout_ms` (kWaitInfinite: without limit) for the child to
// end; on kEnded `exit_code` (when given) receives its exit code. A child
// that ended is reaped at once on POSIX.
WaitResult process_wait(ProcessHandle p, uint32_t timeout_ms, uint32_t* exit_code);

// Ends a child that is still running, with kTerminatedExitCode, and with
// it every process it started (its process group on POSIX, its job on
// Windows). Returns at once; process_wait sees the end. Nothing happens to
// a child that has ended by itself, nor to what it left running.
bool process_terminate(ProcessHandle p);

// The system's process id of the child.
uint32_t process_id(ProcessHandle p);

// Releases the handle. A child still running is terminated as above
// first, and on POSIX reaped before this returns, so no zombie is left.
void process_close(ProcessHandle p);

// Splits a Windows command line into arguments the way the Microsoft C
// runtime builds argv: blanks (space, tab) separate arguments outside
// double quotes; 2n backslashes before a quote give n backslashes and the
// quote opens or closes quoting, 2n+1 give n backslashes and a literal
// quote; other backslashes are literal; "" inside quotes is a literal
// quote. The first argument, the program, ends at the first blank outside
// quotes and takes backslashes literally.
std::vector<std::string> split_command_line(std::string_view line);

}  // namespace platform
