// One request on its way through the pipeline: what the client sent, what
// will go back, and what the stages decided about it in between.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/core/http_message.h"

namespace brisvane {

class VirtualServerRuntime;
struct EngineSnapshot;

// Who answers the request; decided once, after mapping. A map names one
// too: Redir the redirection, CgiBin, CgiWin and ISAPIExt their script
// handlers, Alias and the document root the document.
enum class HandlerKind : uint8_t {
  kDocument,          // a file with its media type
  kDirectoryListing,
  kRedirection,       // a Redir map entry, a directory without "/", or a shortcut file
  kStdCgi,
  kWinCgi,
  kIsapi,
  kStatistics,
  kAdmin,
  kProxy,
  kCount
};

// The three handlers that run a program or a library for the request.
constexpr bool IsScriptHandler(HandlerKind kind) {
  return kind == HandlerKind::kStdCgi || kind == HandlerKind::kWinCgi || kind == HandlerKind::kIsapi;
}

// Where the URL led.
struct Mapping {
  HandlerKind kind = HandlerKind::kDocument;  // the handler of the map that took the URL
  std::string physical_path;    // file or directory on disk
  std::string script_url;       // the URL part that names a script
  std::string path_info;        // the URL after the script
  std::string redirect_target;  // for redirections: the escaped Location
};

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

// One request and its response, owned by the connection handler (or by a
// parent request, for a request made on the server's own behalf).
struct RequestContext {
  // The configuration in force when the request started; a Flush never
  // changes it under the request's feet.
  std::shared_ptr<const EngineSnapshot> snapshot;
  const VirtualServerRuntime* virtual_server = nullptr;
  bool proxy = false;
  // It came over TLS: scripts are told so, and the server's own redirects
  // keep the https scheme.
  bool secure = false;
  // This request's admission found the server overloaded.
  bool overloaded = false;
  // The finishing step ran (not for refusals made before dispatch).
  bool finished = false;
  // Nesting depth: 0 for a client's request.
  int depth = 0;
  HttpMessage request;
  HttpMessage response;
  Mapping mapping;
  HandlerKind handler = HandlerKind::kDocument;
  RequestAuth auth;
  uint64_t bytes_sent = 0;
  uint64_t bytes_received = 0;
  // Raised when the engine stops: waits made on the request's behalf (a
  // running program, an extension's output) give up instead of holding
  // the stop. Belongs to the connection, so Reset keeps it.
  const std::atomic<bool>* cancel = nullptr;

  bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

  // Makes the context as good as new for the next request on the same
  // connection, keeping the memory it already has.
  void Reset() {
    snapshot.reset();
    virtual_server = nullptr;
    proxy = false;
    overloaded = false;
    finished = false;
    depth = 0;
    request.ResetRequest();
    response.ResetResponse();
    mapping = Mapping();
    handler = HandlerKind::kDocument;
    auth.Reset();
    bytes_sent = 0;
    bytes_received = 0;
  }
};

}  // namespace brisvane
