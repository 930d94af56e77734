// libFuzzer target for everything that reads client input: the request
// reader over a real loopback connection (framing included), and the text
// routines it and the dispatcher use (target parsing, path normalisation
// and safety, byte ranges, dates, Base64). Besides crashes it traps when a
// read breaks one of the properties checked in CheckRead.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/byte_range.h"
#include "engine/core/http_date.h"
#include "engine/core/request_reader.h"
#include "engine/core/response_writer.h"
#include "engine/core/socket.h"
#include "engine/core/text_util.h"
#include "engine/core/url_path.h"

namespace {

using brisvane::Socket;

struct Loopback {
  Socket listener;
  platform::SockAddrV4 addr;
  bool ok = false;
  Loopback() {
    brisvane::StartSockets();
    if (!listener.CreateStream()) return;
    platform::SockAddrV4 any;
    platform::parse_ipv4("127.0.0.1", &any.addr);
    if (!platform::socket_bind(listener.handle(), any) || !listener.Listen(16)) return;
    ok = listener.LocalAddress(&addr);
  }
};

[[noreturn]] void Violated() { __builtin_trap(); }

bool HasLineBreakOrNul(const std::string& s) {
  return s.find_first_of(std::string("\0\r\n", 3)) != std::string::npos;
}

// Properties of one read, whatever the input:
//  - it is answered (kRefuse with a refusal status) or closed, never both,
//    and only a read request counts as parsed;
//  - no header value it keeps could split a response header line, and a
//    path that passes the URL check holds no NUL, CR or LF;
//  - a response echoing those values keeps one header per line.
void CheckRead(const brisvane::ReadOutcome& out, const brisvane::HttpMessage& request) {
  using brisvane::ReadOutcome;
  const bool parsed = request.parsed != 0;
  switch (out.kind) {
    case ReadOutcome::kRead:
      if (!parsed || out.status != 0) Violated();
      break;
    case ReadOutcome::kClose:
      if (parsed || out.status != 0) Violated();
      return;
    case ReadOutcome::kRefuse:
      if (parsed || !out.reason || (out.status != 400 && out.status != 414 && out.status != 501)) Violated();
      return;
  }
  brisvane::HttpMessage response;
  response.SetStatus(302, nullptr);
  for (int i = 0; i < brisvane::kHeaderCount; ++i) {
    const std::string* v = request.Get(i);
    if (!v) continue;
    if (HasLineBreakOrNul(*v)) Violated();
    response.Set(i, *v);
  }
  if (!brisvane::UrlRefusal(request.path)) {
    if (HasLineBreakOrNul(request.path)) Violated();
    response.Set(brisvane::kHdrLocation, request.path);
  }
  std::string head = brisvane::FormatResponseHead(response);
  size_t lines = 0;
  for (size_t at = head.find('\n'); at != std::string::npos; at = head.find('\n', at + 1)) {
    if (at == 0 || head[at - 1] != '\r') Violated();
    ++lines;
  }
  size_t headers = 0;
  for (int i = 0; i < brisvane::kHeaderCount; ++i) headers += response.Get(i) ? 1 : 0;
  if (lines != headers + 2) Violated();  // status line, headers, blank line
}

void FuzzReader(const uint8_t* data, size_t size) {
  static Loopback loop;
  if (!loop.ok) return;
  Socket client;
  client.CreateStream();
  if (!client.Connect(loop.addr)) return;
  std::unique_ptr<Socket> server(loop.listener.Accept());
  if (!server) return;
  client.Send(data, size);
  client.Shutdown(1);  // the reader sees the end of the input, never waits
  server->SetReceiveTimeout(2000);
  for (int i = 0; i < 4; ++i) {  // a few pipelined requests at most
    brisvane::HttpMessage request;
    const brisvane::ReadOutcome out = brisvane::ReadRequest(request, *server, false);
    CheckRead(out, request);
    if (out.kind != brisvane::ReadOutcome::kRead) break;
  }
}

void FuzzText(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  brisvane::HttpMessage request;
  if (brisvane::ParseRequestTarget(text, request)) {
    std::string path = request.path;
    brisvane::NormalizePath(path);
    brisvane::IsSafePath(&path);
    brisvane::UrlRefusal(path);
  }
  std::vector<brisvane::ByteRange> ranges;
  for (uint64_t file_size : {uint64_t{0}, uint64_t{1}, uint64_t{1000}, uint64_t{5} << 30})
    brisvane::ParseByteRanges(text, file_size, &ranges);
  brisvane::FileTime t;
  brisvane::ParseHttpDate(text, &t);
  brisvane::ParseVersion(text);
  brisvane::Base64Decode(text);
  brisvane::EscapeForUrl(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  FuzzText(data, size);
  FuzzReader(data, size);
  return 0;
}
