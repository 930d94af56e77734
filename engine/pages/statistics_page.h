// The built-in page at "/~stats": every counter of the statistics record
// in one column, with the server's version, start date and up time.
#pragma once

#include <cstdint>
#include <string>

#include "engine/pages/statistics.h"

namespace brisvane {

class Engine;
struct RequestContext;

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

// The "wwwserver/stats" handler: the page as an in-memory body with status
// 200. Always kStageDone.
int ServeStatisticsPage(Engine& engine, RequestContext& ctx);

}  // namespace brisvane
