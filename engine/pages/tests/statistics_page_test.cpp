// The statistics page: the up-time text and the whole page for a known
// record.
#include "engine/pages/statistics_page.h"

#include <gtest/gtest.h>

#include "engine/core/request_context.h"
#include "engine/core/statistics.h"

namespace brisvane {
namespace {

// Counts one request answered with `status`.
void CountOne(Statistics* stats, int status, int32_t method = kMethodGet, uint64_t received = 0,
              uint64_t sent = 0) {
  RequestContext ctx;
  ctx.request.method = method;
  ctx.response.status_code = status;
  ctx.bytes_received = received;
  ctx.bytes_sent = sent;
  stats->Count(ctx);
}

TEST(StatisticsPageTest, UpTimeCountsThirtyDayMonths) {
  const int64_t day = 86400;
  EXPECT_EQ(FormatUpTime(0), "0 months 0 days 0:00:00");
  EXPECT_EQ(FormatUpTime(3 * day + 4 * 3600 + 5 * 60 + 6), "0 months 3 days 4:05:06");
  EXPECT_EQ(FormatUpTime(31 * day), "1 months 1 days 0:00:00");
  EXPECT_EQ(FormatUpTime(30 * day - 1), "0 months 29 days 23:59:59");
  EXPECT_EQ(FormatUpTime(400 * day + 13 * 3600 + 59), "13 months 10 days 13:00:59");
}

TEST(StatisticsPageTest, WholePageByteForByte) {
  Statistics stats(784111777);  // Sun, 06 Nov 1994 08:49:37 GMT
  EXPECT_EQ(stats.start_date(), "Sun, 06 Nov 1994 08:49:37 GMT");
  CountOne(&stats, 200, kMethodGet, 0, 1043);
  CountOne(&stats, 304, kMethodGet);
  CountOne(&stats, 404, kMethodHead);
  CountOne(&stats, 403, kMethodPost, 12);
  CountOne(&stats, 302, kMethodGet);
  CountOne(&stats, 501, kMethodUnknown);
  stats.CountCgiExec();
  stats.SetStuckRunsSource([] { return 3u; });
  StatisticsPageInfo info{"www.example", "web@example", true};
  std::string page = BuildStatisticsPage(stats, info, 784111777 + 31 * 86400 + 3723);
  EXPECT_EQ(page,
            "<HTML><HEAD><TITLE>Brisvane Statistics for www.example</TITLE></HEAD>\n"
            "<BODY BGCOLOR=\"#FFFFFF\"><CENTER><H1>Web Server Statistics for www.example</H1>"
            "</CENTER><HR>\n"
            "<PRE>\n"
            "Server version is Brisvane/2.10\n"
            "Server last started on Sun, 06 Nov 1994 08:49:37 GMT\n"
            "Server up time 1 months 1 days 1:02:03\n\n"
            "Total requests:                          6\n"
            "Bytes sent:                           1043\n"
            "Bytes received:                         12\n"
            "\n"
            "Unknown requests:                        1\n"
            "OPTIONS requests:                        0\n"
            "GET requests:                            3\n"
            "HEAD requests:                           1\n"
            "POST requests:                           1\n"
            "PUT requests:                            0\n"
            "DELETE requests:                         0\n"
            "TRACE requests:                          0\n"
            "\n"
            "Redirection responses:                   1\n"
            "\"Use Cache\" responses:                   1\n"
            "Authorization failures:                  1\n"
            "\n"
            "CGI execs:                               1\n"
            "Stuck ISAPI runs:                        3\n"
            "\n"
            "Total Errors:                            2\n"
            "</PRE><HR>"
            "<A HREF=\"mailto:web@example\"><ADDRESS>&lt;web@example&gt;</ADDRESS></A>"
            "</BODY></HTML>");

  info.send_version_info = false;
  page = BuildStatisticsPage(stats, info, 784111777);
  EXPECT_NE(page.find("\nServer version is Brisvane\n"), std::string::npos);
}

}  // namespace
}  // namespace brisvane
