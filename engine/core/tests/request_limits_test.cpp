// The limits a client meets before its request is served: the size of a
// request body, checked before any of it is stored; "100 Continue" only
// for a request the server will take; and the number of open connections.
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/tests/test_server.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

constexpr uint32_t kLimitKiB = 1;
constexpr size_t kLimitBytes = kLimitKiB * 1024;

// A server whose temporary files go where the test can see them.
class LimitsTest : public TestServer {
 protected:
  void SetUp() override {
    TestServer::SetUp();
    UseTempDirectory(temp_dir());
    WriteFile("page.html", "<html>hello</html>");
  }
  // Master-user security without a master account lets PUT through;
  // NumThreads 4 refuses the third request in progress at once.
  void Configure(ServerSettings& s) override {
    s.virtual_servers[0].security_type = 1;
    s.max_request_body = kLimitKiB;
    s.num_threads = 4;
  }

  std::filesystem::path temp_dir() const { return root() / "TEMP"; }
  size_t TemporaryFiles() const {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp_dir()))
      n += entry.path().filename().string().rfind("BSV", 0) == 0;
    return n;
  }
  // The server has closed and every temporary file has gone.
  bool TemporaryFilesGone() const {
    for (int i = 0; i < 200 && TemporaryFiles() > 0; ++i) platform::sleep_ms(10);
    return TemporaryFiles() == 0;
  }
};

// The refusal a too-large body gets: 413 on the request's own version,
// then the connection closes.
void ExpectTooLarge(Client& c) {
  Response r;
  ASSERT_TRUE(c.Read(&r)) << "no answer before the body";
  EXPECT_EQ(r.status_line, "HTTP/1.1 413 Request Entity Too Large");
  EXPECT_EQ(r.Header("Connection"), "close");
  EXPECT_TRUE(c.ClosedWithin(5000));
}

TEST_F(LimitsTest, LargerBodiesAreRefusedBeforeAnyByteIsStored) {
  StartServer();
  // Only the head is sent: the answer must not wait for the body, and no
  // temporary file may exist while the client could still send it.
  Client plain(port());
  ASSERT_TRUE(plain.Send("PUT /big.txt HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                         std::to_string(kLimitBytes + 1) + "\r\n\r\n"));
  Response r;
  ASSERT_TRUE(plain.Read(&r)) << "no answer before the body";
  EXPECT_EQ(r.status_line, "HTTP/1.1 413 Request Entity Too Large");
  EXPECT_EQ(r.Header("Connection"), "close");
  EXPECT_EQ(TemporaryFiles(), 0u);
  EXPECT_TRUE(plain.ClosedWithin(5000));

  // A client waiting for "100 Continue" gets the refusal instead.
  Client waiting(port());
  ASSERT_TRUE(waiting.Send("PUT /big.txt HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                           "Content-Length: 50000000000\r\n\r\n"));
  ExpectTooLarge(waiting);
  EXPECT_EQ(TemporaryFiles(), 0u);

  // A chunked body is refused at the chunk that would take it past the
  // limit, before that chunk's data is sent; what it stored is deleted.
  Client chunked(port());
  ASSERT_TRUE(chunked.Send("PUT /big.txt HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                           "3e8\r\n" + std::string(1000, 'a') + "\r\n" + "19\r\n"));
  ExpectTooLarge(chunked);
  EXPECT_TRUE(TemporaryFilesGone());
  // Refused before anything at all was stored: no file is made for it.
  Client first_chunk(port());
  ASSERT_TRUE(first_chunk.Send("PUT /big.txt HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                               "fffffff\r\n"));
  ExpectTooLarge(first_chunk);
  EXPECT_EQ(TemporaryFiles(), 0u);

  EXPECT_FALSE(std::filesystem::exists(DocPath("big.txt")));
  size_t logged = 0;
  for (const std::string& line : HookLines()) logged += line.rfind("Request body larger than MaxRequestBody", 0) == 0;
  EXPECT_EQ(logged, 4u);
}

TEST_F(LimitsTest, BodiesAtTheLimitAreTaken) {
  StartServer();
  const std::string body(kLimitBytes, 'b');
  Client c(port());
  ASSERT_TRUE(c.Send("PUT /exact.txt HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: " +
                     std::to_string(kLimitBytes) + "\r\n\r\n"));
  Response r;
  ASSERT_TRUE(c.Read(&r, true));
  EXPECT_EQ(r.head, "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_TRUE(c.Send(body));
  ASSERT_TRUE(c.Read(&r));
  EXPECT_EQ(r.code, 201);
  EXPECT_EQ(ReadFile("exact.txt"), body);
  // Chunks that end exactly at the limit, on the same connection.
  ASSERT_TRUE(c.Send("PUT /chunks.txt HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "200\r\n" + body.substr(0, 512) + "\r\n200\r\n" + body.substr(512) + "\r\n0\r\n\r\n"));
  ASSERT_TRUE(c.Read(&r));
  EXPECT_EQ(r.code, 201);
  EXPECT_EQ(ReadFile("chunks.txt"), body);
}

TEST_F(LimitsTest, ContinueOnlyForRequestsTheServerTakes) {
  StartServer();
  const std::string request =
      "PUT /held.txt HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\n";
  Response r;
  {
    ASSERT_TRUE(engine().Pause());
    Client c(port());
    ASSERT_TRUE(c.Send(request));
    ASSERT_TRUE(c.Read(&r));
    EXPECT_EQ(r.status_line, "HTTP/1.0 503 Server not available");
    EXPECT_TRUE(c.ClosedWithin(5000));
    EXPECT_EQ(TemporaryFiles(), 0u);
    ASSERT_TRUE(engine().Resume());
  }
  auto wait_until_idle = [this] {
    for (int i = 0; i < 500 && engine().current_clients().load() > 0; ++i) platform::sleep_ms(10);
  };
  wait_until_idle();
  {
    // Two requests in progress and the one asking make three: the limit
    // of NumThreads 4.
    auto one = HoldRequestInProgress();
    auto two = HoldRequestInProgress();
    ASSERT_TRUE(one && two);
    for (int i = 0; i < 500 && engine().current_clients().load() != 2; ++i) platform::sleep_ms(10);
    Client c(port());
    ASSERT_TRUE(c.Send(request));
    ASSERT_TRUE(c.Read(&r));
    EXPECT_EQ(r.status_line, "HTTP/1.0 503 Server overloaded");
    EXPECT_TRUE(c.ClosedWithin(5000));
    EXPECT_EQ(TemporaryFiles(), 0u);
  }
  EXPECT_FALSE(std::filesystem::exists(DocPath("held.txt")));
  // With room again the same request is told to go on.
  wait_until_idle();
  Client c(port());
  ASSERT_TRUE(c.Send(request));
  ASSERT_TRUE(c.Read(&r, true));
  EXPECT_EQ(r.head, "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_TRUE(c.Send("hello"));
  ASSERT_TRUE(c.Read(&r));
  EXPECT_EQ(r.code, 201);
  EXPECT_EQ(ReadFile("held.txt"), "hello");
}

class ConnectionLimitTest : public TestServer {
 protected:
  static constexpr uint32_t kMaxConnections = 3;
  void Configure(ServerSettings& s) override { s.max_connections = kMaxConnections; }

  std::vector<std::string> RefusalLines() {
    std::vector<std::string> found;
    for (const std::string& line : HookLines())
      if (line.rfind("Connection refused: ", 0) == 0) found.push_back(line);
    return found;
  }
};

TEST_F(ConnectionLimitTest, ConnectionsPastTheLimitAreClosedAtOnce) {
  WriteFile("page.html", "x");
  StartServer();
  Response r;
  std::vector<std::unique_ptr<Client>> open;
  for (uint32_t i = 0; i < kMaxConnections; ++i) {
    open.push_back(std::make_unique<Client>(port()));
    ASSERT_TRUE(open.back()->Send("GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(open.back()->Read(&r));
    ASSERT_EQ(r.code, 200);
  }
  // A burst past the limit: each is closed without an answer, and one line
  // says what happened.
  for (int i = 0; i < 3; ++i) {
    Client extra(port());
    ASSERT_TRUE(extra.connected());
    extra.Send("GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(extra.ReadToClose(), "") << "connection " << i << " past the limit";
  }
  for (int i = 0; i < 200 && RefusalLines().empty(); ++i) platform::sleep_ms(10);
  const std::vector<std::string> lines = RefusalLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("3 connections open, MaxConnections is 3"), std::string::npos) << lines[0];

  // The connections already open go on being served.
  for (auto& c : open) {
    ASSERT_TRUE(c->Send("GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(c->Read(&r));
    EXPECT_EQ(r.code, 200);
  }
  // Once one closes, a new connection is served again.
  open.pop_back();
  Response again;
  for (int i = 0; i < 100 && again.code != 200; ++i) {
    Client next(port());
    next.Send("GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n");
    if (!next.Read(&again)) platform::sleep_ms(20);
  }
  EXPECT_EQ(again.code, 200);
}

}  // namespace
}  // namespace brisvane::testing
