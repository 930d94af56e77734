// The statistics record: what each answered request adds.
#include "engine/core/statistics.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/core/request_context.h"

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

}  // namespace
}  // namespace brisvane
