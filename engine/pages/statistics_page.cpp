#include "engine/pages/statistics_page.h"

#include <cstdio>
#include <ctime>

#include "base/product.h"
#include "engine/core/error_page.h"
#include "engine/core/virtual_server.h"

namespace brisvane {
namespace {

// Appends one printf-formatted piece; the pieces of this page are short.
template <typename... Args>
void AppendFormat(std::string* out, const char* format, Args... args) {
  char buf[256];
  int n = std::snprintf(buf, sizeof buf, format, args...);
  if (n > 0) out->append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

}  // namespace

std::string FormatUpTime(int64_t s) {
  constexpr int64_t kDay = 86400;
  std::string out;
  AppendFormat(&out, "%d months %d days %d:%2.2d:%2.2d", static_cast<int>(s / (30 * kDay)),
               static_cast<int>(s / kDay % 30), static_cast<int>(s / 3600 % 24),
               static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  return out;
}

std::string BuildStatisticsPage(const Statistics& stats, const StatisticsPageInfo& info,
                                int64_t now) {
  std::string page;
  page += "<HTML><HEAD><TITLE>Brisvane Statistics for " + info.server_name + "</TITLE></HEAD>\n";
  page += "<BODY BGCOLOR=\"#FFFFFF\"><CENTER><H1>Web Server Statistics for " + info.server_name +
          "</H1></CENTER><HR>\n";
  page += "<PRE>\n";
  page += std::string("Server version is ") + ServerSoftware(info.send_version_info) +
          "\n";
  page += "Server last started on " + stats.start_date() + "\n";
  page += "Server up time " + FormatUpTime(now - stats.start_time()) + "\n\n";

  // Labels are padded to 30 characters so that the numbers form a column.
  auto line = [&page](const char* label, uint32_t value) {
    AppendFormat(&page, "%-30s%12u\n", label, static_cast<unsigned>(value));
  };
  line("Total requests:", stats.requests());
  line("Bytes sent:", stats.bytes_sent());
  line("Bytes received:", stats.bytes_received());
  page += "\n";
  static const char* const kMethodLabels[Statistics::kMethodCounters] = {
      "Unknown requests:", "OPTIONS requests:", "GET requests:",    "HEAD requests:",
      "POST requests:",    "PUT requests:",     "DELETE requests:", "TRACE requests:"};
  for (int i = 0; i < Statistics::kMethodCounters; ++i) line(kMethodLabels[i], stats.method_count(i));
  page += "\n";
  line("Redirection responses:", stats.redirections());
  line("\"Use Cache\" responses:", stats.use_cache());
  line("Authorization failures:", stats.authorization_failures());
  page += "\n";
  line("CGI execs:", stats.cgi_execs());
  line("Stuck ISAPI runs:", stats.stuck_extension_runs());
  page += "\n";
  line("Total Errors:", stats.errors());
  page += "</PRE><HR>";
  page += "<A HREF=\"mailto:" + info.admin_email + "\"><ADDRESS>&lt;" + info.admin_email +
          "&gt;</ADDRESS></A>";
  page += "</BODY></HTML>";
  return page;
}

StageResult ServeStatisticsPage(RequestServices& services, RequestContext& ctx) {
  StatisticsPageInfo info;
  if (ctx.snapshot) {
    const ServerSettings& s = ctx.snapshot->settings;
    info.send_version_info = s.send_version_info;
    if (!s.virtual_servers.empty()) {
      info.server_name = s.virtual_servers.front().site_address;
      info.admin_email = s.virtual_servers.front().admin_email;
    }
  }
  std::string page =
      BuildStatisticsPage(services.statistics, info, static_cast<int64_t>(std::time(nullptr)));
  HttpMessage& resp = ctx.response;
  resp.SetStatus(200);
  SetHtmlPage(resp, std::move(page));
  return kStageDone;
}

StageResult ServeAdmin(RequestServices&, RequestContext& ctx) {
  RespondError(ctx, 501);
  return kStageStop;
}

}  // namespace brisvane
