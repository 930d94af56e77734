// The readiness set means the same on epoll and on a completion port:
// only ready sockets are reported, each once per arming even with several
// waiting threads, a closed peer counts as readable, a removed socket stays
// silent, wake() returns one wait per call, and time-outs hold.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/poller.h"
#include "platform/scoped_handle.h"
#include "platform/socket.h"

namespace platform {
namespace {

using namespace std::chrono;

int64_t elapsed_ms(steady_clock::time_point since) {
  return duration_cast<milliseconds>(steady_clock::now() - since).count();
}

// A connection: the client end blocking, the server end as the connection
// layer gets it (non-blocking, from socket_accept_connection).
struct Pair {
  ScopedSocket client;
  ScopedSocket server;
};

class PollerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SocketsInfo info;
    ASSERT_TRUE(sockets_startup(&info, nullptr));
    listener_.reset(socket_create(true));
    ASSERT_TRUE(listener_);
    SockAddrV4 any;
    any.addr = host_to_net32(0x7F000001);
    ASSERT_TRUE(socket_bind(listener_.get(), any)) << socket_last_error();
    ASSERT_TRUE(socket_listen(listener_.get(), 128)) << socket_last_error();
    ASSERT_TRUE(socket_local_address(listener_.get(), &where_));
    ASSERT_TRUE(poller_.ok()) << last_error();
  }
  void TearDown() override {
    listener_.reset();
    sockets_cleanup();
  }

  ScopedSocket connect_client() {
    ScopedSocket c(socket_create(true));
    EXPECT_TRUE(socket_connect(c.get(), where_)) << socket_last_error();
    return c;
  }

  ScopedSocket accept_server() {
    SocketHandle s = kInvalidSocket;
    EXPECT_EQ(socket_accept_connection(listener_.get(), &s), AcceptOutcome::kAccepted) << socket_last_error();
    return ScopedSocket(s);
  }

  std::vector<Pair> make_pairs(size_t n) {
    std::vector<Pair> pairs(n);
    for (Pair& p : pairs) {
      p.client = connect_client();
      p.server = accept_server();
    }
    return pairs;
  }

  // Keys reported until `want` came or `ms` passed; a key reported twice
  // stays twice in the result.
  std::multiset<uintptr_t> collect(size_t want, uint32_t ms) {
    std::multiset<uintptr_t> keys;
    auto start = steady_clock::now();
    while (keys.size() < want && elapsed_ms(start) < ms) {
      PollEvent ev[kMaxPollBatch];
      int n = poller_.wait(ev, kMaxPollBatch, 100);
      EXPECT_GE(n, 0) << last_error();
      for (int i = 0; i < n; ++i) keys.insert(ev[i].key);
    }
    return keys;
  }

  // A short wait that must find nothing.
  void expect_silence(uint32_t ms = 300) {
    PollEvent ev[kMaxPollBatch];
    int n = poller_.wait(ev, kMaxPollBatch, ms);
    EXPECT_EQ(n, 0) << (n > 0 ? "reported key " + std::to_string(ev[0].key) : "wait failed");
  }

  ScopedSocket listener_;
  SockAddrV4 where_;
  Poller poller_;
};

constexpr uintptr_t kKeyBase = 1000;

TEST_F(PollerTest, OnlyReadySocketsAreReportedOncePerArming) {
  std::vector<Pair> pairs = make_pairs(40);
  for (size_t i = 0; i < pairs.size(); ++i)
    ASSERT_TRUE(poller_.add(pairs[i].server.get(), kKeyBase + i, PollInterest::kReadable)) << last_error();
  for (size_t i : {3, 17, 29}) ASSERT_EQ(socket_send(pairs[i].client.get(), "x", 1), 1);

  EXPECT_EQ(collect(3, 5000), (std::multiset<uintptr_t>{kKeyBase + 3, kKeyBase + 17, kKeyBase + 29}));
  // The data is still unread, yet a reported socket is silent until armed.
  expect_silence();
  ASSERT_TRUE(poller_.arm(pairs[17].server.get(), kKeyBase + 17, PollInterest::kReadable));
  EXPECT_EQ(collect(1, 5000), (std::multiset<uintptr_t>{kKeyBase + 17}));
  expect_silence();
}

TEST_F(PollerTest, NothingYetIsWouldBlockAndAClosedPeerIsReadable) {
  Pair p{connect_client(), accept_server()};
  char buf[16];
  EXPECT_EQ(socket_recv_nowait(p.server.get(), buf, sizeof buf), -1);
  EXPECT_EQ(socket_last_error(), err::kWsaWouldBlock);

  ASSERT_TRUE(poller_.add(p.server.get(), 7, PollInterest::kReadable)) << last_error();
  expect_silence();
  p.client.reset();
  EXPECT_EQ(collect(1, 5000), (std::multiset<uintptr_t>{7}));
  EXPECT_EQ(socket_recv_nowait(p.server.get(), buf, sizeof buf), 0);
}

TEST_F(PollerTest, ManyWaitingThreadsShareABurstWithoutDuplicates) {
  constexpr size_t kConnections = 100;
  std::vector<Pair> pairs(kConnections);
  for (Pair& p : pairs) p.client = connect_client();
  for (size_t i = 0; i < kConnections; ++i) {
    pairs[i].server = accept_server();
    ASSERT_TRUE(pairs[i].server);
    ASSERT_TRUE(poller_.add(pairs[i].server.get(), kKeyBase + i, PollInterest::kReadable)) << last_error();
  }
  ASSERT_TRUE(socket_set_blocking(listener_.get(), false));
  SocketHandle none = kInvalidSocket;
  EXPECT_EQ(socket_accept_connection(listener_.get(), &none), AcceptOutcome::kWouldBlock);
  EXPECT_EQ(socket_last_error(), err::kWsaWouldBlock);
  EXPECT_EQ(none, kInvalidSocket);

  std::mutex seen_lock;
  std::multiset<uintptr_t> seen;
  std::atomic<bool> done{false};
  auto waiter = [&] {
    while (!done) {
      PollEvent ev[8];
      int n = poller_.wait(ev, 8, 50);
      if (n < 0) return;
      std::lock_guard<std::mutex> hold(seen_lock);
      for (int i = 0; i < n; ++i) seen.insert(ev[i].key);
    }
  };
  std::vector<std::thread> waiters;
  for (int t = 0; t < 4; ++t) waiters.emplace_back(waiter);
  for (Pair& p : pairs) EXPECT_EQ(socket_send(p.client.get(), "x", 1), 1);

  auto start = steady_clock::now();
  while (elapsed_ms(start) < 10000) {
    {
      std::lock_guard<std::mutex> hold(seen_lock);
      if (seen.size() >= kConnections) break;
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  std::this_thread::sleep_for(milliseconds(200));  // room for a duplicate to show
  done = true;
  for (std::thread& t : waiters) t.join();

  EXPECT_EQ(seen.size(), kConnections);
  for (size_t i = 0; i < kConnections; ++i) EXPECT_EQ(seen.count(kKeyBase + i), 1u) << "key " << i;
}

TEST_F(PollerTest, ARemovedSocketStaysSilentAndCanBeAddedAgain) {
  Pair kept{connect_client(), accept_server()};
  Pair closed{connect_client(), accept_server()};
  ASSERT_TRUE(poller_.add(kept.server.get(), 1, PollInterest::kReadable));
  ASSERT_TRUE(poller_.add(closed.server.get(), 2, PollInterest::kReadable));
  ASSERT_TRUE(poller_.remove(kept.server.get())) << last_error();
  ASSERT_TRUE(poller_.remove(closed.server.get())) << last_error();
  // Closed while its arming was out: the cancelled operation must not show.
  closed.server.reset();
  ASSERT_EQ(socket_send(kept.client.get(), "x", 1), 1);
  expect_silence();

  ASSERT_TRUE(poller_.add(kept.server.get(), 3, PollInterest::kReadable)) << last_error();
  EXPECT_EQ(collect(1, 5000), (std::multiset<uintptr_t>{3}));
}

TEST_F(PollerTest, WakeReturnsOneWaitPerCall) {
  auto start = steady_clock::now();
  auto woken = std::async(std::launch::async, [&] {
    PollEvent ev[4];
    return poller_.wait(ev, 4, kWaitInfinite);
  });
  std::this_thread::sleep_for(milliseconds(100));
  ASSERT_TRUE(poller_.wake()) << last_error();
  ASSERT_EQ(woken.wait_for(seconds(5)), std::future_status::ready);
  EXPECT_EQ(woken.get(), 0);
  EXPECT_LT(elapsed_ms(start), 2000);

  // Two wakes before anyone waits: two waits return at once, a third waits.
  ASSERT_TRUE(poller_.wake());
  ASSERT_TRUE(poller_.wake());
  PollEvent ev[4];
  start = steady_clock::now();
  EXPECT_EQ(poller_.wait(ev, 4, 5000), 0);
  EXPECT_EQ(poller_.wait(ev, 4, 5000), 0);
  EXPECT_LT(elapsed_ms(start), 2000);
  start = steady_clock::now();
  EXPECT_EQ(poller_.wait(ev, 4, 300), 0);
  EXPECT_GE(elapsed_ms(start), 250);
}

TEST_F(PollerTest, TimeOutsHoldWithSocketsParked) {
  std::vector<Pair> pairs = make_pairs(3);
  for (size_t i = 0; i < pairs.size(); ++i)
    ASSERT_TRUE(poller_.add(pairs[i].server.get(), kKeyBase + i, PollInterest::kReadable));
  PollEvent ev[4];
  auto start = steady_clock::now();
  EXPECT_EQ(poller_.wait(ev, 4, 0), 0);
  EXPECT_LT(elapsed_ms(start), 200);
  start = steady_clock::now();
  EXPECT_EQ(poller_.wait(ev, 4, 400), 0);
  EXPECT_GE(elapsed_ms(start), 350);
  EXPECT_LT(elapsed_ms(start), 3000);
}

TEST_F(PollerTest, WritableOnceTheSendBufferHasRoom) {
  Pair p{connect_client(), accept_server()};
  ASSERT_TRUE(poller_.add(p.server.get(), 9, PollInterest::kWritable)) << last_error();
  EXPECT_EQ(collect(1, 5000), (std::multiset<uintptr_t>{9}));

  // Fill the connection until a send would block; then it is not writable
  // until the peer reads.
  std::vector<char> block(65536, 'z');
  size_t queued = 0;
  while (queued < (64u << 20)) {
    int64_t n = socket_send(p.server.get(), block.data(), block.size());
    if (n < 0) break;
    queued += static_cast<size_t>(n);
  }
  ASSERT_EQ(socket_last_error(), err::kWsaWouldBlock);
  ASSERT_TRUE(poller_.arm(p.server.get(), 9, PollInterest::kWritable));
  expect_silence();
  std::vector<char> sink(65536);
  size_t drained = 0;
  while (drained < queued) {
    int64_t n = socket_recv(p.client.get(), sink.data(), sink.size());
    ASSERT_GT(n, 0);
    drained += static_cast<size_t>(n);
  }
  EXPECT_EQ(collect(1, 5000), (std::multiset<uintptr_t>{9}));
}

}  // namespace
}  // namespace platform
