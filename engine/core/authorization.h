// The two access-control stages of the request pipeline: taking Basic
// credentials from the "Authorization" header and checking them against
// the realm that protects the path, then deciding by the virtual server's
// SecurityType whether the request may go on. They read the request's
// configuration snapshot only; everything they change is the request's own.
#pragma once

#include "engine/core/handler.h"

namespace brisvane {

class EngineLogs;

// SecurityType values; any other value behaves as kSecurityOpen.
inline constexpr uint32_t kSecurityOpen = 0;
inline constexpr uint32_t kSecurityMasterUser = 1;
inline constexpr uint32_t kSecurityAccessList = 2;

// Fills ctx.auth from a "Basic" header (authenticated when the user and
// password match the realm of the path's access entry) and traces a Digest
// header, which authenticates no one. kStageDone when the header used one of
// these schemes, kStageDecline when there was no header or another scheme.
StageResult ParseAuthorizationHeader(EngineLogs& logs, RequestContext& ctx);

// kStageDone when the request may go on; kStageStop with the error response
// prepared (401, 403 or 500) when it may not. Sets ctx.auth.listing_allowed.
StageResult AuthorizeBySecurityType(EngineLogs& logs, RequestContext& ctx);

// The SecurityType 2 decision: the path's access entry, its host rules and
// the rights of the authenticated user and of "*". Same results as above.
StageResult CheckAccessList(EngineLogs& logs, RequestContext& ctx);

}  // namespace brisvane
