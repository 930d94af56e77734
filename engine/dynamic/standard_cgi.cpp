#include "engine/dynamic/standard_cgi.h"

#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "engine/core/statistics.h"
#include "engine/core/temp_file.h"
#include "engine/core/virtual_server.h"
#include "engine/dynamic/cgi_request_info.h"
#include "engine/dynamic/child_input.h"
#include "engine/dynamic/script_output.h"
#include "engine/dynamic/script_process.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kLaunchError[] = "Standard CGI Launch Error";

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
  // The output needs no name: the child writes it through its handle.
  TempFile output;
  ChildInput input;
  if (!output.CreateUnnamed() || !input.Open(ctx.request.body)) {
    services.logs.Error("Standard CGI Launch: Error creating CGI handles!", &ctx);
    RespondError(ctx, 500, kLaunchError);
    return kStageStop;
  }
  bool timed_out = false;
  if (!RunScriptToCompletion(info, cmd.command_line, cmd.working_directory, input.stdio(),
                             platform::ChildStdio::file(output.handle()), &timed_out)) {
    const platform::os_error code = platform::last_error();
    services.logs.Error(LaunchFailedLine("Standard CGI", cmd.command_line, code), &ctx);
    RespondError(ctx, 500, kLaunchError);
    return kStageStop;
  }
  // What it wrote is still the answer; the log says why it is cut short.
  if (timed_out) services.logs.Error(TimedOutLine("Standard CGI", cmd.command_line, info.timeout_ms), &ctx);
  services.statistics.CountCgiExec();
  return ProcessScriptOutput(services, ctx, output.TakeForReading()) ? kStageDone : kStageStop;
}

}  // namespace brisvane
