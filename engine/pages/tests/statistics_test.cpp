// The statistics record (what each answered request adds) and the page
// that shows it.
#include "engine/core/statistics.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/core/request_context.h"
#include "engine/pages/statistics_page.h"

namespace brisvane {
namespace {

void Answered(RequestContext* ctx, int status, int32_t method = kMethodGet, uint64_t received = 0,
              uint64_t sent = 0) {
  ctx->request.method = method;
  ctx->response.status_code = status;
  ctx->bytes_received = received;
  ctx->bytes_sent = sent;
}

// Counts one request answered with `status`.
void CountOne(Statistics* stats, int status, int32_t method = kMethodGet, uint64_t received = 0,
              uint64_t sent = 0) {
  RequestContext ctx;
  Answered(&ctx, status, method, received, sent);
  stats->Count(ctx);
}

TEST(StatisticsTest, EachStatusRaisesOnlyItsOwnCounter) {
  struct Case {
    int status;
    uint32_t redirections, use_cache, authorization, errors;
  } cases[] = {
      {200, 0, 0, 0, 0}, {206, 0, 0, 0, 0}, {301, 1, 0, 0, 0}, {302, 1, 0, 0, 0},
      {304, 0, 1, 0, 0}, {400, 0, 0, 0, 1}, {401, 0, 0, 1, 0}, {403, 0, 0, 1, 0},
      {404, 0, 0, 0, 1}, {405, 0, 0, 0, 0}, {416, 0, 0, 0, 0}, {500, 0, 0, 0, 1},
      {501, 0, 0, 0, 1}, {503, 0, 0, 0, 1}, {502, 0, 0, 0, 0}, {303, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Statistics stats;
    CountOne(&stats, c.status);
    EXPECT_EQ(stats.requests(), 1u) << c.status;
    EXPECT_EQ(stats.redirections(), c.redirections) << c.status;
    EXPECT_EQ(stats.use_cache(), c.use_cache) << c.status;
    EXPECT_EQ(stats.authorization_failures(), c.authorization) << c.status;
    EXPECT_EQ(stats.errors(), c.errors) << c.status;
    EXPECT_EQ(stats.cgi_execs(), 0u) << c.status;
  }
}

TEST(StatisticsTest, MethodsByCode) {
  Statistics stats;
  for (int32_t method : std::vector<int32_t>{kMethodUnknown, kMethodOptions, kMethodGet, kMethodGet,
                                            kMethodHead, kMethodPost, kMethodPut, kMethodDelete,
                                            kMethodTrace, 8, -7})
    CountOne(&stats, 200, method);
  const uint32_t want[Statistics::kMethodCounters] = {2, 1, 2, 1, 1, 1, 1, 1};
  for (int i = 0; i < Statistics::kMethodCounters; ++i) EXPECT_EQ(stats.method_count(i), want[i]) << i;
  EXPECT_EQ(stats.requests(), 11u) << "a code above 7 is still a request";
  EXPECT_EQ(stats.method_count(8), 0u);
  EXPECT_EQ(stats.method_count(-1), 0u);
}

TEST(StatisticsTest, CountersWrapAt32Bits) {
  Statistics stats;
  CountOne(&stats, 200, kMethodPut, 0xFFFFFFF0u, 0xFFFFFFFFu);
  CountOne(&stats, 200, kMethodPut, 0x20, 2);
  EXPECT_EQ(stats.bytes_sent(), 1u);
  EXPECT_EQ(stats.bytes_received(), 0x10u);
  // A body beyond 4 GiB adds its low 32 bits.
  CountOne(&stats, 200, kMethodGet, 0, (uint64_t{1} << 32) + 5);
  EXPECT_EQ(stats.bytes_sent(), 6u);
}

TEST(StatisticsTest, ConcurrentCountsAreNotLost) {
  Statistics stats;
  constexpr int kThreads = 8, kEach = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&stats] {
      RequestContext ctx;
      Answered(&ctx, 404, kMethodGet, 3, 7);
      for (int i = 0; i < kEach; ++i) stats.Count(ctx);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(stats.requests(), uint32_t{kThreads * kEach});
  EXPECT_EQ(stats.errors(), uint32_t{kThreads * kEach});
  EXPECT_EQ(stats.method_count(kMethodGet), uint32_t{kThreads * kEach});
  EXPECT_EQ(stats.bytes_received(), uint32_t{3 * kThreads * kEach});
  EXPECT_EQ(stats.bytes_sent(), uint32_t{7 * kThreads * kEach});
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
