#include "engine/dynamic/script_process.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/system.h"

namespace brisvane {
namespace {

// Appends "name=value" and its NUL when it leaves room for the block's
// final empty string.
void Append(std::array<char, kEnvironmentBlockSize>& block, size_t* used, std::string_view name,
            std::string_view value) {
  const size_t length = name.size() + 1 + value.size();
  if (*used + length + 2 >= block.size()) return;
  char* p = block.data() + *used;
  std::memcpy(p, name.data(), name.size());
  p[name.size()] = '=';
  std::memcpy(p + name.size() + 1, value.data(), value.size());
  p[length] = '\0';
  *used += length + 1;
}

}  // namespace

size_t BuildEnvironmentBlock(const CgiRequestInfo& info, const std::string& server_environment,
                             std::array<char, kEnvironmentBlockSize>& block) {
  size_t used = 0;
  for (size_t i = 0; i < server_environment.size();) {
    size_t end = server_environment.find('\0', i);
    if (end == std::string::npos) end = server_environment.size();
    const size_t length = end - i;
    if (length == 0) break;
    // The last byte stays NUL: the block's final empty string.
    if (used + length + 1 >= block.size()) return used;
    std::memcpy(block.data() + used, server_environment.data() + i, length);
    block[used + length] = '\0';
    used += length + 1;
    i = end + 1;
  }
  const std::pair<const char*, const std::string*> vars[] = {
      {"SERVER_SOFTWARE", &info.server_software}, {"SERVER_NAME", &info.server_name},
      {"GATEWAY_INTERFACE", nullptr},             {"SERVER_PROTOCOL", &info.server_protocol},
      {"SERVER_PORT", &info.server_port},         {"REQUEST_METHOD", &info.request_method},
      {"PATH_INFO", &info.path_info},             {"PATH_TRANSLATED", &info.path_translated},
      {"SCRIPT_NAME", &info.script_name},         {"QUERY_STRING", &info.query_string},
      {"REMOTE_ADDR", &info.remote_addr},         {"REMOTE_HOST", &info.remote_host},
      {"AUTH_TYPE", &info.auth_type},             {"REMOTE_USER", &info.remote_user},
      {"REMOTE_IDENT", &info.remote_ident},       {"CONTENT_TYPE", &info.content_type},
      {"CONTENT_LENGTH", &info.content_length},   {"HTTP_ACCEPT", &info.accept},
      {"HTTP_ACCEPT_LANGUAGE", &info.accept_language}, {"HTTP_COOKIE", &info.cookie},
      {"HTTP_REFERER", &info.referer},            {"HTTP_USER_AGENT", &info.user_agent},
      {"DOCUMENT_ROOT", &info.document_root}};
  for (const auto& [name, value] : vars) Append(block, &used, name, value ? *value : "CGI/1.1");
  if (!info.document_uri.empty()) Append(block, &used, "DOCUMENT_URI", info.document_uri);
  if (!info.https.empty()) Append(block, &used, "HTTPS", info.https);
  // Interpreters that refuse to run unless a server started them (php-cgi
  // with its default cgi.force_redirect), and that find their script here
  // rather than on their command line.
  Append(block, &used, "REDIRECT_STATUS", "200");
  if (!info.script_filename.empty()) Append(block, &used, "SCRIPT_FILENAME", info.script_filename);
  return used;
}

namespace {

std::string ScriptErrorLine(const char* kind, const std::string& what, const std::string& event,
                            platform::os_error code) {
  std::string text = platform::error_message(code);
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return std::string(kind) + ": " + what + " - " + event + "; error code = " + std::to_string(code) + ", " + text;
}

}  // namespace

std::string LaunchFailedLine(const char* kind, const std::string& what, platform::os_error code) {
  return ScriptErrorLine(kind, what, "Launched failed", code);
}

std::string TimedOutLine(const char* kind, const std::string& what, uint32_t timeout_ms) {
  return ScriptErrorLine(kind, what, "Ended after CGITimeOut of " + std::to_string(timeout_ms) + " ms",
                         platform::err::kTimeout);
}

ScriptProcess::ScriptProcess(const CgiRequestInfo& params) : params_(params) {}

ScriptProcess::~ScriptProcess() {
  if (running_) Wait();
}

bool ScriptProcess::Start(const std::string& command_line, const std::string& working_directory,
                          platform::ChildStdio input, platform::ChildStdio output) {
  auto fail = [this](platform::os_error e) {
    error_ = e;
    platform::set_last_error(e);
    return false;
  };
  if (running_) return fail(platform::err::kInvalidParameter);
  if (command_line.empty() || working_directory.empty()) return fail(platform::err::kInvalidParameter);
  if (command_line.size() >= kCommandLineLimit) return fail(platform::err::kFilenameExcedRange);
  environment_.fill('\0');
  environment_length_ = BuildEnvironmentBlock(params_, platform::environment_strings(), environment_);
  platform::ProcessStart start;
  start.command_line = command_line;
  start.working_directory = working_directory;
  start.environment.assign(environment_.data(), environment_length_ + 1);
  start.input = input;
  start.output = output;
  start.error = output;
  return Spawn(start);
}

bool ScriptProcess::StartAs(const platform::ProcessStart& start) {
  if (running_) {
    error_ = platform::err::kInvalidParameter;
    platform::set_last_error(error_);
    return false;
  }
  return Spawn(start);
}

bool ScriptProcess::Spawn(const platform::ProcessStart& start) {
  process_.reset(platform::process_spawn(start));
  if (!process_) {
    error_ = platform::last_error();
    return false;
  }
  running_ = true;
  return true;
}

bool ScriptProcess::Wait() {
  if (!running_) return true;
  // Waited for in slices, so a stopping engine ends the program within one
  // slice; the program's own end still wakes the wait at once.
  constexpr uint32_t kSliceMs = 100;
  const RequestContext* request = params_.request;
  const bool unlimited = params_.timeout_ms == 0;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(params_.timeout_ms);
  platform::WaitResult r = platform::WaitResult::kTimedOut;
  for (;;) {
    if (request && request->Cancelled()) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (!unlimited && left <= 0) break;
    uint32_t slice = unlimited ? platform::kWaitInfinite : static_cast<uint32_t>(left);
    if (request) slice = std::min(slice, kSliceMs);
    r = platform::process_wait(process_.get(), slice, nullptr);
    if (r != platform::WaitResult::kTimedOut) break;
  }
  if (r != platform::WaitResult::kEnded) {
    error_ = r == platform::WaitResult::kTimedOut ? platform::err::kTimeout : platform::last_error();
    // Ends the group and reaps the child before the handle goes.
    platform::process_terminate(process_.get());
    process_.reset();
    running_ = false;
    return false;
  }
  process_.reset();
  running_ = false;
  return true;
}

void ScriptProcess::Terminate() {
  if (!running_) return;
  platform::process_terminate(process_.get());
  process_.reset();
  running_ = false;
}

bool RunScriptToCompletion(const CgiRequestInfo& params, const std::string& command_line,
                           const std::string& working_directory, platform::ChildStdio input,
                           platform::ChildStdio output, bool* timed_out) {
  ScriptProcess runner(params);
  if (!runner.Start(command_line, working_directory, input, output)) {
    platform::set_last_error(runner.last_error());
    return false;
  }
  const bool ended = runner.Wait();
  if (timed_out) *timed_out = !ended;
  return true;
}

}  // namespace brisvane
