// How a request is described to the programs the engine runs for it: the
// named server variables, and the per-request record that the script
// runners (standard CGI, server-side includes) fill once and hand on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/core/request_context.h"

namespace brisvane {

struct CgiRequestInfo {
  uint32_t timeout_ms = 600000;  // 0: no limit
  bool debug_mode = false;
  std::string server_admin;
  std::string document_root;
  std::string document_url;
  std::string document_path;
  std::string auth_type;
  std::string content_length;
  std::string content_type;
  std::string path_info;
  std::string path_translated;
  std::string query_string;
  std::string remote_addr;
  std::string remote_host;
  std::string remote_ident;  // no identity lookup is ever made
  std::string remote_user;
  std::string request_method;
  std::string script_name;
  std::string server_name;
  std::string server_port = "80";
  std::string server_protocol = "HTTP/1.1";
  std::string server_software;
  std::string auth_realm;
  std::string password;  // only with CGISendPassword
  std::string accept;
  std::string accept_language;
  std::string cookie;
  std::string referer;
  std::string user_agent;
  bool ssi_secure = true;
  std::string document_uri;  // only for a CGI program an include runs with "exec cgi"
  std::string https;         // "on" for a request that came over TLS, else empty
  // The physical path of the program being run; the script file for
  // interpreters that look for it in the environment.
  std::string script_filename;

  const RequestContext* request = nullptr;
};

// The value of a named server variable for the request. Names are exact
// (case matters); false, with `out` empty, for a name that is not known.
// An absent request header gives an empty value and true.
bool LookupServerVariable(const RequestContext& ctx, std::string_view name, std::string* out);

// Fills the record from the request, its virtual server and the settings
// in force for it. Called after a launcher has changed SCRIPT_NAME or
// PATH_INFO, so the record sees the changed values.
void FillCgiRequestInfo(const RequestContext& ctx, CgiRequestInfo* info);

// The command line for a script: with ProcessExternal on and an
// association for the path's ending, "interpreter" "path"; otherwise
// "path". `associated` (when given) tells which.
std::string ScriptCommandLine(const RequestContext& ctx, const std::string& path, bool* associated);

}  // namespace brisvane
