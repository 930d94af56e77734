// What the connection layer promises a client: open connections that send
// nothing, or send their head slowly, hold no request thread and do not
// count towards the overload limit; only requests in progress do. Stop
// ends every kind of connection promptly.
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/tests/test_server.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kGet[] = "GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n";

// NumThreads 16: sixteen request threads, refusing at fifteen requests in
// progress (the refused one included).
class ConnectionLayerTest : public TestServer {
 protected:
  void Configure(ServerSettings& s) override {
    s.num_threads = 16;
    s.recv_timeout = 4000;
  }
  void SetUp() override {
    TestServer::SetUp();
    WriteFile("page.html", "hello");
  }
  // Connections that stay open: half have been served once and wait
  // kept, half never sent a byte.
  std::vector<std::unique_ptr<Client>> OpenIdle(int count) {
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < count; ++i) {
      idle.push_back(std::make_unique<Client>(port()));
      if (i % 2 == 0) continue;
      Response r;
      EXPECT_TRUE(idle.back()->Send(kGet) && idle.back()->Read(&r) && r.code == 200) << i;
    }
    return idle;
  }
  uint32_t InProgress() { return engine().current_clients().load(); }
  // "NUM_CLIENTS" once the requests answered a moment ago have left the
  // count (a client may read its answer before the count drops).
  std::string NumClientsSettled(uint32_t expected) {
    for (int i = 0; i < 500 && InProgress() != expected; ++i) platform::sleep_ms(10);
    return QueryNumClients();
  }
  std::string QueryNumClients() {
    char buf[80] = "NUM_CLIENTS";
    return engine().QueryValue(buf, sizeof buf) ? buf : "?";
  }
};

TEST_F(ConnectionLayerTest, ManyIdleConnectionsLeaveRoomForRequests) {
  StartServer();
  auto idle = OpenIdle(300);
  EXPECT_EQ(NumClientsSettled(0), "0") << "idle connections are not requests in progress";
  const auto start = Clock::now();
  Response r = Get(kGet);
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.body, "hello");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  // The kept ones are still served after all that.
  for (size_t i = 1; i < idle.size(); i += 50) {
    ASSERT_TRUE(idle[i]->Send(kGet));
    ASSERT_TRUE(idle[i]->Read(&r)) << i;
    EXPECT_EQ(r.code, 200);
  }
}

TEST_F(ConnectionLayerTest, TrickledHeadsAreServedWithinTheReceiveTime) {
  StartServer();
  // More trickling clients than request threads: none holds one.
  std::vector<std::unique_ptr<Client>> slow;
  for (int i = 0; i < 24; ++i) slow.push_back(std::make_unique<Client>(port()));
  const std::string head = kGet;
  const auto start = Clock::now();
  for (size_t at = 0; at + 1 < head.size(); ++at) {
    for (auto& c : slow) ASSERT_TRUE(c->Send(head.substr(at, 1)));
    if (at == head.size() / 2) {
      Response r = Get(kGet);
      EXPECT_EQ(r.code, 200) << "served while every slow head is half-way";
      EXPECT_EQ(NumClientsSettled(0), "0") << "heads still arriving are not requests in progress";
    }
    platform::sleep_ms(20);
  }
  // Each head completed in turn: all of them at once would be as many
  // requests in progress, which the overload rule may refuse.
  for (auto& c : slow) {
    Response r;
    ASSERT_TRUE(c->Send(head.substr(head.size() - 1)));
    ASSERT_TRUE(c->Read(&r));
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.body, "hello");
  }
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4000));
  // A head that never ends is closed once the receive time is up, counted
  // from its first byte, although every byte comes quickly.
  Client endless(port());
  const auto first = Clock::now();
  ASSERT_TRUE(endless.Send("GET /page.html HTTP/1.1\r\n"));
  bool closed = false;
  while (!closed && Clock::now() - first < std::chrono::seconds(8)) {
    closed = !endless.Send("X: y\r\n") || endless.ClosedWithin(200);
  }
  const auto took = Clock::now() - first;
  EXPECT_TRUE(closed);
  EXPECT_GE(took, std::chrono::milliseconds(3900));
  EXPECT_LT(took, std::chrono::milliseconds(5500));
}

TEST_F(ConnectionLayerTest, OverloadCountsRequestsInProgressOnly) {
  StartServer();
  auto idle = OpenIdle(50);
  std::vector<std::unique_ptr<Client>> busy;
  for (int i = 0; i < 13; ++i) {
    busy.push_back(HoldRequestInProgress());
    ASSERT_TRUE(busy.back()) << i;
  }
  EXPECT_EQ(NumClientsSettled(13), "13");
  // Thirteen in progress and this one make fourteen: still served, with
  // fifty idle connections open.
  Response r = Get(kGet);
  EXPECT_EQ(r.code, 200);
  busy.push_back(HoldRequestInProgress());
  ASSERT_TRUE(busy.back());
  EXPECT_EQ(NumClientsSettled(14), "14");
  // Fourteen and this one make fifteen: refused.
  r = Get(kGet);
  EXPECT_EQ(r.status_line, "HTTP/1.0 503 Server overloaded");
  busy.clear();
  EXPECT_EQ(NumClientsSettled(0), "0");
  EXPECT_EQ(Get(kGet).code, 200);
}

TEST_F(ConnectionLayerTest, StopEndsParkedAndActiveConnections) {
  StartServer();
  auto idle = OpenIdle(40);
  auto busy = HoldRequestInProgress();
  ASSERT_TRUE(busy);
  Client half(port());
  ASSERT_TRUE(half.Send("GET /page.html HTTP/1.1\r\nHo"));
  const auto start = Clock::now();
  EXPECT_TRUE(engine().Stop());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(InProgress(), 0u);
  EXPECT_TRUE(half.ClosedWithin(2000));
  for (auto& c : idle) EXPECT_TRUE(c->ClosedWithin(2000));
  EXPECT_TRUE(busy->ClosedWithin(5000));
}

}  // namespace
}  // namespace brisvane::testing
