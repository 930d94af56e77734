// What the connection layer promises a client: open connections that send
// nothing, or send their head or body slowly, hold no request thread and
// do not count towards the overload limit; only requests in progress do.
// Stop ends every kind of connection promptly and leaves nothing behind;
// running out of descriptors is waited out, not spun on.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/tests/test_server.h"
#include "platform/system.h"
#ifndef _WIN32
#include "platform/tests/process_usage_posix.h"
#endif

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
  // Connections whose body has begun to arrive and stops there.
  std::vector<std::unique_ptr<Client>> OpenTrickling(int count) {
    std::vector<std::unique_ptr<Client>> slow;
    for (int i = 0; i < count; ++i) {
      slow.push_back(std::make_unique<Client>(port()));
      EXPECT_TRUE(slow.back()->Send("POST /page.html HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\nab"));
    }
    return slow;
  }
  // One more byte each, well within the receive time.
  void Nudge(std::vector<std::unique_ptr<Client>>& slow) {
    for (auto& c : slow) EXPECT_TRUE(c->Send("c"));
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

TEST_F(ConnectionLayerTest, HeadsLargerThanABufferArriveWithoutAThread) {
  StartServer();
  // Sixty header lines of 800 bytes: some 48 KiB, within the head limits.
  std::string head = "GET /page.html HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 60; ++i) head += "X-Filler-" + std::to_string(i) + ": " + std::string(800, 'f') + "\r\n";
  head += "\r\n";
  Client big(port());
  const size_t piece = head.size() / 8;
  size_t at = 0;
  for (; at + piece < head.size(); at += piece) {
    ASSERT_TRUE(big.Send(head.substr(at, piece)));
    platform::sleep_ms(100);
    EXPECT_EQ(InProgress(), 0u) << "a head still arriving is not a request in progress, at " << at;
  }
  ASSERT_TRUE(big.Send(head.substr(at)));
  Response r;
  ASSERT_TRUE(big.Read(&r));
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.body, "hello");
}

TEST_F(ConnectionLayerTest, OverloadCountsRequestsInProgressOnly) {
  StartServer();
  auto idle = OpenIdle(50);
  auto bodies = OpenTrickling(20);
  std::vector<std::unique_ptr<Client>> busy;
  for (int i = 0; i < 13; ++i) {
    busy.push_back(HoldRequestInProgress());
    ASSERT_TRUE(busy.back()) << i;
  }
  Nudge(bodies);
  EXPECT_EQ(NumClientsSettled(13), "13");
  // Thirteen in progress and this one make fourteen: still served, with
  // fifty idle connections open and twenty bodies arriving.
  Response r = Get(kGet);
  EXPECT_EQ(r.code, 200);
  busy.push_back(HoldRequestInProgress());
  ASSERT_TRUE(busy.back());
  Nudge(bodies);
  EXPECT_EQ(NumClientsSettled(14), "14");
  // Fourteen and this one make fifteen: refused.
  r = Get(kGet);
  EXPECT_EQ(r.status_line, "HTTP/1.0 503 Server overloaded");
  busy.clear();
  EXPECT_EQ(NumClientsSettled(0), "0");
  EXPECT_EQ(Get(kGet).code, 200);
}

TEST_F(ConnectionLayerTest, StopEndsParkedAndActiveConnections) {
  // What a stopped engine holds (its log files' writer, for one) is the
  // baseline; a second run must leave no more.
  StartServer();
  ASSERT_TRUE(engine().Stop());
#ifndef _WIN32
  const int descriptors = platform::testing::OpenDescriptors();
  const int threads = platform::testing::ProcessThreads();
#endif
  ASSERT_TRUE(engine().Start());
  ASSERT_EQ(engine().bound_port(), port());
  {
    auto idle = OpenIdle(40);
    auto bodies = OpenTrickling(5);
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
    for (auto& c : bodies) EXPECT_TRUE(c->ClosedWithin(2000));
    EXPECT_TRUE(busy->ClosedWithin(5000));
  }
#ifndef _WIN32
  EXPECT_EQ(platform::testing::OpenDescriptors(), descriptors);
  EXPECT_EQ(platform::testing::ProcessThreads(), threads);
#endif
}

#ifndef _WIN32
TEST_F(ConnectionLayerTest, RunningOutOfDescriptorsIsWaitedOut) {
  StartServer();
  platform::SockAddrV4 server;
  ASSERT_TRUE(Socket::Resolve("127.0.0.1", port(), false, &server));
  // Made beforehand: once descriptors run out, only the server needs one.
  std::vector<std::unique_ptr<Socket>> waiting;
  for (int i = 0; i < 3; ++i) {
    waiting.push_back(std::make_unique<Socket>());
    ASSERT_TRUE(waiting.back()->CreateStream());
  }
  uint64_t cpu_ms = 0;
  {
    platform::testing::NoNewDescriptors none;
    ASSERT_TRUE(none.active());
    for (auto& s : waiting) {
      ASSERT_TRUE(s->Connect(server));
      ASSERT_EQ(s->Send(kGet, sizeof kGet - 1), static_cast<int64_t>(sizeof kGet - 1));
    }
    const uint64_t before = platform::testing::ProcessCpuMs();
    platform::sleep_ms(1000);
    cpu_ms = platform::testing::ProcessCpuMs() - before;
    for (auto& s : waiting) EXPECT_FALSE(s->WaitReadable(0)) << "answered without a descriptor";
  }
  // A server retrying at once would burn a whole core meanwhile.
  EXPECT_LT(cpu_ms, 300u);
  for (auto& s : waiting) {
    std::string got;
    char buf[512];
    while (got.find("\r\n\r\n") == std::string::npos && s->WaitReadable(5000)) {
      const int64_t n = s->Receive(buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;
  }
  size_t logged = 0;
  for (const std::string& line : HookLines()) logged += line.find("waiting for descriptors") != std::string::npos;
  EXPECT_EQ(logged, 1u);
}
#endif

// Bodies may arrive slowly; each receive has RecvTimeOut, not the body.
class TrickledBodyTest : public ConnectionLayerTest {
 protected:
  static constexpr uint32_t kRecvTimeoutMs = 3000;
  void Configure(ServerSettings& s) override {
    ConnectionLayerTest::Configure(s);
    s.recv_timeout = kRecvTimeoutMs;
    // Master-user security without a master account lets PUT through.
    s.virtual_servers[0].security_type = 1;
  }
  static std::string PutHead(const std::string& name, size_t length) {
    return "PUT /" + name + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
  }
};

TEST_F(TrickledBodyTest, BodiesArriveWithoutHoldingAThread) {
  StartServer();
  constexpr int kSlow = 50;
  constexpr size_t kBodySize = 1000;
  constexpr size_t kTrickled = 17;  // one every 200 ms: longer than RecvTimeOut
  std::vector<std::unique_ptr<Client>> slow;
  std::vector<std::string> bodies;
  for (int i = 0; i < kSlow; ++i) {
    bodies.push_back(std::string(kBodySize, static_cast<char>('a' + i % 26)));
    slow.push_back(std::make_unique<Client>(port()));
    ASSERT_TRUE(slow.back()->Send(PutHead("up" + std::to_string(i) + ".txt", kBodySize)));
  }
  Clock::time_point last_byte;
  for (size_t at = 0; at < kTrickled; ++at) {
    for (int i = 0; i < kSlow; ++i) ASSERT_TRUE(slow[i]->Send(bodies[i].substr(at, 1)));
    last_byte = Clock::now();
    if (at == kTrickled / 2) {
      const auto start = Clock::now();
      Response r = Get(kGet);
      EXPECT_EQ(r.code, 200) << "served while fifty bodies arrive";
      EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
      EXPECT_EQ(NumClientsSettled(0), "0") << "bodies still arriving are not requests in progress";
      const std::string whole(3000, 'w');
      Client put(port());
      ASSERT_TRUE(put.Send(PutHead("whole.txt", whole.size()) + whole));
      ASSERT_TRUE(put.Read(&r));
      EXPECT_EQ(r.code, 201);
      EXPECT_EQ(ReadFile("whole.txt"), whole);
    }
    platform::sleep_ms(200);
  }
  // Each completes its body in turn (all at once would be as many
  // requests in progress, which the overload rule may refuse) and is
  // answered then.
  Response r;
  for (int i = 0; i < kSlow; ++i) {
    ASSERT_TRUE(slow[i]->Send(bodies[i].substr(kTrickled)));
    ASSERT_TRUE(slow[i]->Read(&r)) << i;
    EXPECT_EQ(r.code, 201) << i;
  }
  for (int i = 0; i < kSlow; i += 7) EXPECT_EQ(ReadFile("up" + std::to_string(i) + ".txt"), bodies[i]) << i;
  // A body that stops is answered as cut short once a receive has waited
  // RecvTimeOut, and closed.
  Client stalled(port());
  ASSERT_TRUE(stalled.Send(PutHead("stalled.txt", kBodySize) + "abc"));
  const auto stalled_at = Clock::now();
  ASSERT_TRUE(stalled.Read(&r));
  const auto waited = Clock::now() - stalled_at;
  EXPECT_EQ(r.code, 400);
  EXPECT_TRUE(stalled.ClosedWithin(2000));
  EXPECT_GE(waited, std::chrono::milliseconds(kRecvTimeoutMs - 100));
  EXPECT_LT(waited, std::chrono::milliseconds(kRecvTimeoutMs + 1500));
  EXPECT_FALSE(std::filesystem::exists(DocPath("stalled.txt")));
}

TEST_F(TrickledBodyTest, ChunkedBodyInPiecesOfOneByte) {
  StartServer();
  // Every boundary falls somewhere: inside a size line, its extension, the
  // data, the line end after it, the last chunk and the trailer. A
  // pipelined request follows on the same connection.
  const std::string body =
      "PUT /chunked.txt HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5;name=value\r\nhello\r\n1b\r\n, chunked and trickled, all\r\n0\r\nX-Trailer: t\r\n\r\n" +
      std::string(kGet);
  Client c(port());
  for (char byte : body) {
    ASSERT_TRUE(c.Send(std::string(1, byte)));
    platform::sleep_ms(2);
  }
  Response r;
  ASSERT_TRUE(c.Read(&r));
  EXPECT_EQ(r.code, 201);
  EXPECT_EQ(ReadFile("chunked.txt"), "hello, chunked and trickled, all");
  ASSERT_TRUE(c.Read(&r));
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.body, "hello");
}

}  // namespace
}  // namespace brisvane::testing
