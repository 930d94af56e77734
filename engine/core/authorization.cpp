#include "engine/core/authorization.h"

#include <string>
#include <string_view>

#include "config/access_model.h"
#include "engine/core/text_util.h"
#include "engine/core/virtual_server.h"
#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"

namespace brisvane {
namespace {

const VirtualServerConfig* ConfigOf(const RequestContext& ctx) {
  return ctx.virtual_server ? &ctx.virtual_server->config() : nullptr;
}

// Basic credentials: "user:password" in Base64 (RFC 7617). Without a colon
// the whole text is the user and the password is empty.
void TakeBasicCredentials(std::string_view encoded, RequestContext& ctx) {
  RequestAuth& auth = ctx.auth;
  auth.auth_type = "Basic";
  std::string decoded = Base64Decode(encoded);
  // A NUL would cut the name or password wherever it is read as a C string
  // (a script's environment, the registry): such credentials prove nothing.
  if (decoded.find('\0') != std::string::npos) return;
  size_t colon = decoded.find(':');
  auth.user = decoded.substr(0, colon);
  auth.password = colon == std::string::npos ? std::string() : decoded.substr(colon + 1);

  const VirtualServerConfig* config = ConfigOf(ctx);
  if (!config) return;
  const AccessEntry* entry = FindAccessEntry(config->access_entries, ctx.request.path);
  if (!entry) return;
  const Realm* realm = FindRealm(config->realms, entry->realm);
  if (!realm) return;
  auth.realm = realm->name;
  const RealmUser* user = FindUser(*realm, auth.user);
  auth.authenticated = user && CredentialsEqual(user->password, auth.password);
}

StageResult CheckMasterUser(const VirtualServerConfig& config, RequestContext& ctx) {
  if (IsReadMethod(ctx.request.method)) return kStageDone;
  // Both comparisons run, so a wrong user name takes as long as a wrong
  // password.
  bool user_ok = CredentialsEqual(ctx.auth.user, config.master_user);
  bool password_ok = CredentialsEqual(ctx.auth.password, config.master_password);
  if (user_ok && password_ok) {
    ctx.auth.authenticated = true;  // the master user proved who it is
    return kStageDone;
  }
  // No challenge header: only access lists have a realm to name in one.
  RespondError(ctx, 401, "Access Denied");
  return kStageStop;
}

}  // namespace

StageResult ParseAuthorizationHeader(EngineLogs& logs, RequestContext& ctx) {
  const std::string* header = ctx.request.Get(kHdrAuthorization);
  if (!header) return kStageDecline;
  std::string_view value = *header;
  size_t space = value.find(' ');
  std::string_view scheme = value.substr(0, space);
  std::string_view rest = space == std::string_view::npos ? std::string_view() : value.substr(space + 1);
  // The scheme name is matched exactly: "basic" is not taken as Basic.
  if (scheme == "Basic") {
    TakeBasicCredentials(rest, ctx);
    return kStageDone;
  }
  if (EqualsIgnoreCase(scheme, "digest")) {
    logs.Trace("Digest: " + std::string(rest), &ctx);
    return kStageDone;
  }
  return kStageDecline;
}

StageResult AuthorizeBySecurityType(EngineLogs& logs, RequestContext& ctx) {
  ctx.auth.listing_allowed = true;
  const VirtualServerConfig* config = ConfigOf(ctx);
  uint32_t type = config ? config->security_type : kSecurityOpen;
  if (type == kSecurityMasterUser) return CheckMasterUser(*config, ctx);
  if (type == kSecurityAccessList) return CheckAccessList(logs, ctx);
  if (IsReadMethod(ctx.request.method)) return kStageDone;
  RespondError(ctx, 403, "Access Denied");
  return kStageStop;
}

StageResult CheckAccessList(EngineLogs& logs, RequestContext& ctx) {
  const VirtualServerConfig* config = ConfigOf(ctx);
  const int32_t method = ctx.request.method;
  const AccessEntry* entry =
      config ? FindAccessEntry(config->access_entries, ctx.request.path) : nullptr;
  if (!entry) {
    if (IsReadMethod(method)) return kStageDone;
    RespondError(ctx, 403);
    logs.Error("Forbidden by default", &ctx);
    return kStageStop;
  }
  ctx.auth.listing_allowed = !entry->auto_index_disabled;

  // With user-or-class, passing the host rules is enough to read, and
  // failing them still leaves the credentials to decide.
  bool host_ok = CheckHostAccess(*entry, ctx.request.remote_address, ctx.request.remote_host);
  if (!host_ok && !entry->user_or_class) {
    RespondError(ctx, 403);
    logs.Error("Host denied", &ctx);
    return kStageStop;
  }
  if (host_ok && entry->user_or_class && IsReadMethod(method)) return kStageDone;

  const Realm* realm = FindRealm(config->realms, entry->realm);
  if (!realm) {
    RespondError(ctx, 500, "Unable to find authentication realm");
    logs.Error("Cannot find realm: " + entry->realm, &ctx);
    return kStageStop;
  }
  const RightsMask bit = MethodBit(method);
  if (ctx.auth.authenticated && ctx.auth.realm == entry->realm) {
    logs.Trace("User was authenticated: " + ctx.auth.user, &ctx);
    if (RightsFor(*entry, ctx.auth.user, *realm) & bit) return kStageDone;
  }
  if (RightsFor(*entry, "*", *realm) & bit) return kStageDone;

  ctx.response.Set(kHdrWwwAuthenticate, "Basic realm=\"" + entry->realm + "\"");
  RespondError(ctx, 401);
  return kStageStop;
}

}  // namespace brisvane
