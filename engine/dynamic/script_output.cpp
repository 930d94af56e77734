#include "engine/dynamic/script_output.h"

#include <cstring>
#include <memory>
#include <optional>

#include "base/text.h"
#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"

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

bool ProcessScriptOutput(RequestServices& services, RequestContext& ctx, platform::FileHandle output) {
  HttpMessage& resp = ctx.response;
  resp.Set(kHdrContentType, "text/html");
  if (output == platform::kInvalidFile) {
    RespondError(ctx, 500, "CGI Output Error");
    services.logs.Error("ProcessScriptOutput: " + ctx.mapping.physical_path + " - Invalid response handle", &ctx);
    return false;
  }
  resp.SetStatus(200);
  resp.body.UseHandle(output);
  char first[4];
  int64_t got = -1;
  if (platform::file_seek(output, 0)) got = platform::file_read(output, first, sizeof first);
  if (got < 0 || !platform::file_seek(output, 0)) {
    RespondError(ctx, 500, "CGI Output Error");
    services.logs.Error("ProcessScriptOutput: " + ctx.mapping.physical_path + " - Unknown handle type", &ctx);
    return false;
  }
  if (got == 4 && std::memcmp(first, "HTTP", 4) == 0) {
    resp.raw = true;
    return true;
  }
  resp.Set(kHdrContentType, "text/html");
  // The connection ends with the body, whose end the client learns from
  // the close: a program's own "Connection" line cannot change that.
  std::optional<std::string> connection;
  if (const std::string* c = resp.Get(kHdrConnection)) connection = *c;
  ScriptHeaderParser parser(resp);
  std::unique_ptr<char[]> buf(new char[16384]);
  uint64_t offset = 0;
  for (;;) {
    const int64_t n = platform::file_read(output, buf.get(), 16384);
    if (n <= 0) {
      parser.Finish();
      break;
    }
    const size_t used = parser.Feed(std::string_view(buf.get(), static_cast<size_t>(n)));
    offset += used;
    if (parser.done()) {
      platform::file_seek(output, offset);
      break;
    }
  }
  resp.Set(kHdrConnection, connection ? std::string_view(*connection) : std::string_view());
  uint64_t size = 0;
  if (!resp.Has(kHdrContentLength) && platform::file_size(output, &size) && size >= offset)
    resp.SetNumber(kHdrContentLength, parser.done() ? size - offset : 0);
  return true;
}

}  // namespace brisvane
