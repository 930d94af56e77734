#include "engine/dynamic/server_includes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>

#include "base/calendar.h"
#include "base/text.h"
#include "engine/core/error_page.h"
#include "engine/core/http_date.h"
#include "engine/core/log_writer.h"
#include "engine/core/mapping.h"
#include "engine/core/pipeline.h"
#include "engine/core/request_reader.h"
#include "engine/core/temp_file.h"
#include "engine/core/text_util.h"
#include "engine/core/url_path.h"
#include "engine/dynamic/cgi_request_info.h"
#include "engine/dynamic/child_input.h"
#include "engine/dynamic/script_process.h"
#include "platform/file.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace brisvane {

// ---------------------------------------------------------------- parsing

void IncludeScanner::Literal(char c, std::string* out) {
  static constexpr char kOpen[] = "<!--#";
  for (;;) {
    if (matched_ == 0) {
      if (c == '<')
        matched_ = 1;
      else
        out->push_back(c);
      return;
    }
    if (c == kOpen[matched_]) {
      if (++matched_ == 5) {
        in_directive_ = true;
        pending_.assign(kOpen, 5);
        matched_ = 0;
      }
      return;
    }
    // Not a directive after all: what matched is text, and `c` is looked
    // at again from the start (it may be a new "<").
    out->append(kOpen, matched_);
    matched_ = 0;
  }
}

void IncludeScanner::Finish(std::string* out) {
  if (in_directive_)
    out->append(pending_);
  else
    out->append("<!--#", matched_);
  pending_.clear();
  matched_ = 0;
  in_directive_ = false;
}

namespace {

// The text before `c` (or all of it); *rest is what follows `c` (or empty).
std::string_view TakeUntil(std::string_view text, char c, std::string_view* rest) {
  const size_t at = text.find(c);
  if (at == std::string_view::npos) {
    *rest = {};
    return text;
  }
  *rest = text.substr(at + 1);
  return text.substr(0, at);
}

std::string* AttributeSlot(IncludeAttributes* a, std::string_view name) {
  if (name == "errmsg") return &a->errmsg;
  if (name == "timefmt") return &a->timefmt;
  if (name == "sizefmt") return &a->sizefmt;
  if (name == "virtual") return &a->virtual_path;
  if (name == "file") return &a->file;
  if (name == "var") return &a->var;
  if (name == "cmd") return &a->cmd;
  if (name == "cgi") return &a->cgi;
  return nullptr;
}

}  // namespace

bool ParseIncludeDirective(std::string_view text, IncludeAttributes* attrs, std::string* name) {
  text = Trimmed(text, " ");
  const size_t end = text.find_first_of(" \r\n");
  std::string_view rest;
  if (end == std::string_view::npos) {
    *name = std::string(text);
  } else {
    *name = std::string(text.substr(0, end));
    rest = text.substr(end + 1);
  }
  attrs->virtual_path.clear();
  attrs->file.clear();
  attrs->var.clear();
  attrs->cmd.clear();
  attrs->cgi.clear();
  while (!rest.empty()) {
    const std::string_view attr = Trimmed(TakeUntil(rest, '=', &rest), " ");
    TakeUntil(rest, '"', &rest);  // up to and including the opening quote
    const std::string_view value = TakeUntil(rest, '"', &rest);
    std::string* slot = AttributeSlot(attrs, attr);
    if (!slot) return false;
    slot->assign(value);
  }
  return true;
}

// -------------------------------------------------------------- executing

namespace {

// The child request whose own include step is left to the include that
// made it: its body is scanned there, with the including run's attributes.
thread_local const RequestContext* t_included_child = nullptr;

constexpr size_t kFlushSize = 65536;

std::string FormatTime(const CivilTime& t, const std::string& format) {
  std::tm tm{};
  tm.tm_year = static_cast<int>(t.year - 1900);
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_wday = t.weekday;
  tm.tm_yday = 0;
  tm.tm_isdst = 0;
  char buffer[256];
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  const size_t n = std::strftime(buffer, sizeof buffer, format.c_str(), &tm);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  return std::string(buffer, n);
}

CivilTime LocalFromUnix(int64_t seconds) {
  return CivilFromUnix(seconds - static_cast<int64_t>(platform::time_zone_bias()) * 60);
}

bool ReadAll(platform::FileHandle f, std::string* out) {
  char buffer[16384];
  for (;;) {
    const int64_t n = platform::file_read(f, buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buffer, static_cast<size_t>(n));
  }
}

class IncludeRun {
 public:
  IncludeRun(RequestServices& services, RequestContext& ctx) : services_(services), ctx_(ctx) {
    FillCgiRequestInfo(ctx, &info_);
  }

  // Scans `text` (an included document) into `out`.
  void ProcessText(std::string_view text, std::string* out) {
    IncludeScanner scanner;
    scanner.Feed(text, out, [this](std::string_view d, std::string* o) { Directive(d, o); });
    scanner.Finish(out);
  }

  void Directive(std::string_view text, std::string* out) {
    std::string name;
    if (!ParseIncludeDirective(text, &attrs_, &name)) {
      out->append(attrs_.errmsg);
      return;
    }
    if (name == "include")
      Include(out);
    else if (name == "config")
      return;
    else if (name == "echo")
      Echo(out);
    else if (name == "fsize")
      FileSize(out);
    else if (name == "flastmod")
      LastModified(ResolvePath(attrs_.virtual_path, attrs_.file), out);
    else if (name == "exec")
      Exec(out);
    else
      out->append(attrs_.errmsg);
  }

 private:
  bool Secure() const { return info_.ssi_secure; }

  // The document's URL directory followed by a relative `virtual`, or the
  // `virtual` itself when it is absolute; empty when the URL has no "/".
  std::string VirtualUrl(const std::string& virt) const {
    if (!virt.empty() && virt.front() == '/') return virt;
    const size_t slash = info_.document_url.rfind('/');
    if (slash == std::string::npos) return {};
    return info_.document_url.substr(0, slash + 1) + virt;
  }

  // A URL mapped as a client's request path would be: decoded, normalised,
  // refused when unsafe or outside the tree, then through the maps.
  bool MapUrl(const std::string& url, std::string* path, std::string* decoded_url = nullptr) const {
    path->clear();
    HttpMessage target;
    if (url.empty() || !ParseRequestTarget(url, target) || UrlRefusal(target.path)) return false;
    if (decoded_url) *decoded_url = target.path;
    return MapUrlToPhysicalPath(ctx_, target.path, path);
  }

  std::string ResolvePath(const std::string& virt, const std::string& file) const {
    if (virt.empty()) {
      if (file.empty() || Secure()) return {};
      if (file.front() == platform::kPathSeparator || file.find(':') != std::string::npos) return file;
      const size_t sep = info_.document_path.rfind(platform::kPathSeparator);
      if (sep == std::string::npos) return {};
      return info_.document_path.substr(0, sep + 1) + file;
    }
    std::string path;
    MapUrl(VirtualUrl(virt), &path);
    return path;
  }

  void Include(std::string* out) {
    if (depth_ >= kMaxIncludeDepth) {
      out->append(kIncludeLoopText);
      return;
    }
    std::string content;
    bool ok = false;
    if (!attrs_.virtual_path.empty()) {
      ok = IncludeVirtual(VirtualUrl(attrs_.virtual_path), &content);
    } else {
      const std::string path = ResolvePath({}, attrs_.file);
      platform::ScopedFile f;
      if (!path.empty())
        f.reset(platform::file_open(path, platform::kGenericRead, platform::kShareRead, platform::kOpenExisting,
                                    platform::kFlagSequentialScan));
      ok = f && ReadAll(f.get(), &content);
    }
    if (!ok) {
      out->append(attrs_.errmsg);
      return;
    }
    ++depth_;
    ProcessText(content, out);
    --depth_;
  }

  // The URL as a request of its own (decoding, safety, mapping, access
  // control and handlers as for a client), its body in *content.
  bool IncludeVirtual(const std::string& url, std::string* content) {
    if (url.empty()) return false;
    auto child = std::make_unique<RequestContext>();
    const RequestContext* outer = t_included_child;
    t_included_child = child.get();
    const bool ran = RunChildRequest(services_, ctx_, url, child.get());
    t_included_child = outer;
    const int status = child->response.status_code;
    if (!ran || status < 200 || status > 299 || child->response.body.empty()) return false;
    return BodyReader(child->response.body).ReadAll(content, std::numeric_limits<uint64_t>::max());
  }

  void Echo(std::string* out) {
    const std::string& var = attrs_.var;
    std::string value;
    if (var == "DOCUMENT_NAME") value = info_.document_path;
    else if (var == "DOCUMENT_URI") value = info_.document_url;
    else if (var == "QUERY_STRING_UNESCAPED") {
      value = info_.query_string.substr(0, 8191);
      DecodePercentInPlace(value);
    } else if (var == "DATE_LOCAL") {
      const platform::LocalTime t = platform::local_time_now();
      value = FormatTime({t.year, t.month, t.day, t.hour, t.minute, t.second, WeekdayOf(t.year, t.month, t.day)},
                         attrs_.timefmt);
    } else if (var == "DATE_GMT") {
      const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
      value = FormatTime(CivilFromUnix(now), attrs_.timefmt);
    } else if (var == "LAST_MODIFIED") {
      // Its own result (a date or errmsg) is markup already.
      LastModified(Secure() ? ResolvePath(info_.document_url, {}) : ResolvePath({}, info_.document_path), out);
      return;
    }
    else if (var == "SERVER_SOFTWARE") value = info_.server_software;
    else if (var == "SERVER_NAME") value = info_.server_name;
    else if (var == "SERVER_PROTOCOL") value = info_.server_protocol;
    else if (var == "SERVER_PORT") value = info_.server_port;
    else if (var == "REQUEST_METHOD") value = info_.request_method;
    else if (var == "PATH_INFO") value = info_.path_info;
    else if (var == "PATH_TRANSLATED") value = info_.path_translated;
    else if (var == "SCRIPT_NAME") value = info_.script_name;
    else if (var == "QUERY_STRING") value = info_.query_string;
    else if (var == "REMOTE_HOST") value = info_.remote_host;
    else if (var == "REMOTE_ADDR") value = info_.remote_addr;
    else if (var == "HTTP_ACCEPT") value = info_.accept;
    else if (var == "HTTP_COOKIE") value = info_.cookie;
    else if (var == "HTTP_REFERER") value = info_.referer;
    else if (var == "HTTP_USER_AGENT") value = info_.user_agent;
    else if (var == "GATEWAY_INTERFACE") value = "CGI/1.1";
    else {
      out->append(attrs_.errmsg);
      return;
    }
    // Client text (query, cookies, referer, agent) must not become markup.
    out->append(EscapeHtml(value));
  }

  void FileSize(std::string* out) {
    const std::string path = ResolvePath(attrs_.virtual_path, attrs_.file);
    if (path.empty()) {
      out->append(attrs_.errmsg);
      return;
    }
    uint64_t size = 0;
    platform::ScopedFile f(platform::file_open(path, platform::kGenericRead,
                                               platform::kShareRead | platform::kShareWrite,
                                               platform::kOpenExisting, 0));
    if (!f || !platform::file_size(f.get(), &size)) size = 0;
    if (attrs_.sizefmt == "abbrev" && size > 1024) {
      if (size <= 1049599)
        out->append(std::to_string(size / 1024) + "K");
      else
        out->append(std::to_string(size / 1048576) + "M");
      return;
    }
    out->append(std::to_string(size));
  }

  void LastModified(const std::string& path, std::string* out) {
    platform::ScopedFile f;
    if (!path.empty())
      f.reset(platform::file_open(path, platform::kGenericRead, platform::kShareRead | platform::kShareWrite,
                                  platform::kOpenExisting, 0));
    uint64_t time = 0;
    if (!f || !platform::file_last_write_time(f.get(), &time)) {
      out->append(attrs_.errmsg);
      return;
    }
    out->append(FormatTime(LocalFromUnix(UnixFromFileTime(time)), attrs_.timefmt));
  }

  void Exec(std::string* out) {
    if (Secure()) {
      out->append(attrs_.errmsg);
      return;
    }
    CgiRequestInfo child = info_;
    std::string command, directory = ".";
    if (attrs_.cgi.empty()) {
      if (attrs_.cmd.empty()) {
        out->append(attrs_.errmsg);
        return;
      }
      command = attrs_.cmd;
      child.query_string.clear();
      child.script_name.clear();
      child.path_info.clear();
      child.path_translated.clear();
    } else if (!PrepareExecCgi(&child, &command, &directory)) {
      out->append(attrs_.errmsg);
      return;
    }
    std::string output;
    if (!RunProgram(child, command, directory, &output)) {
      out->append(attrs_.errmsg);
      return;
    }
    if (output.compare(0, 7, "Content") == 0 || output.compare(0, 5, "HTTP/") == 0) {
      size_t end = output.find("\r\n\r\n");
      if (end != std::string::npos) {
        output.erase(0, end + 4);
      } else if ((end = output.find("\n\n")) != std::string::npos) {
        output.erase(0, end + 2);
      }
    }
    out->append(output);
  }

  bool PrepareExecCgi(CgiRequestInfo* child, std::string* command, std::string* directory) const {
    std::string_view rest;
    const std::string script = std::string(TakeUntil(attrs_.cgi, '?', &rest));
    std::string query = rest.empty() ? info_.query_string : std::string(rest);
    std::string url, path;
    if (!MapUrl(VirtualUrl(script), &path, &url)) return false;
    // Path info as the request path splits it; the program must be a file
    // below the URL's first segment.
    ScriptSplit split;
    if (!SplitScriptPath(path, url, &split) || split.script_url.empty()) return false;
    const uint32_t a = platform::file_attributes(split.script_path);
    if (a == platform::kInvalidAttributes || (a & platform::kAttrDirectory)) return false;
    path = std::move(split.script_path);
    url = std::move(split.script_url);
    const std::string& path_info = split.path_info;
    const size_t sep = path.rfind(platform::kPathSeparator);
    *directory = sep == std::string::npos ? "." : path.substr(0, sep);
    if (directory->empty()) directory->assign(1, platform::kPathSeparator);
    *command = ScriptCommandLine(ctx_, path, nullptr);
    if (!query.empty()) *command += " " + query;
    child->path_info = path_info;
    child->path_translated.clear();
    if (!path_info.empty()) MapUrlToPhysicalPath(ctx_, path_info, &child->path_translated);
    child->query_string = query;
    child->script_name = url;
    child->script_filename = path;
    // Only a CGI program run for the document learns which document that is.
    child->document_uri = info_.document_url;
    return true;
  }

  // Runs the program with an empty standard input and its output into a
  // temporary file: the wait is the process runner's, bounded by the CGI
  // time-out that ends the program and all it started.
  bool RunProgram(const CgiRequestInfo& child, const std::string& command, const std::string& directory,
                  std::string* output) {
    ChildInput input;
    TempFile file;
    if (!input.Open(MessageBody()) || !file.CreateUnnamed()) return false;
    services_.logs.Trace("[SSI exec] WorkPath: " + directory + " CmdLine: " + command, &ctx_);
    if (!RunScriptToCompletion(child, command, directory, input.stdio(), platform::ChildStdio::file(file.handle())))
      return false;
    platform::ScopedFile written = file.TakeForReading();
    return written && ReadAll(written.get(), output);
  }

  RequestServices& services_;
  RequestContext& ctx_;
  CgiRequestInfo info_;
  IncludeAttributes attrs_;
  int depth_ = 0;
};

}  // namespace

StageResult RunServerSideIncludes(RequestServices& services, RequestContext& ctx) {
  // An included request: the include that made it scans its body.
  if (&ctx == t_included_child) return kStageDone;
  HttpMessage& resp = ctx.response;
  resp.Set(kHdrContentType, "text/html");
  resp.Clear(kHdrContentLength);
  if (resp.body.empty()) {
    RespondError(ctx, 500, "SSI Processing Error");
    services.logs.Error("SSI Processing Error on " + ctx.mapping.physical_path, &ctx);
    return kStageStop;
  }
  // The page is built in memory; only a page larger than one flush goes
  // to a temporary file, so a typical page costs no file at all.
  TempFile output;
  std::string pending;
  bool ok = true;
  auto flush = [&] {
    if (!ok) pending.clear();  // nothing more is kept once a write failed
    if (pending.empty()) return;
    if (output.handle() == platform::kInvalidFile) ok = output.CreateUnnamed();
    ok = ok && output.Write(pending.data(), pending.size());
    pending.clear();
  };
  {
    // The document streams through the scanner as it is read.
    BodyReader input(resp.body);
    IncludeRun run(services, ctx);
    IncludeScanner scanner;
    char buffer[16384];
    int64_t n;
    while ((n = input.Read(buffer, sizeof buffer)) > 0) {
      scanner.Feed(std::string_view(buffer, static_cast<size_t>(n)), &pending,
                   [&run](std::string_view d, std::string* o) { run.Directive(d, o); });
      if (pending.size() >= kFlushSize) flush();
    }
    scanner.Finish(&pending);
  }
  if (ok && output.handle() == platform::kInvalidFile) {
    resp.SetNumber(kHdrContentLength, pending.size());
    resp.body.SetMemory(std::move(pending));
    return kStageDone;
  }
  flush();
  if (!ok) {
    // Nothing could be written: an empty body, the status as it was.
    resp.body.Reset();
    resp.SetNumber(kHdrContentLength, 0);
    return kStageDone;
  }
  const uint64_t written = output.written();
  resp.body.SetFile(output.TakeForReading(), 0, written);
  resp.SetNumber(kHdrContentLength, written);
  return kStageDone;
}

}  // namespace brisvane
