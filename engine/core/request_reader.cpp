#include "engine/core/request_reader.h"

#include <algorithm>
#include <memory>

#include "engine/core/text_util.h"
#include "engine/core/url_path.h"

namespace brisvane {
namespace {

uint32_t LeadingNumber(const std::string& s, size_t from, size_t* end) {
  uint32_t n = 0;
  size_t i = from;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (n < 100000000u) n = n * 10 + static_cast<uint32_t>(s[i] - '0');
  }
  if (end) *end = i;
  return n;
}

// Header lines until the empty line; false when one cannot be read.
bool ReadHeaders(HttpMessage& request, Socket& socket) {
  std::string line;
  while (true) {
    if (!socket.ReadLine(&line, kLineCapacity)) return false;
    if (line.empty()) return true;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    int index = FindHeader(std::string_view(line).substr(0, colon));
    if (index < 0) continue;
    size_t v = colon + 1;
    while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
    request.Set(index, std::string_view(line).substr(v));
  }
}

// Leading hexadecimal digits of a chunk-size line; false on overflow.
bool ChunkSize(const std::string& line, uint64_t* size) {
  uint64_t n = 0;
  for (char c : line) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    if (n > (UINT64_MAX >> 4)) return false;
    n = (n << 4) | static_cast<uint64_t>(d);
  }
  *size = n;
  return true;
}

bool ReadChunkedBody(HttpMessage& request, Socket& socket) {
  if (!request.body.MakeTemporary()) return false;
  std::unique_ptr<char[]> buf(new char[65536]);
  uint64_t total = 0;
  std::string line;
  while (true) {
    if (!socket.ReadLine(&line, kLineCapacity)) return false;
    uint64_t size = 0;
    if (!ChunkSize(line, &size)) return false;
    if (size == 0) break;
    uint64_t left = size + 2;  // the data and its line end
    while (left > 0) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(left, 65536));
      int64_t n = socket.Receive(buf.get(), want);
      if (n <= 0) return false;
      uint64_t got = static_cast<uint64_t>(n);
      // Only the data goes to the file, not the line end after it.
      uint64_t data_left = left > 2 ? left - 2 : 0;
      uint64_t data = std::min(got, data_left);
      if (data > 0 && !request.body.Append(buf.get(), static_cast<size_t>(data))) return false;
      left -= got;
    }
    total += size;
  }
  request.body.EndAppend();
  if (total == 0) return false;
  if (!ReadHeaders(request, socket)) return false;
  request.Clear(kHdrTransferEncoding);
  return true;
}

bool ReadLengthBody(HttpMessage& request, Socket& socket, uint64_t length) {
  if (!request.body.MakeTemporary()) return false;
  std::unique_ptr<char[]> buf(new char[65536]);
  uint64_t got = 0;
  while (got < length) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(length - got, 65536));
    int64_t n = socket.Receive(buf.get(), want);
    if (n <= 0) break;  // the client stopped early: keep what came
    if (!request.body.Append(buf.get(), static_cast<size_t>(n))) break;
    got += static_cast<uint64_t>(n);
  }
  request.body.EndAppend();
  return got > 0;
}

}  // namespace

uint32_t ParseVersion(const std::string& text) {
  size_t slash = text.find('/');
  if (slash == std::string::npos) return 0;
  size_t end = 0;
  uint32_t major = LeadingNumber(text, slash + 1, &end);
  uint32_t minor = 0;
  size_t dot = text.find('.', slash + 1);
  if (dot != std::string::npos) minor = LeadingNumber(text, dot + 1, nullptr);
  return major * 256 + (minor % 256);
}

bool ParseRequestTarget(const std::string& target, HttpMessage& request) {
  size_t q = target.find('?');
  std::string raw = target.substr(0, q);
  if (q != std::string::npos && q + 1 < target.size()) request.query = target.substr(q + 1);
  bool relative = false;
  if (!raw.empty() && raw[0] != '/') {
    size_t colon = raw.find(':');
    std::string rest;
    if (colon == std::string::npos) {
      request.scheme = raw;
    } else {
      request.scheme = raw.substr(0, colon);
      rest = raw.substr(colon + 1);
    }
    if (rest.size() >= 2 && rest[0] == '/' && rest[1] == '/') {
      request.absolute = true;
      rest.erase(0, 2);
      size_t slash = rest.find('/');
      request.host = rest.substr(0, slash);
      raw = "/" + (slash == std::string::npos ? std::string() : rest.substr(slash + 1));
    } else {
      // Not a URL we serve: the text stays as a path that the URL check
      // refuses for its missing leading slash.
      request.absolute = false;
      request.host.clear();
      request.scheme = "http";
      raw = rest;
      relative = true;
    }
  }
  DecodePercentInPlace(raw);
  if (raw.empty() && !relative) return false;
  NormalizePath(raw);
  if (raw.empty() && !relative) return false;
  request.path = std::move(raw);
  return true;
}

bool ReadRequest(HttpMessage& request, Socket& socket, bool resolve_names) {
  request.parsed = 0;
  if (!socket.IsValid()) return false;
  std::string line;
  if (!socket.ReadLine(&line, kLineCapacity)) return false;
  request.request_line = line;

  size_t blank = line.find(' ');
  if (blank == std::string::npos) return false;  // a method word alone
  request.method_name = line.substr(0, blank);
  request.method = MethodCodeOf(request.method_name);
  size_t url_start = blank + 1;
  size_t url_end = line.find(' ', url_start);
  std::string target = line.substr(url_start, url_end == std::string::npos ? std::string::npos
                                                                           : url_end - url_start);
  std::string version_text = url_end == std::string::npos ? std::string() : line.substr(url_end + 1);
  if (!ParseRequestTarget(target, request)) return false;

  if (version_text.empty()) {
    request.version = kHttp09;
  } else {
    request.version = ParseVersion(version_text);
    if (!ReadHeaders(request, socket)) return false;
    const std::string* te = request.Get(kHdrTransferEncoding);
    if (te && *te == "chunked") {
      if (!ReadChunkedBody(request, socket)) return false;
    } else {
      uint64_t length = request.GetNumber(kHdrContentLength);
      if (length > 0 && !ReadLengthBody(request, socket, length)) return false;
    }
  }

  platform::SockAddrV4 local, peer;
  if (!socket.LocalAddress(&local) || !socket.PeerAddress(&peer)) return false;
  request.local_address = platform::format_ipv4(local.addr);
  request.remote_address = platform::format_ipv4(peer.addr);
  if (resolve_names) {
    std::string name;
    if (platform::reverse_lookup(peer.addr, &name)) request.remote_host = name;
  }
  request.parsed = 1;
  return true;
}

}  // namespace brisvane
