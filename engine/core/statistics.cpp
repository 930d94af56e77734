#include "engine/core/statistics.h"

#include <ctime>

#include "engine/core/http_date.h"
#include "engine/core/request_context.h"

namespace brisvane {

Statistics::Statistics() : Statistics(static_cast<int64_t>(std::time(nullptr))) {}

Statistics::Statistics(int64_t start_time)
    : start_time_(start_time), start_date_(FormatHttpDate(start_time)) {}

void Statistics::Count(const RequestContext& ctx) {
  // The 64-bit byte counts are cut to 32 bits first, so the sums wrap.
  Add(bytes_received_, static_cast<uint32_t>(ctx.bytes_received));
  Add(bytes_sent_, static_cast<uint32_t>(ctx.bytes_sent));
  Add(requests_, 1);

  int32_t method = ctx.request.method;
  if (method < 0)
    Add(methods_[0], 1);
  else if (method < kMethodCounters)
    Add(methods_[static_cast<size_t>(method)], 1);

  switch (ctx.response.status_code) {
    case 301:
    case 302:
      Add(redirections_, 1);
      break;
    case 304:
      Add(use_cache_, 1);
      break;
    case 401:
    case 403:
      Add(authorization_failures_, 1);
      break;
    default:
      break;
  }
  switch (ctx.response.status_code) {
    case 400:
    case 404:
    case 500:
    case 501:
    case 503:
      Add(errors_, 1);
      break;
    default:
      break;
  }
}

void Statistics::CountCgiExec() { Add(cgi_execs_, 1); }

uint32_t Statistics::method_count(int index) const {
  if (index < 0 || index >= kMethodCounters) return 0;
  return Load(methods_[static_cast<size_t>(index)]);
}

}  // namespace brisvane
