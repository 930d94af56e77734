// The built-in page at "/~stats": every counter of the statistics record
// in one column, with the server's version, start date and up time.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/handler.h"
#include "engine/core/statistics.h"

namespace brisvane {


// What the page names besides the counters: the first virtual server's
// name and administrator address, whichever server took the request.
struct StatisticsPageInfo {
  std::string server_name;
  std::string admin_email;
  bool send_version_info = false;
};

// "<m> months <d> days <h>:<mm>:<ss>" for `seconds` of up time, counting
// 30-day months.
std::string FormatUpTime(int64_t seconds);

// The page as it is sent, for the counters as they are read now and the
// up time up to `now` (seconds since 1970).
std::string BuildStatisticsPage(const Statistics& stats, const StatisticsPageInfo& info,
                                int64_t now);

// The statistics handler ("/~stats"): the page as an in-memory body with
// status 200. Always kStageDone.
StageResult ServeStatisticsPage(RequestServices& services, RequestContext& ctx);

// Remote administration ("/~admin") is not offered: 501.
StageResult ServeAdmin(RequestServices& services, RequestContext& ctx);

}  // namespace brisvane
