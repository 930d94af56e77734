// One HTTP message, request or response: the table of 48 known headers,
// extra headers, the body, and the request or response fields.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/http_method.h"
#include "engine/core/message_body.h"

namespace brisvane {

// Indexes of the known headers.
enum HeaderIndex : int {
  kHdrNull = 0, kHdrAccept, kHdrAcceptCharset, kHdrAcceptEncoding, kHdrAcceptLanguage,
  kHdrAcceptRanges, kHdrAge, kHdrAllow, kHdrAuthorization, kHdrCacheControl, kHdrConnection,
  kHdrContentBase, kHdrContentEncoding, kHdrContentLanguage, kHdrContentLength,
  kHdrContentLocation, kHdrContentMd5, kHdrContentRange, kHdrContentType, kHdrDate, kHdrETag,
  kHdrExpires, kHdrFrom, kHdrHost, kHdrIfModifiedSince, kHdrIfMatch, kHdrIfNoneMatch,
  kHdrIfRange, kHdrIfUnmodifiedSince, kHdrLastModified, kHdrLocation, kHdrMaxForwards,
  kHdrPragma, kHdrProxyAuthenticate, kHdrProxyAuthorization, kHdrPublic, kHdrRange, kHdrReferer,
  kHdrRetryAfter, kHdrServer, kHdrTransferEncoding, kHdrUpgrade, kHdrUserAgent, kHdrVary,
  kHdrVia, kHdrWarning, kHdrWwwAuthenticate, kHdrCookie,
  kHeaderCount
};

const char* HeaderName(int index);
// Index of a header name (ignoring case), or -1 for an unknown name.
int FindHeader(std::string_view name);


// Versions are major * 256 + minor; 9 stands for HTTP/0.9.
inline constexpr uint32_t kHttp09 = 9;
inline constexpr uint32_t kHttp10 = 256;
inline constexpr uint32_t kHttp11 = 257;

class HttpMessage {
 public:
  HttpMessage() { Reset(); }

  // Header table.
  const std::string* Get(int index) const;
  bool Has(int index) const { return Get(index) != nullptr; }
  // An empty text leaves the entry empty.
  void Set(int index, std::string_view value);
  void SetNumber(int index, uint64_t value);
  void Clear(int index) { Set(index, {}); }
  // Leading decimal digits of the value; 0 when empty.
  uint64_t GetNumber(int index) const;
  // Headers outside the table, ordered by name; several with one name
  // (a script's cookies) are all kept, in the order they came.
  std::multimap<std::string, std::string>& extra_headers() { return extra_; }
  const std::multimap<std::string, std::string>& extra_headers() const { return extra_; }

  void Reset();         // common part
  void ResetRequest();  // request part too
  void ResetResponse(); // response part too

  // Common part.
  std::string scheme;
  uint32_t parsed = 0;
  uint32_t version = kHttp10;
  MessageBody body;

  // Request part.
  std::string request_line;
  std::string host;
  std::string query;
  std::string path;
  std::string method_name;
  int32_t method = kMethodUnknown;
  bool absolute = false;
  std::string local_address;
  std::string remote_address;
  std::string remote_host;

  // Response part.
  void SetStatus(int code, const char* text = nullptr);
  int status_code = 500;
  std::optional<std::string> status_text;
  bool raw = false;

 private:
  std::array<std::optional<std::string>, kHeaderCount> headers_;
  std::multimap<std::string, std::string> extra_;
};

}  // namespace brisvane
