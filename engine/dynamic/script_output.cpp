#include "engine/dynamic/script_output.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "base/text.h"
#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace brisvane {
namespace {

// "NNN" or "NNN text" with a code a response can carry; false otherwise.
bool ParseStatus(std::string_view value, int* code, std::string* text) {
  if (value.size() < 3) return false;
  int n = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (value[i] < '0' || value[i] > '9') return false;
    n = n * 10 + (value[i] - '0');
  }
  if (n < 100 || n > 599 || (value.size() > 3 && value[3] != ' ' && value[3] != '\t')) return false;
  *code = n;
  *text = TrimBoth(TrimLeading(value.substr(3), ' '), '\t');
  return true;
}

}  // namespace

size_t ScriptHeaderParser::Feed(std::string_view data) {
  size_t i = 0;
  while (i < data.size() && !done_) {
    const char c = data[i++];
    if (c == '\r') continue;
    if (c != '\n') {
      if (line_.size() < kMaxLine) line_ += c;
      continue;
    }
    if (line_.empty()) {
      done_ = true;
      Finish();
      break;
    }
    Line(line_);
    line_.clear();
  }
  return i;
}

void ScriptHeaderParser::Finish() {
  if (!line_.empty()) Line(line_);
  line_.clear();
  if (!status_ && location_) response_.SetStatus(302);
}

void ScriptHeaderParser::Line(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = line.substr(0, colon);
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  if (EqualsIgnoreCase(name, "Status")) {
    // The program's own status: its 404 must not reach the client as 200.
    int code = 0;
    std::string text;
    if (ParseStatus(value, &code, &text)) {
      response_.SetStatus(code, text.empty() ? nullptr : text.c_str());
      status_ = true;
    }
    return;
  }
  const int index = FindHeader(name);
  if (index > 0) {
    response_.Set(index, value);
    if (index == kHdrLocation) location_ = true;
    return;
  }
  response_.extra_headers().emplace(std::string(name), std::string(value));
}

namespace {

// Where the header lines ended.
struct HeaderEnd {
  bool complete = false;  // an empty line ended them
  uint64_t consumed = 0;  // bytes of output up to and including it
  std::string rest;       // bytes read past it: the start of the body
};

// Reads the header lines of a script's output with `read` (bytes read, 0 at
// the end, as file_read) into the response, until the empty line or the end.
template <typename Read>
HeaderEnd ReadHeaders(HttpMessage& resp, Read&& read) {
  resp.Set(kHdrContentType, "text/html");
  // The connection ends with the body, whose end the client learns from
  // the close: a program's own "Connection" line cannot change that.
  std::optional<std::string> connection;
  if (const std::string* c = resp.Get(kHdrConnection)) connection = *c;
  ScriptHeaderParser parser(resp);
  HeaderEnd end;
  std::unique_ptr<char[]> buf(new char[16384]);
  for (;;) {
    const int64_t n = read(buf.get(), 16384);
    if (n <= 0) {
      parser.Finish();
      break;
    }
    const size_t used = parser.Feed(std::string_view(buf.get(), static_cast<size_t>(n)));
    end.consumed += used;
    if (parser.done()) {
      end.rest.assign(buf.get() + used, static_cast<size_t>(n) - used);
      break;
    }
  }
  resp.Set(kHdrConnection, connection ? std::string_view(*connection) : std::string_view());
  end.complete = parser.done();
  return end;
}

bool InvalidOutput(RequestServices& services, RequestContext& ctx, const char* what) {
  RespondError(ctx, 500, "CGI Output Error");
  services.logs.Error("ProcessScriptOutput: " + ctx.mapping.physical_path + " - " + what, &ctx);
  return false;
}

// Up to `len` bytes of the pipe, waiting at most `wait_ms` (or the
// deadline, if sooner) for them to begin: the count, 0 at the end or when
// nothing came in time.
int64_t ReadPipeWithin(platform::PipeHandle pipe, void* buf, size_t len, uint32_t wait_ms,
                       const PipeDeadline& deadline) {
  if (deadline.Wait(pipe, wait_ms) != 1) return 0;
  return platform::pipe_read(pipe, buf, len);
}

}  // namespace

bool ProcessScriptOutput(RequestServices& services, RequestContext& ctx, platform::ScopedFile output) {
  HttpMessage& resp = ctx.response;
  resp.Set(kHdrContentType, "text/html");
  if (!output) return InvalidOutput(services, ctx, "Invalid response handle");
  resp.SetStatus(200);
  const platform::FileHandle f = output.get();
  char first[4];
  int64_t got = -1;
  uint64_t size = 0;
  if (platform::file_size(f, &size) && platform::file_seek(f, 0)) got = platform::file_read(f, first, sizeof first);
  if (got < 0 || !platform::file_seek(f, 0)) return InvalidOutput(services, ctx, "Unknown handle type");
  if (got == 4 && std::memcmp(first, "HTTP", 4) == 0) {
    resp.raw = true;
    resp.body.SetFile(std::move(output), 0, size);
    return true;
  }
  const HeaderEnd end = ReadHeaders(resp, [f](char* buf, size_t len) { return platform::file_read(f, buf, len); });
  // Output that ends inside its headers has no body.
  const uint64_t start = end.complete ? std::min(end.consumed, size) : size;
  if (!resp.Has(kHdrContentLength)) resp.SetNumber(kHdrContentLength, size - start);
  resp.body.SetFile(std::move(output), start, size - start);
  return true;
}

bool ProcessScriptPipeOutput(RequestServices& services, RequestContext& ctx, platform::ScopedPipe pipe,
                             PipeDeadline deadline) {
  HttpMessage& resp = ctx.response;
  resp.Set(kHdrContentType, "text/html");
  if (!pipe) return InvalidOutput(services, ctx, "Invalid response handle");
  resp.SetStatus(200);
  // The first four bytes decide between raw and parsed output; they are
  // waited for on the pipe itself, so a quick writer is answered at once.
  const uint32_t started = platform::tick_count();
  char first[4];
  size_t got = 0;
  while (got < sizeof first) {
    const uint32_t spent = platform::tick_count() - started;
    if (spent >= kFirstBytesWait) break;
    const int64_t n = ReadPipeWithin(pipe.get(), first + got, sizeof first - got, kFirstBytesWait - spent, deadline);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got == 4 && std::memcmp(first, "HTTP", 4) == 0) {
    resp.raw = true;
    resp.body.SetPipe(std::move(pipe), std::string(first, 4), deadline);
    return true;
  }
  std::string_view pending(first, got);
  const HeaderEnd end = ReadHeaders(resp, [&](char* buf, size_t len) -> int64_t {
    if (!pending.empty()) {
      const size_t n = pending.copy(buf, len);
      pending.remove_prefix(n);
      return static_cast<int64_t>(n);
    }
    return ReadPipeWithin(pipe.get(), buf, len, platform::kWaitInfinite, deadline);
  });
  if (end.complete) {
    resp.body.SetPipe(std::move(pipe), end.rest, deadline);
  } else {
    resp.body.Reset();
    if (!resp.Has(kHdrContentLength)) resp.SetNumber(kHdrContentLength, 0);
  }
  return true;
}

}  // namespace brisvane
