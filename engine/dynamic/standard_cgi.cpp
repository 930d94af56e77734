#include "engine/dynamic/standard_cgi.h"

#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "engine/core/statistics.h"
#include "engine/core/virtual_server.h"
#include "engine/dynamic/cgi_request_info.h"
#include "engine/dynamic/script_output.h"
#include "engine/dynamic/script_process.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kLaunchError[] = "Standard CGI Launch Error";

// A new "BSV" file in the temporary directory, open for reading and
// writing, removed by the system when its last handle closes.
platform::ScopedFile CreateOutputFile() {
  std::string dir, path;
  if (!platform::temp_directory(&dir) || !platform::temp_file_name(dir, "BSV", &path)) return {};
  platform::ScopedFile f(platform::file_open(path, platform::kGenericRead | platform::kGenericWrite, 0,
                                             platform::kCreateAlways, platform::kFlagDeleteOnClose));
  if (!f) platform::file_delete(path);
  return f;
}

// The child's standard input: the request body's file, or a pipe whose
// writing end is already closed, so that the program reads the end at once.
bool OpenInput(const RequestContext& ctx, platform::ScopedFile* file, platform::ScopedPipe* pipe) {
  const MessageBody& body = ctx.request.body;
  if ((body.kind() == MessageBody::kTemporaryFile || body.kind() == MessageBody::kExistingFile) &&
      !body.path().empty()) {
    // Shared for deletion: the body deletes its file when the request is
    // done, and on Windows a child's copy of this handle may outlive the
    // wait by a moment.
    file->reset(platform::file_open(body.path(), platform::kGenericRead,
                                    platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                                    platform::kOpenAlways, platform::kFlagSequentialScan));
    return static_cast<bool>(*file);
  }
  platform::PipeHandle r = platform::kInvalidPipe, w = platform::kInvalidPipe;
  if (!platform::pipe_create(&r, &w, true, false)) return false;
  pipe->reset(r);
  platform::pipe_close(w);
  return true;
}

}  // namespace

CgiCommand PrepareStandardCgi(RequestContext& ctx) {
  CgiCommand cmd;
  const std::string& path = ctx.mapping.physical_path;
  const size_t sep = path.rfind(platform::kPathSeparator);
  cmd.working_directory = sep == std::string::npos ? path : path.substr(0, sep);
  // The root directory itself when the script lies in it.
  if (sep == 0) cmd.working_directory = path.substr(0, 1);
  bool associated = false;
  cmd.command_line = ScriptCommandLine(ctx, path, &associated);
  if (associated) {
    ctx.mapping.script_url = ctx.request.path;
    if (!ctx.snapshot->settings.preserve_path_info) ctx.mapping.path_info = ctx.request.path;
  }
  const std::string& query = ctx.request.query;
  if (!query.empty() && query.find_first_of("=&") == std::string::npos) {
    std::string args = query;
    for (char& c : args)
      if (c == '+') c = ' ';
    cmd.command_line += " " + args;
  }
  return cmd;
}

StageResult LaunchStandardCgi(RequestServices& services, RequestContext& ctx) {
  const CgiCommand cmd = PrepareStandardCgi(ctx);
  services.logs.Trace("[Standard CGI Launch] WorkPath: " + cmd.working_directory + " CmdLine: " +
                          cmd.command_line + " Args: " + ctx.request.query +
                          " Path Info: " + ctx.mapping.path_info,
                      &ctx);
  CgiRequestInfo info;
  FillCgiRequestInfo(ctx, &info);
  if (cmd.command_line.find("&&") != std::string::npos) {
    services.logs.Error("Standard CGI Launch: Possible Security Hazard, Access Denied", &ctx);
    RespondError(ctx, 500, kLaunchError);
    return kStageStop;
  }
  platform::ScopedFile output = CreateOutputFile();
  platform::ScopedFile input_file;
  platform::ScopedPipe input_pipe;
  const bool have_input = OpenInput(ctx, &input_file, &input_pipe);
  if (!output || !have_input) {
    services.logs.Error("Standard CGI Launch: Error creating CGI handles!", &ctx);
    RespondError(ctx, 500, kLaunchError);
    return kStageStop;
  }
  const platform::ChildStdio input = input_file ? platform::ChildStdio::file(input_file.get())
                                                : platform::ChildStdio::pipe(input_pipe.get());
  bool timed_out = false;
  if (!RunScriptToCompletion(info, cmd.command_line, cmd.working_directory, input,
                             platform::ChildStdio::file(output.get()), &timed_out)) {
    const platform::os_error code = platform::last_error();
    services.logs.Error(LaunchFailedLine("Standard CGI", cmd.command_line, code), &ctx);
    RespondError(ctx, 500, kLaunchError);
    return kStageStop;
  }
  // What it wrote is still the answer; the log says why it is cut short.
  if (timed_out) services.logs.Error(TimedOutLine("Standard CGI", cmd.command_line, info.timeout_ms), &ctx);
  services.statistics.CountCgiExec();
  return ProcessScriptOutput(services, ctx, output.release()) ? kStageDone : kStageStop;
}

}  // namespace brisvane
