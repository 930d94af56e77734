// Server-side TLS means the same on OpenSSL and on Schannel: a handshake
// and an echo that crosses record sizes, SNI picking one context of two,
// certificates refused with a reason (missing, wrong key, expired), TLS 1.1
// refused, and a stalled handshake that reports want-read without blocking.
// The certificates are made when the tests run (make_tls_certs.sh); on
// Windows the build makes them beside the test program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/poller.h"
#include "platform/scoped_handle.h"
#include "platform/socket.h"
#include "platform/tls.h"
#include "platform/tls_client_hello.h"
#include "tls_test_client.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using test::TlsTestClient;
using test::TlsVersion;

constexpr uint32_t kWaitMs = 5000;

int64_t elapsed_ms(steady_clock::time_point since) {
  return duration_cast<milliseconds>(steady_clock::now() - since).count();
}

// The folder with the test certificates, made once per run; "" with the
// reason in `why` when there is none.
std::string cert_dir(std::string* why) {
#ifdef _WIN32
  fs::path dir = fs::current_path() / "tls-certs";
  if (!fs::exists(dir / "done")) *why = "no certificates in " + dir.string() + " (the build makes them with openssl)";
  return fs::exists(dir / "done") ? dir.string() + "\\" : "";
#else
  // Made once per run and removed when the program ends.
  struct Made {
    fs::path dir = fs::temp_directory_path() /
                   ("brisvane-tls-" + std::to_string(steady_clock::now().time_since_epoch().count()));
    bool ok = std::system(("sh '" + std::string(TLS_CERT_SCRIPT) + "' '" + dir.string() + "'").c_str()) == 0;
    ~Made() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  };
  static Made made;
  if (!made.ok) *why = "openssl could not make the test certificates";
  return made.ok ? made.dir.string() + "/" : "";
#endif
}

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    dir_ = cert_dir(&why);
    if (dir_.empty()) GTEST_SKIP() << why;
    SocketsInfo info;
    ASSERT_TRUE(sockets_startup(&info, nullptr));
    listener_.reset(socket_create(true));
    SockAddrV4 lo;
    lo.addr = host_to_net32(0x7F000001);
    ASSERT_TRUE(socket_bind(listener_.get(), lo)) << socket_last_error();
    ASSERT_TRUE(socket_listen(listener_.get(), 16));
    ASSERT_TRUE(socket_local_address(listener_.get(), &where_));
  }
  void TearDown() override {
    if (listener_) {
      listener_.reset();
      sockets_cleanup();
    }
  }

  // Loads a context. When this system cannot import the key at all, keeps
  // the reason in no_keys_ for the test to skip with.
  std::shared_ptr<TlsContext> load(const std::string& cert, const std::string& key = "") {
    TlsLoadError why;
    auto ctx = TlsContext::load(dir_ + cert, key.empty() ? "" : dir_ + key, &why);
    if (!ctx && why.code == err::kCryptNotSupported) {
      no_keys_ = why.file + ": " + why.reason;
      return ctx;
    }
    EXPECT_TRUE(ctx) << why.file << ": " << why.reason;
    return ctx;
  }

  std::shared_ptr<TlsServerTable> table_of(const std::string& cert, const std::string& key) {
    auto table = std::make_shared<TlsServerTable>();
    table->set_default(load(cert, key));
    return table;
  }

  // alpha.test's table; where PEM keys cannot be imported (Wine), the RSA
  // .pfx instead, so that the test still reaches the handshake.
  std::shared_ptr<TlsServerTable> alpha_or_pfx() {
    auto table = table_of("alpha.pem", "alpha.key");
    if (!no_keys_.empty()) table = table_of("gamma.pfx", "");
    return table;
  }

  // A client connection and its server end, as the connection layer gets it.
  void connect_pair(ScopedSocket* client, ScopedSocket* server) {
    client->reset(socket_create(true));
    ASSERT_TRUE(socket_connect(client->get(), where_)) << socket_last_error();
    SocketHandle s = kInvalidSocket;
    ASSERT_EQ(socket_accept_connection(listener_.get(), &s), AcceptOutcome::kAccepted);
    server->reset(s);
  }

  // Skips when this system's TLS cannot serve at all (Wine's Schannel has
  // no server side): the failing call and its code are in error_text().
  void skip_if_unsupported(const TlsSession& session) {
    if (session.last_error() == err::kSecUnsupportedFunction) GTEST_SKIP() << session.error_text();
  }

  // The server side of a handshake, waited for; skips the test as above,
  // which IsSkipped() then tells.
  TlsOutcome handshake_or_skip(TlsSession& session) {
    TlsOutcome hs = session.handshake_within(kWaitMs);
    skip_if_unsupported(session);
    return hs;
  }

  std::string dir_;
  std::string no_keys_;
  ScopedSocket listener_;
  SockAddrV4 where_;
};

// Shuts the server end when a test leaves early (a failed assertion, a
// skip), so that the client thread sees the close instead of waiting for
// ever: declared after the client's future, it runs before that waits.
struct ShutdownOnExit {
  SocketHandle s;
  ~ShutdownOnExit() { socket_shutdown(s, 2); }
};

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 251) % 61);
  return s;
}

TEST_F(TlsTest, HandshakeThenEchoAcrossRecordSizes) {
  auto table = alpha_or_pfx();
  if (!table->select("")) GTEST_SKIP() << no_keys_;
  // Larger than several 16 KiB records, and not a multiple of one.
  const std::string data = pattern(70001);
  for (TlsVersion version : {TlsVersion::k12, TlsVersion::k13}) {
    SCOPED_TRACE(version == TlsVersion::k12 ? "TLS 1.2" : "TLS 1.3");
    ScopedSocket client, server;
    connect_pair(&client, &server);
    auto echoed = std::async(std::launch::async, [&] {
      TlsTestClient c;
      std::string why;
      if (!c.connect(client.get(), "alpha.test", version, &why)) return "client: " + why;
      if (!c.send_all(data)) return std::string("client: send failed");
      std::string back = c.recv_exactly(data.size());
      return c.sees_close() ? back : "no close_notify after " + std::to_string(back.size()) + " bytes";
    });
    ShutdownOnExit unblock{server.get()};
    TlsSession session(table, server.get());
    ASSERT_TRUE(session.ok()) << session.last_error();
    TlsOutcome hs = handshake_or_skip(session);
    if (IsSkipped()) return;
    ASSERT_EQ(hs, TlsOutcome::kDone) << session.error_text();
    EXPECT_EQ(session.protocol(), version == TlsVersion::k12 ? "TLSv1.2" : "TLSv1.3");
    EXPECT_EQ(session.cipher().rfind("TLS_", 0), 0u) << session.cipher();
    EXPECT_EQ(session.alpn(), "http/1.1");
    EXPECT_EQ(session.server_name(), "alpha.test");

    std::string got;
    char buf[5000];  // smaller than a record: reads must resume inside one
    while (got.size() < data.size()) {
      size_t n = 0;
      ASSERT_EQ(session.read_within(buf, sizeof buf, &n, kWaitMs), TlsOutcome::kDone) << session.error_text();
      got.append(buf, n);
    }
    EXPECT_TRUE(got == data);
    EXPECT_FALSE(session.has_buffered());
    ASSERT_EQ(session.write_all_within(got.data(), got.size(), kWaitMs), TlsOutcome::kDone) << session.error_text();
    session.close_within(kWaitMs);
    std::string back = echoed.get();
    EXPECT_EQ(back.size(), data.size()) << back.substr(0, 200);
    EXPECT_TRUE(back == data);
  }
}

// A client that does not read fills the socket: write() then says
// kWantWrite instead of blocking, and once the client reads, the same
// bytes passed again go out, none lost or doubled.
TEST_F(TlsTest, FullSocketWantsWriteAndResumes) {
  auto table = alpha_or_pfx();
  if (!table->select("")) GTEST_SKIP() << no_keys_;
  const std::string data = pattern(16 << 20);
  ScopedSocket client, server;
  connect_pair(&client, &server);
  std::promise<void> start_reading;
  auto got = std::async(std::launch::async, [&, go = start_reading.get_future()]() mutable {
    TlsTestClient c;
    std::string why;
    if (!c.connect(client.get(), "alpha.test", TlsVersion::kAny, &why)) return "client: " + why;
    go.wait_for(seconds(10));  // bounded: a test that ends early never says go
    return c.recv_exactly(data.size());
  });
  ShutdownOnExit unblock{server.get()};
  TlsSession session(table, server.get());
  TlsOutcome hs = handshake_or_skip(session);
  if (IsSkipped()) return;
  ASSERT_EQ(hs, TlsOutcome::kDone) << session.error_text();

  size_t done = 0;
  TlsOutcome o = TlsOutcome::kDone;
  auto started = steady_clock::now();
  while (done < data.size() && o == TlsOutcome::kDone) {
    size_t sent = 0;
    o = session.write(data.data() + done, data.size() - done, &sent);
    done += sent;
  }
  EXPECT_LT(elapsed_ms(started), 5000);
  ASSERT_EQ(o, TlsOutcome::kWantWrite) << "all " << done << " bytes went out without the client reading";
  start_reading.set_value();
  ASSERT_EQ(session.write_all_within(data.data() + done, data.size() - done, kWaitMs), TlsOutcome::kDone)
      << session.error_text();
  EXPECT_TRUE(got.get() == data);
}

TEST_F(TlsTest, ServerNamePicksTheContextOfTwo) {
  auto table = table_of("alpha.pem", "alpha.key");
  if (!no_keys_.empty()) GTEST_SKIP() << no_keys_;
  // The key follows the chain in one file, as some tools write it.
  auto beta = load("beta-combined.pem");
  if (beta) {
    EXPECT_EQ(beta->subject(), "beta.test");
  }
  table->add("Beta.Test", beta);
  if (!no_keys_.empty()) GTEST_SKIP() << no_keys_;
  struct Case {
    const char* sni;
    const char* presented;
  };
  for (const Case& c : {Case{"beta.test", "beta.test"}, Case{"BETA.TEST", "beta.test"},
                        Case{"other.test", "alpha.test"}, Case{"", "alpha.test"}}) {
    SCOPED_TRACE(std::string("SNI ") + c.sni);
    ScopedSocket client, server;
    connect_pair(&client, &server);
    auto seen = std::async(std::launch::async, [&] {
      TlsTestClient tc;
      std::string why;
      return tc.connect(client.get(), c.sni, TlsVersion::kAny, &why) ? tc.peer_common_name() : "client: " + why;
    });
    ShutdownOnExit unblock{server.get()};
    TlsSession session(table, server.get());
    TlsOutcome hs = handshake_or_skip(session);
    if (IsSkipped()) return;
    EXPECT_EQ(hs, TlsOutcome::kDone) << session.error_text();
    EXPECT_EQ(seen.get(), c.presented);
    EXPECT_EQ(session.server_name(), c.sni);
  }
}

// The name is read from this system's own client's hello, and no prefix
// of that hello makes the reader look past its end (ASan checks on POSIX).
TEST_F(TlsTest, ClientHelloGivesTheServerName) {
  for (const char* sni : {"beta.test", ""}) {
    SCOPED_TRACE(std::string("SNI ") + sni);
    ScopedSocket client, server;
    connect_pair(&client, &server);
    auto done = std::async(std::launch::async, [&] {
      TlsTestClient c;
      std::string why;
      c.connect(client.get(), sni, TlsVersion::kAny, &why);
    });
    ShutdownOnExit unblock{server.get()};
    ASSERT_TRUE(socket_set_blocking(server.get(), true));
    std::string hello;
    size_t want = 5;
    char buf[4096];
    while (hello.size() < want) {
      ASSERT_EQ(socket_wait(server.get(), false, kWaitMs), 1);
      int64_t n = socket_recv(server.get(), buf, std::min(sizeof buf, want - hello.size()));
      ASSERT_GT(n, 0);
      hello.append(buf, static_cast<size_t>(n));
      if (hello.size() == 5) want = 5 + ((static_cast<unsigned char>(hello[3]) << 8) | static_cast<unsigned char>(hello[4]));
    }
    std::vector<unsigned char> bytes(hello.begin(), hello.end());
    EXPECT_EQ(client_hello_server_name(bytes.data(), bytes.size()), sni);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      std::vector<unsigned char> prefix(bytes.begin(), bytes.begin() + cut);
      EXPECT_EQ(client_hello_server_name(prefix.data(), prefix.size()), "") << cut;
    }
  }
}

TEST_F(TlsTest, UnusableCertificatesAreRefusedWithAReason) {
  struct Case {
    const char* cert;
    const char* key;
    const char* file_at_fault;
    os_error code;
    const char* reason_part;
  };
  for (const Case& c : {
           Case{"missing.pem", "alpha.key", "missing.pem", err::kFileNotFound, "cannot open"},
           Case{"alpha.pem", "missing.key", "missing.key", err::kFileNotFound, "cannot open"},
           Case{"alpha.pem", "", "alpha.pem", err::kCryptBadKey, "private key"},
           Case{"old.pem", "alpha.key", "old.pem", err::kCertExpired, "expired"},
           // Last: a system that cannot import keys skips here.
           Case{"alpha.pem", "beta.key", "beta.key", err::kCryptBadKey, "does not match"},
       }) {
    SCOPED_TRACE(std::string(c.cert) + " + " + c.key);
    TlsLoadError why;
    EXPECT_FALSE(TlsContext::load(dir_ + c.cert, *c.key ? dir_ + c.key : "", &why));
    if (why.code == err::kCryptNotSupported) GTEST_SKIP() << why.reason;
    EXPECT_EQ(why.file, dir_ + c.file_at_fault);
    EXPECT_EQ(why.code, c.code) << why.reason;
    EXPECT_NE(why.reason.find(c.reason_part), std::string::npos) << why.reason;
  }
}

// An RSA 2048 certificate: from its .pfx on Windows, from PEM elsewhere.
TEST_F(TlsTest, RsaCertificateServesAHandshake) {
#ifdef _WIN32
  auto table = table_of("gamma.pfx", "");
#else
  auto table = table_of("gamma.pem", "gamma.key");
#endif
  if (!no_keys_.empty()) GTEST_SKIP() << no_keys_;
  ScopedSocket client, server;
  connect_pair(&client, &server);
  auto seen = std::async(std::launch::async, [&] {
    TlsTestClient tc;
    std::string why;
    if (!tc.connect(client.get(), "gamma.test", TlsVersion::k12, &why)) return "client: " + why;
    return tc.peer_common_name() + " " + tc.recv_exactly(5);
  });
  ShutdownOnExit unblock{server.get()};
  TlsSession session(table, server.get());
  TlsOutcome hs = handshake_or_skip(session);
  if (IsSkipped()) return;
  ASSERT_EQ(hs, TlsOutcome::kDone) << session.error_text();
  EXPECT_NE(session.cipher().find("ECDHE_RSA"), std::string::npos) << session.cipher();
  EXPECT_EQ(session.write_all_within("hello", 5, kWaitMs), TlsOutcome::kDone);
  EXPECT_EQ(seen.get(), "gamma.test hello");
}

TEST_F(TlsTest, ClientOfferingOnlyTls11IsRefused) {
  auto table = alpha_or_pfx();
  if (!table->select("")) GTEST_SKIP() << no_keys_;
  ScopedSocket client, server;
  connect_pair(&client, &server);
  auto result = std::async(std::launch::async, [&] {
    TlsTestClient c;
    std::string why;
    return c.connect(client.get(), "alpha.test", TlsVersion::k11, &why);
  });
  ShutdownOnExit unblock{server.get()};
  TlsSession session(table, server.get());
  TlsOutcome hs = handshake_or_skip(session);
  if (IsSkipped()) return;
  EXPECT_EQ(hs, TlsOutcome::kFailed);
  EXPECT_EQ(session.last_error(), err::kSecAlgorithmMismatch) << session.error_text();
  EXPECT_FALSE(result.get());
  // A refused session stays refused.
  EXPECT_EQ(session.handshake(), TlsOutcome::kFailed);
}

TEST_F(TlsTest, StalledHandshakeWantsReadAndNothingBlocks) {
  auto table = alpha_or_pfx();
  if (!table->select("")) GTEST_SKIP() << no_keys_;
  ScopedSocket client, server;
  connect_pair(&client, &server);
  Poller poller;
  ASSERT_TRUE(poller.ok());
  TlsSession session(table, server.get());

  auto start = steady_clock::now();
  EXPECT_EQ(session.handshake(), TlsOutcome::kWantRead);
  ASSERT_TRUE(poller.add(server.get(), 1, PollInterest::kReadable));
  PollEvent ev[4];
  EXPECT_EQ(poller.wait(ev, 4, 200), 0);

  // The first bytes of a ClientHello, and then nothing more.
  const char partial[] = "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03";
  ASSERT_EQ(socket_send(client.get(), partial, sizeof partial - 1), static_cast<int64_t>(sizeof partial - 1));
  ASSERT_EQ(poller.wait(ev, 4, kWaitMs), 1);
  TlsOutcome again = session.handshake();
  skip_if_unsupported(session);
  if (IsSkipped()) return;
  EXPECT_EQ(again, TlsOutcome::kWantRead) << session.error_text();
  EXPECT_LT(elapsed_ms(start), 2000);
  ASSERT_TRUE(poller.remove(server.get()));

  // A waiting handshake gives up once its time passed.
  start = steady_clock::now();
  EXPECT_EQ(session.handshake_within(300), TlsOutcome::kFailed);
  EXPECT_EQ(session.last_error(), err::kWsaTimedOut);
  EXPECT_GE(elapsed_ms(start), 250);
  EXPECT_LT(elapsed_ms(start), 3000);
}

TEST_F(TlsTest, PlainHttpOnTheTlsPortFailsTheHandshake) {
  auto table = alpha_or_pfx();
  if (!table->select("")) GTEST_SKIP() << no_keys_;
  ScopedSocket client, server;
  connect_pair(&client, &server);
  const char request[] = "GET / HTTP/1.1\r\nHost: alpha.test\r\n\r\n";
  ASSERT_GT(socket_send(client.get(), request, sizeof request - 1), 0);
  TlsSession session(table, server.get());
  TlsOutcome hs = handshake_or_skip(session);
  if (IsSkipped()) return;
  EXPECT_EQ(hs, TlsOutcome::kFailed);
  EXPECT_EQ(session.last_error(), err::kSecIllegalMessage) << session.error_text();
}

}  // namespace
}  // namespace platform
