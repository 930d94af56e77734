// libFuzzer target for everything that reads client input: the request
// reader over a real loopback connection, and the text routines it and the
// dispatcher use (target parsing, path normalisation and safety, byte
// ranges, dates, Base64).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/byte_range.h"
#include "engine/core/http_date.h"
#include "engine/core/request_reader.h"
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
    if (!brisvane::ReadRequest(request, *server, false)) break;
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
