#include "engine/core/http_message.h"

#include "engine/core/status_text.h"
#include "engine/core/text_util.h"

namespace brisvane {
namespace {

constexpr const char* kHeaderNames[] = {
    "Null", "Accept", "Accept-Charset", "Accept-Encoding", "Accept-Language", "Accept-Ranges",
    "Age", "Allow", "Authorization", "Cache-Control", "Connection", "Content-Base",
    "Content-Encoding", "Content-Language", "Content-Length", "Content-Location", "Content-MD5",
    "Content-Range", "Content-Type", "Date", "ETag", "Expires", "From", "Host",
    "If-Modified-Since", "If-Match", "If-None-Match", "If-Range", "If-Unmodified-Since",
    "Last-Modified", "Location", "Max-Forwards", "Pragma", "Proxy-Authenticate",
    "Proxy-Authorization", "Public", "Range", "Referer", "Retry-After", "Server", "Transfer-Encoding",
    "Upgrade", "User-Agent", "Vary", "Via", "Warning", "WWW-Authenticate", "Cookie"};

static_assert(sizeof(kHeaderNames) / sizeof(kHeaderNames[0]) == kHeaderCount);

}  // namespace

const char* HeaderName(int index) {
  if (index < 0 || index >= kHeaderCount) return nullptr;
  return kHeaderNames[index];
}

int FindHeader(std::string_view name) {
  for (int i = 0; i < kHeaderCount; ++i)
    if (EqualsIgnoreCase(name, kHeaderNames[i])) return i;
  return -1;
}

const std::string* HttpMessage::Get(int index) const {
  if (index < 0 || index >= kHeaderCount || !headers_[index]) return nullptr;
  return &*headers_[index];
}

void HttpMessage::Set(int index, std::string_view value) {
  if (index < 0 || index >= kHeaderCount) return;
  if (value.empty())
    headers_[index].reset();
  else
    headers_[index] = std::string(value);
}

void HttpMessage::SetNumber(int index, uint64_t value) { Set(index, std::to_string(value)); }

uint64_t HttpMessage::GetNumber(int index) const {
  const std::string* v = Get(index);
  if (!v) return 0;
  uint64_t n = 0;
  for (char c : *v) {
    if (c < '0' || c > '9') break;
    if (n > (UINT64_MAX - 9) / 10) return UINT64_MAX;  // absurd values saturate
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  return n;
}

void HttpMessage::Reset() {
  version = kHttp10;
  for (auto& h : headers_) h.reset();
  extra_.clear();
  body.Reset();
  scheme = "http";
  parsed = 0;
}

void HttpMessage::ResetRequest() {
  Reset();
  request_line.clear();
  host.clear();
  query.clear();
  path.clear();
  method_name.clear();
  method = kMethodUnknown;
  absolute = false;
  local_address.clear();
  remote_address.clear();
  remote_host.clear();
}

void HttpMessage::ResetResponse() {
  Reset();
  status_code = 500;
  status_text.reset();
  raw = false;
}

void HttpMessage::SetStatus(int code, const char* text) {
  status_code = code;
  status_text = std::string(text ? text : DefaultStatusText(code));
}

}  // namespace brisvane
