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

// Where dispatch sent the request.
enum MapKind : int { kMapNone = 0, kMapDocument = 1, kMapStdCgi = 2, kMapWinCgi = 3,
                     kMapRedirection = 4, kMapIsapi = 5 };

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
  std::map<std::string, std::string>& extra_headers() { return extra_; }
  const std::map<std::string, std::string>& extra_headers() const { return extra_; }

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
  // Mapping results.
  int map_kind = kMapNone;
  std::string physical_path;
  std::string script_url;
  std::string path_info;

 private:
  std::array<std::optional<std::string>, kHeaderCount> headers_;
  std::map<std::string, std::string> extra_;
};

class VirtualServerRuntime;
struct EngineSnapshot;

// Who the client proved to be, and what authorization allowed.
struct RequestAuth {
  std::string auth_type;  // "Basic" when the header used that scheme
  std::string user;       // decoded, whether or not it authenticated
  std::string password;
  std::string realm;      // the realm protecting the path, when it exists
  bool authenticated = false;  // user of `realm` with that password
  bool listing_allowed = true;
  void Reset() { *this = RequestAuth(); }
};

// One request and its response, owned by the connection handler.
struct RequestContext {
  // The configuration in force when the request started; a Flush never
  // changes it under the request's feet.
  std::shared_ptr<const EngineSnapshot> snapshot;
  const VirtualServerRuntime* virtual_server = nullptr;
  bool proxy = false;
  HttpMessage request;
  HttpMessage response;
  RequestAuth auth;
  uint64_t bytes_sent = 0;
  uint64_t bytes_received = 0;

  // Makes the context as good as new for the next request on the same
  // connection, keeping the memory it already has.
  void Reset() {
    snapshot.reset();
    virtual_server = nullptr;
    proxy = false;
    request.ResetRequest();
    response.ResetResponse();
    auth.Reset();
    bytes_sent = 0;
    bytes_received = 0;
  }
};

}  // namespace brisvane
