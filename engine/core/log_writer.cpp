#include "engine/core/log_writer.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "config/server_settings.h"
#include "engine/core/http_date.h"
#include "engine/core/request_context.h"
#include "engine/core/virtual_server.h"
#include "platform/message_box.h"
#include "platform/system.h"

namespace brisvane {

namespace {

constexpr size_t kLogBufferLimit = 65536;

}  // namespace

LogFile::LogFile(bool buffered) : buffered_(buffered) {
  if (buffered_) writer_ = std::thread([this] { RunWriter(); });
}

LogFile::~LogFile() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
  Close();
}

void LogFile::RunWriter() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!quit_) {
    if (pending_.empty() || delay_ms_ == 0) {
      wake_.wait(lock);
      continue;
    }
    // The first line waits a moment, so that one write carries many.
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms_);
    wake_.wait_until(lock, due, [this] { return quit_; });
    if (delay_ms_ != 0) WriteOutLocked();
  }
}

void LogFile::SetWriteDelay(uint32_t ms) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    delay_ms_ = ms;
  }
  wake_.notify_all();
}

bool LogFile::Open(const std::string& path) {
  Close();
  std::lock_guard<std::mutex> lock(mu_);
  // The whole name, never a part of it: the system refuses one it cannot
  // hold, where a shortened one would open some other file.
  file_.reset(platform::file_open(path, platform::kGenericWrite, platform::kShareRead,
                                  platform::kOpenAlways, 0));
  if (!file_) return false;
  platform::file_seek_end(file_.get());
  if (buffered_) pending_.reserve(kLogBufferLimit + 4096);
  return true;
}

void LogFile::WriteOutLocked() {
  if (pending_.empty()) return;
  if (file_) platform::file_write(file_.get(), pending_.data(), pending_.size());
  pending_.clear();  // keeps its memory for the next lines
}

void LogFile::Write(const std::string& line) {
  if (buffered_) {
    std::lock_guard<std::mutex> lock(mu_);
    // Tested under the lock: a Flush may be reopening the file right now.
    if (!file_) return;
    const bool first = pending_.empty();
    pending_.append(line).append("\r\n");
    if (pending_.size() >= kLogBufferLimit)
      WriteOutLocked();
    else if (first)
      wake_.notify_one();
    return;
  }
  // One write of line and end together, so no other writer can come
  // between them.
  std::string out = line + "\r\n";
  std::lock_guard<std::mutex> lock(mu_);
  if (!file_) return;
  platform::file_write(file_.get(), out.data(), out.size());
}

void LogFile::WriteBuffered() {
  std::lock_guard<std::mutex> lock(mu_);
  WriteOutLocked();
}

void LogFile::Flush() {
  std::lock_guard<std::mutex> lock(mu_);
  WriteOutLocked();
  if (file_) platform::file_flush(file_.get());
}

void LogFile::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  WriteOutLocked();
  file_.reset();
}

bool LogFile::IsOpen() {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<bool>(file_);
}

std::string FormatLogTimeStamp(int year, int month, int day, int hour, int minute, int second,
                               int32_t bias) {
  int hhmm = (bias / 60) * 100 + (bias % 60);
  char buf[64];
  const char* mon = (month >= 1 && month <= 12) ? kMonthNames[month - 1] : "???";
  if (hhmm > 0)
    std::snprintf(buf, sizeof buf, "%02d/%s/%04d:%02d:%02d:%02d -%04d", day, mon, year, hour, minute,
                  second, hhmm);
  else
    std::snprintf(buf, sizeof buf, "%02d/%s/%04d:%02d:%02d:%02d +%04d", day, mon, year, hour, minute,
                  second, -hhmm);
  return buf;
}

std::string LogTimeStampNow() {
  // Every logged request needs the stamp; it changes once a second, and a
  // connection thread logs many requests in a row.
  thread_local int64_t cached_second = -1;
  thread_local std::string cached;
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (now != cached_second) {
    platform::LocalTime t = platform::local_time_now();
    cached = FormatLogTimeStamp(t.year, t.month, t.day, t.hour, t.minute, t.second,
                                platform::time_zone_bias());
    cached_second = now;
  }
  return cached;
}

void EngineLogs::SetHook(LogHookFunction hook, int32_t level, uintptr_t user) {
  hook_.store(hook ? std::make_shared<const Hook>(Hook{hook, level, user}) : nullptr);
  hook_level_.store(hook ? level : kNoHook);
}

bool EngineLogs::Hooked(int32_t min_level) const { return hook_level_.load(std::memory_order_relaxed) >= min_level; }

void EngineLogs::CallHook(const std::string& line, int32_t min_level) {
  // Called without any log lock held: the host's hook takes its own.
  std::shared_ptr<const Hook> hook = hook_.load();
  if (hook && hook->level >= min_level) hook->function(line.c_str(), hook->user);
}

void EngineLogs::Open(const ServerSettings& s) {
  struct Item {
    LogFile* file;
    std::atomic<bool>* on;
    uint32_t mask;
    const std::string* path;
    const char* text;
  };
  const Item items[3] = {
      {&access_, &access_on_, s.access_log_mask, &s.access_log_file_name,
       "Error opening access log. Check log file path in server properties. You may be running two "
       "instances of Brisvane on the same configuration."},
      {&error_, &error_on_, s.error_log_mask, &s.error_log_file_name,
       "Error opening error log. Check log file path in server properties. You may be running two "
       "instances of Brisvane on the same configuration."},
      {&trace_, &trace_on_, s.trace_log_mask, &s.trace_log_file_name,
       "Error opening trace log. Check log file path in server properties. You may be running two "
       "instances of Brisvane on the same configuration."}};
  for (const Item& item : items) {
    item.on->store(item.mask != 0);
    if (item.mask != 0) {
      if (!item.file->Open(*item.path))
        platform::notify_failure(item.text, "Error", platform::kMbIconError);
    } else {
      item.file->Close();
    }
  }
  Flush();
}

void EngineLogs::Close() {
  access_.Close();
  error_.Close();
  trace_.Close();
}

void EngineLogs::Flush() {
  access_.Flush();
  error_.Flush();
  trace_.Flush();
}

void EngineLogs::WriteBuffered() { access_.WriteBuffered(); }

void EngineLogs::SetAccessWriteDelay(uint32_t ms) { access_.SetWriteDelay(ms); }

namespace {

void AppendHexEscape(std::string* out, unsigned char c) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02x", c);
  out->append(hex);
}

// Fields must not let a client forge the line's layout: a quote or a
// backslash is written after a backslash, and a byte outside the printable
// range (the blank too, in a field that blanks delimit) as "\xhh".
void AppendEscaped(std::string* out, std::string_view value, bool blank_ends_field) {
  for (unsigned char c : value) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 32 || c > 126 || (c == ' ' && blank_ends_field)) {
      AppendHexEscape(out, c);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

void AppendQuoted(std::string* out, const std::string* value) {
  out->push_back('"');
  if (value) AppendEscaped(out, *value, false);
  out->push_back('"');
}

// Error and trace messages carry client text (paths, header values) among
// the engine's own words and Windows paths: only the bytes that could end
// the line or garble it are written out.
std::string Printable(const std::string& message) {
  std::string out;
  out.reserve(message.size());
  for (unsigned char c : message) {
    if (c < 32 || c > 126)
      AppendHexEscape(&out, c);
    else
      out.push_back(static_cast<char>(c));
  }
  return out;
}

// The name comes from a reverse look-up, which the client's network owns.
std::string Client(const RequestContext& ctx) {
  std::string out;
  AppendEscaped(&out, ctx.request.remote_host.empty() ? ctx.request.remote_address : ctx.request.remote_host,
                true);
  return out;
}

}  // namespace

std::string EngineLogs::ComposeAccessLine(const RequestContext& ctx, const std::string& stamp) {
  std::string line = Client(ctx);
  line.push_back(' ');
  line += ctx.virtual_server ? ctx.virtual_server->config().site_address : std::string("localhost");
  line.push_back(' ');
  // A name the client merely sent is not shown: only one it proved.
  if (ctx.auth.authenticated && !ctx.auth.user.empty())
    AppendEscaped(&line, ctx.auth.user, true);
  else
    line.push_back('-');
  line += " [" + stamp + "] ";
  AppendQuoted(&line, &ctx.request.request_line);
  line += " " + std::to_string(ctx.response.status_code) + " ";
  line += ctx.bytes_sent == 0 ? std::string("-") : std::to_string(ctx.bytes_sent);
  line.push_back(' ');
  AppendQuoted(&line, ctx.request.Get(kHdrReferer));
  line.push_back(' ');
  AppendQuoted(&line, ctx.request.Get(kHdrUserAgent));
  return line;
}

void EngineLogs::Access(const RequestContext& ctx) {
  bool on = access_on_.load();
  bool hooked = Hooked(20);
  if (!on && !hooked) return;
  std::string line = ComposeAccessLine(ctx, LogTimeStampNow());
  if (on) access_.Write(line);
  CallHook(line, 20);
}

std::string EngineLogs::ComposeErrorLine(const std::string& message, const RequestContext* ctx,
                                         const std::string& stamp) {
  // Without a request the label keeps its trailing blank: two blanks
  // before the bracket.
  std::string line = ctx ? Client(*ctx) : std::string("LOCAL SYSTEM ERROR ");
  line += " [" + stamp + "] " + Printable(message);
  return line;
}

std::string EngineLogs::ComposeTraceLine(const std::string& message, const RequestContext* ctx,
                                         const std::string& stamp, uint32_t thread_id) {
  std::string line = ctx ? Client(*ctx) : std::string("No Request Data");
  line += " [" + stamp + "] (" + std::to_string(thread_id) + ") " + Printable(message);
  return line;
}

void EngineLogs::Error(const std::string& message, const RequestContext* ctx) {
  if (Hooked(20)) CallHook(Printable(message), 20);
  if (!error_on_.load()) return;
  error_.Write(ComposeErrorLine(message, ctx, LogTimeStampNow()));
}

void EngineLogs::Trace(const std::string& message, const RequestContext* ctx) {
  if (Hooked(30)) CallHook(Printable(message), 30);
  if (!trace_on_.load()) return;
  trace_.Write(ComposeTraceLine(message, ctx, LogTimeStampNow(), platform::current_thread_id()));
}

}  // namespace brisvane
