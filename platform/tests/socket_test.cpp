// Sockets mean the same on every backend: Windows Sockets codes for time-
// outs, refusals and ports in use, a shutdown that wakes a blocked thread,
// byte-exact file sends. Loopback only, small loops: Wine's sockets are slow.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/file.h"
#include "platform/scoped_handle.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace platform {
namespace {

using namespace std::chrono;

SockAddrV4 loopback(uint16_t port = 0) {
  SockAddrV4 a;
  a.addr = host_to_net32(0x7F000001);
  a.port = port;
  return a;
}

int64_t elapsed_ms(steady_clock::time_point since) {
  return duration_cast<milliseconds>(steady_clock::now() - since).count();
}

// Reads until `want` bytes came or the peer closed.
std::string recv_exactly(SocketHandle s, size_t want) {
  std::string got;
  char buf[8192];
  while (got.size() < want) {
    int64_t n = socket_recv(s, buf, std::min(sizeof buf, want - got.size()));
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SocketsInfo info;
    os_error e = 0;
    ASSERT_TRUE(sockets_startup(&info, &e)) << e;
  }
  void TearDown() override { sockets_cleanup(); }

  // A listener on 127.0.0.1 with a port of the system's choosing.
  ScopedSocket listen_loopback(SockAddrV4* where) {
    ScopedSocket l(socket_create(true));
    EXPECT_TRUE(l) << socket_last_error();
    EXPECT_TRUE(socket_bind(l.get(), loopback())) << socket_last_error();
    EXPECT_TRUE(socket_listen(l.get(), 5)) << socket_last_error();
    EXPECT_TRUE(socket_local_address(l.get(), where));
    return ScopedSocket(l.release());
  }

  // A connected pair over loopback.
  void connect_pair(ScopedSocket* client, ScopedSocket* server) {
    SockAddrV4 where;
    ScopedSocket l = listen_loopback(&where);
    ASSERT_NE(where.port, 0);
    *client = ScopedSocket(socket_create(true));
    ASSERT_TRUE(socket_connect(client->get(), where)) << socket_last_error();
    *server = ScopedSocket(socket_accept(l.get()));
    ASSERT_TRUE(*server) << socket_last_error();
  }
};

TEST_F(SocketTest, StartupReportsVersionOnePointOne) {
  SocketsInfo info;
  ASSERT_TRUE(sockets_startup(&info, nullptr));
  EXPECT_EQ(info.version, 0x0101);
  EXPECT_GE(info.high_version & 0xFF, 1);
  EXPECT_FALSE(info.description.empty());
  sockets_cleanup();
}

TEST_F(SocketTest, LoopbackConnectionCarriesDataBothWays) {
  ScopedSocket client, server;
  connect_pair(&client, &server);
  ASSERT_EQ(socket_send(client.get(), "ping", 4), 4);
  EXPECT_EQ(recv_exactly(server.get(), 4), "ping");
  ASSERT_EQ(socket_send(server.get(), "pong!", 5), 5);
  EXPECT_EQ(recv_exactly(client.get(), 5), "pong!");

  SockAddrV4 mine, theirs;
  ASSERT_TRUE(socket_local_address(client.get(), &mine));
  ASSERT_TRUE(socket_peer_address(server.get(), &theirs));
  EXPECT_EQ(mine.addr, theirs.addr);
  EXPECT_EQ(mine.port, theirs.port);
  EXPECT_EQ(format_ipv4(theirs.addr), "127.0.0.1");

  client.reset();
  char c;
  EXPECT_EQ(socket_recv(server.get(), &c, 1), 0);
}

TEST_F(SocketTest, ReceiveTimeOutReportsTimedOut) {
  ScopedSocket client, server;
  connect_pair(&client, &server);
  ASSERT_TRUE(socket_set_option(server.get(), SocketOption::kReceiveTimeout, 300));
  auto start = steady_clock::now();
  char buf[8];
  EXPECT_EQ(socket_recv(server.get(), buf, sizeof buf), -1);
  EXPECT_EQ(socket_last_error(), err::kWsaTimedOut);
  EXPECT_GE(elapsed_ms(start), 240);
}

TEST_F(SocketTest, NonBlockingReceiveWouldBlock) {
  ScopedSocket client, server;
  connect_pair(&client, &server);
  ASSERT_TRUE(socket_set_blocking(server.get(), false));
  char buf[8];
  EXPECT_EQ(socket_recv(server.get(), buf, sizeof buf), -1);
  EXPECT_EQ(socket_last_error(), err::kWsaWouldBlock);
  ASSERT_TRUE(socket_set_blocking(server.get(), true));
  ASSERT_EQ(socket_send(client.get(), "x", 1), 1);
  EXPECT_EQ(socket_recv(server.get(), buf, sizeof buf), 1);
}

TEST_F(SocketTest, AcceptedSocketBlocksEvenFromANonBlockingListener) {
  SockAddrV4 where;
  ScopedSocket l = listen_loopback(&where);
  ASSERT_TRUE(socket_set_blocking(l.get(), false));
  ScopedSocket client(socket_create(true));
  ASSERT_TRUE(socket_connect(client.get(), where));
  ASSERT_EQ(socket_wait(l.get(), false, 5000), 1);
  ScopedSocket server(socket_accept(l.get()));
  ASSERT_TRUE(server) << socket_last_error();
  // Blocking shows as a time-out where a non-blocking socket would block.
  ASSERT_TRUE(socket_set_option(server.get(), SocketOption::kReceiveTimeout, 200));
  char c;
  EXPECT_EQ(socket_recv(server.get(), &c, 1), -1);
  EXPECT_EQ(socket_last_error(), err::kWsaTimedOut);
}

TEST_F(SocketTest, WaitTellsWhenDataArrives) {
  ScopedSocket client, server;
  connect_pair(&client, &server);
  auto start = steady_clock::now();
  EXPECT_EQ(socket_wait(server.get(), false, 200), 0);
  EXPECT_GE(elapsed_ms(start), 160);
  EXPECT_EQ(socket_wait(server.get(), false, 0), 0);
  EXPECT_EQ(socket_wait(client.get(), true, 0), 1);

  std::thread sender([&] {
    sleep_ms(100);
    socket_send(client.get(), "d", 1);
  });
  start = steady_clock::now();
  EXPECT_EQ(socket_wait(server.get(), false, 20000), 1);
  EXPECT_LT(elapsed_ms(start), 15000);
  sender.join();
}

TEST_F(SocketTest, WaitOnSeveralListenersWakesForAnyOfThem) {
  SockAddrV4 first_at, second_at;
  ScopedSocket first = listen_loopback(&first_at);
  ScopedSocket second = listen_loopback(&second_at);
  const SocketHandle both[] = {first.get(), second.get()};
  auto start = steady_clock::now();
  EXPECT_EQ(socket_wait_readable(both, 2, 200), 0);
  EXPECT_GE(elapsed_ms(start), 160);

  // A connection to the second alone wakes the wait, and only the second
  // has one to accept.
  ScopedSocket client(socket_create(true));
  ASSERT_TRUE(socket_connect(client.get(), second_at));
  EXPECT_EQ(socket_wait_readable(both, 2, 5000), 1);
  EXPECT_EQ(socket_wait(first.get(), false, 0), 0);
  EXPECT_EQ(socket_wait(second.get(), false, 0), 1);
}

// Runs `call` on a thread and tells whether it returned within `limit`
// after `wake` ran; a thread that stays blocked is left behind, with
// `unblock` tried first.
template <typename Call, typename Wake, typename Unblock>
bool wakes_within(Call call, Wake wake, Unblock unblock, milliseconds limit) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread blocked([call, done] {
    call();
    done->set_value();
  });
  sleep_ms(200);  // let it block
  wake();
  bool woke = finished.wait_for(limit) == std::future_status::ready;
  if (!woke) unblock();
  if (woke || finished.wait_for(seconds(5)) == std::future_status::ready)
    blocked.join();
  else
    blocked.detach();
  return woke;
}

TEST_F(SocketTest, ShutdownFromAnotherThreadWakesABlockedReceive) {
  ScopedSocket client, server;
  connect_pair(&client, &server);
  auto result = std::make_shared<std::atomic<int64_t>>(99);
  bool woke = wakes_within(
      [result, s = server.get()] {
        char buf[16];
        *result = socket_recv(s, buf, sizeof buf);
      },
      [&] { EXPECT_TRUE(socket_shutdown(server.get(), 2)) << socket_last_error(); },
      [&] { client.reset(); }, seconds(10));
  EXPECT_TRUE(woke);
  EXPECT_LE(result->load(), 0);
}

TEST_F(SocketTest, ShutdownOfAListenerWakesABlockedAccept) {
  // Closing alone would not do on Linux: accept sleeps on.
  SockAddrV4 where;
  SocketHandle l = listen_loopback(&where).release();
  auto accepted = std::make_shared<std::atomic<SocketHandle>>(0);
  bool woke = wakes_within([accepted, l] { *accepted = socket_accept(l); },
                           [&] { EXPECT_TRUE(socket_shutdown(l, 2)) << socket_last_error(); },
                           [&] {
                             ScopedSocket c(socket_create(true));
                             socket_connect(c.get(), where);
                           },
                           seconds(10));
  EXPECT_TRUE(woke);
  EXPECT_EQ(accepted->load(), kInvalidSocket);
  if (woke) socket_close(l);
}

TEST_F(SocketTest, ShutdownOfAnUnconnectedSocketIsRefused) {
  ScopedSocket s(socket_create(true));
  EXPECT_FALSE(socket_shutdown(s.get(), 2));
  EXPECT_EQ(socket_last_error(), err::kWsaNotConnected);
}

TEST_F(SocketTest, BindingAPortWithAListenerFails) {
  SockAddrV4 where;
  ScopedSocket l = listen_loopback(&where);
  ScopedSocket second(socket_create(true));
  EXPECT_FALSE(socket_bind(second.get(), where));
  EXPECT_EQ(socket_last_error(), err::kWsaAddrInUse);
}

TEST_F(SocketTest, ConnectingToAPortWithoutListenerIsRefused) {
  ScopedSocket holder(socket_create(true));  // holds the port so nobody listens on it
  ASSERT_TRUE(socket_bind(holder.get(), loopback()));
  SockAddrV4 where;
  ASSERT_TRUE(socket_local_address(holder.get(), &where));
  ScopedSocket client(socket_create(true));
  EXPECT_FALSE(socket_connect(client.get(), where));
  EXPECT_EQ(socket_last_error(), err::kWsaConnRefused);
}

TEST_F(SocketTest, SendFileDeliversTheRangeExactly) {
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 997);
  std::string dir;
  ASSERT_TRUE(temp_directory(&dir));
  std::string name = dir + "brisvane-sendfile-" + std::to_string(current_process_id()) + ".bin";
  FileHandle f = file_open(name, kGenericRead | kGenericWrite, kShareRead, kCreateAlways, kFlagDeleteOnClose);
  ASSERT_NE(f, kInvalidFile) << last_error();
  ASSERT_EQ(file_write(f, content.data(), content.size()), static_cast<int64_t>(content.size()));

  ScopedSocket client, server;
  connect_pair(&client, &server);
  std::string received;
  std::thread reader([&] { received = recv_exactly(server.get(), 1u << 30); });

  EXPECT_EQ(socket_send_file(client.get(), f, 12345, 200000), 200000u);
  // Asking past the end sends what there is and reports no error.
  EXPECT_EQ(socket_send_file(client.get(), f, content.size() - 1000, 5000), 1000u);
  EXPECT_EQ(socket_last_error(), err::kSuccess);
  socket_shutdown(client.get(), 1);
  reader.join();
  file_close(f);

  ASSERT_EQ(received.size(), 201000u);
  EXPECT_TRUE(received.substr(0, 200000) == content.substr(12345, 200000));
  EXPECT_TRUE(received.substr(200000) == content.substr(content.size() - 1000));
}

TEST_F(SocketTest, DatagramsCarryTheirSenderAndRefuseSmallBuffers) {
  ScopedSocket a(socket_create(false)), b(socket_create(false));
  ASSERT_TRUE(socket_bind(a.get(), loopback()));
  ASSERT_TRUE(socket_bind(b.get(), loopback()));
  SockAddrV4 at_a, at_b;
  ASSERT_TRUE(socket_local_address(a.get(), &at_a));
  ASSERT_TRUE(socket_local_address(b.get(), &at_b));
  ASSERT_TRUE(socket_set_option(b.get(), SocketOption::kReceiveTimeout, 5000));

  ASSERT_EQ(socket_send_to(a.get(), at_b, "hello", 5), 5);
  char buf[64];
  SockAddrV4 from;
  ASSERT_EQ(socket_recv_from(b.get(), &from, buf, sizeof buf), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(from.addr, at_a.addr);
  EXPECT_EQ(from.port, at_a.port);

  std::string big(100, 'x');
  ASSERT_EQ(socket_send_to(a.get(), at_b, big.data(), big.size()), 100);
  EXPECT_EQ(socket_recv_from(b.get(), &from, buf, 10), -1);
  EXPECT_EQ(socket_last_error(), err::kWsaMsgSize);
}

TEST(Ipv4Text, DottedQuadsRoundTrip) {
  uint32_t addr = 0;
  ASSERT_TRUE(parse_ipv4("192.168.1.20", &addr));
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&addr);
  EXPECT_EQ(b[0], 192);
  EXPECT_EQ(b[3], 20);
  EXPECT_EQ(format_ipv4(addr), "192.168.1.20");
  ASSERT_TRUE(parse_ipv4("127.0.0.1", &addr));
  EXPECT_EQ(addr, host_to_net32(0x7F000001));
  ASSERT_TRUE(parse_ipv4("0.0.0.0", &addr));
  EXPECT_EQ(addr, 0u);
  ASSERT_TRUE(parse_ipv4("255.255.255.255", &addr));
  EXPECT_EQ(addr, 0xFFFFFFFFu);
  uint16_t port = host_to_net16(0x1F90);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&port)[0], 0x1F);
}

TEST(Ipv4Text, AnythingButADottedQuadIsRefused) {
  const char* bad[] = {"",         "1.2.3",     "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4",
                       "01.2.3.4", "1..2.3",    "a.b.c.d",   "1.2.3.-4",  "1234.1.1.1", "1.2.3.4.",
                       "0x1.2.3.4", "1.2.3.0400"};
  for (const char* text : bad) {
    uint32_t addr = 0x12345678;
    EXPECT_FALSE(parse_ipv4(text, &addr)) << '"' << text << '"';
    EXPECT_EQ(addr, 0x12345678u) << text;
  }
}

TEST_F(SocketTest, LocalhostResolvesBothWays) {
  // Only names the hosts file answers: no query leaves the machine.
  uint32_t addr = 0;
  ASSERT_TRUE(resolve_host_name("localhost", &addr)) << socket_last_error();
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&addr)[0], 127);
  std::string name;
  ASSERT_TRUE(reverse_lookup(host_to_net32(0x7F000001), &name)) << socket_last_error();
  EXPECT_FALSE(name.empty());
}

}  // namespace
}  // namespace platform
