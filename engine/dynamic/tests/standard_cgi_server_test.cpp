// Standard CGI through a real connection: the environment a program sees,
// its arguments and input, what becomes of its output, the refusals, and
// that every run leaves nothing behind.
#include <atomic>
#include <cstdio>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/dynamic/tests/cgi_test_util.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

class StandardCgiTest : public CgiServerTest {};

TEST_F(StandardCgiTest, ProgramSeesTheCgiEnvironmentArgumentsAndDirectory) {
  StartServer();
  const std::string probe = CGI_PROBE;
  Response r = Get(GetRequest(ProbeUrl("env+a%41b"), "Cookie: c=1\r\n"));
  ASSERT_EQ(r.code, 200) << r.head;
  EXPECT_EQ(r.Header("Content-Type"), "text/plain");
  EXPECT_EQ(r.Header("Connection"), "close");
  auto env = ParseLines(r.body);
  EXPECT_EQ(env["GATEWAY_INTERFACE"], "CGI/1.1");
  EXPECT_EQ(env["SERVER_SOFTWARE"], "Brisvane/2.10");
  EXPECT_EQ(env["SERVER_PROTOCOL"], "HTTP/1.1");
  EXPECT_EQ(env["SERVER_PORT"], std::to_string(settings().port));
  EXPECT_EQ(env["REQUEST_METHOD"], "GET");
  EXPECT_EQ(env["QUERY_STRING"], "env+a%41b");
  EXPECT_EQ(env["SCRIPT_NAME"], "/cgi-bin/" + probe);
  EXPECT_EQ(env["CONTENT_LENGTH"], "0");
  EXPECT_EQ(env["HTTP_COOKIE"], "c=1");
  EXPECT_EQ(env["REDIRECT_STATUS"], "200");
  EXPECT_EQ(env["DOCUMENT_ROOT"], settings().virtual_servers[0].doc_root);
  EXPECT_EQ(env["REMOTE_ADDR"], "127.0.0.1");
  for (const char* empty : {"REMOTE_IDENT", "HTTP_USER_AGENT", "PATH_INFO", "AUTH_TYPE", "REMOTE_USER"}) {
    EXPECT_TRUE(env.count(empty)) << empty;
    EXPECT_EQ(env[empty], "") << empty;
  }
  EXPECT_FALSE(env.count("DOCUMENT_URI"));
  // The query became two arguments, "+" a blank, the escape undecoded.
  EXPECT_EQ(env["ARGC"], "3");
  EXPECT_EQ(env["ARGV2"], "a%41b");
  EXPECT_EQ(std::filesystem::path(env["CWD"]), cgi_dir());
  // The variables come in their fixed order.
  EXPECT_LT(r.body.find("\nSERVER_SOFTWARE="), r.body.find("\nGATEWAY_INTERFACE="));
  EXPECT_LT(r.body.find("\nGATEWAY_INTERFACE="), r.body.find("\nDOCUMENT_ROOT="));

  // A query with "=" is no argument; the rest of the URL is path info.
  r = Get(GetRequest("/cgi-bin/" + probe + "/more/path?x=1&y=2", "User-Agent: t/1\r\n"));
  env = ParseLines(r.body);
  EXPECT_EQ(env["ARGC"], "1");
  EXPECT_EQ(env["QUERY_STRING"], "x=1&y=2");
  EXPECT_EQ(env["PATH_INFO"], "/more/path");
  EXPECT_EQ(std::filesystem::path(env["PATH_TRANSLATED"]),
            std::filesystem::path(settings().virtual_servers[0].doc_root) / "more" / "path");
  EXPECT_EQ(env["HTTP_USER_AGENT"], "t/1");

  // A cookie too long for the environment is left out, and the variables
  // after it still come.
  r = Get(GetRequest(ProbeUrl("env"), "Accept: " + std::string(5000, 'a') + "\r\nCookie: " + std::string(5000, 'c') + "\r\nReferer: http://r/\r\n"));
  env = ParseLines(r.body);
  EXPECT_EQ(r.code, 200) << r.head;
  EXPECT_FALSE(env.count("HTTP_COOKIE"));
  EXPECT_EQ(env["HTTP_REFERER"], "http://r/");
  EXPECT_EQ(env["DOCUMENT_ROOT"], settings().virtual_servers[0].doc_root);
  EXPECT_EQ(engine().statistics().cgi_execs(), 3u);
}

TEST_F(StandardCgiTest, RequestBodyIsStandardInputAndGetReadsEndAtOnce) {
  StartServer();
  const std::string body(300000, 'b');
  Response r = Get("POST " + ProbeUrl("echo") + " HTTP/1.0\r\nContent-Type: text/x\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body);
  ASSERT_EQ(r.code, 200);
  EXPECT_EQ(r.body, "LEN=300000\n" + body);
  EXPECT_FALSE(r.HasHeader("Connection"));
  r = Get(GetRequest(ProbeUrl("echo")));
  EXPECT_EQ(r.body, "LEN=0\n");
}

// Each case is a program output and what the client must get.
TEST_F(StandardCgiTest, OutputBecomesStatusHeadersAndBody) {
  StartServer();
  struct Case {
    const char* output;
    int code;
    const char* header;
    const char* value;
    const char* body;
  } cases[] = {
      {"Content-type: text/plain\n\nhello", 200, "Content-Type", "text/plain", "hello"},
      {"Status: 404 Not Here\r\nContent-Type: text/plain\r\n\r\ngone", 404, "Content-Type", "text/plain", "gone"},
      {"Location: /elsewhere\r\n\r\n", 302, "Location", "/elsewhere", ""},
      {"Status: 201 Made\r\nLocation: /new\r\n\r\nmade", 201, "Location", "/new", "made"},
      {"Http-Like: x\nX-Other: y\n\nbody", 200, "X-Other", "y", "body"},
      {"<html>no headers</html>\n", 200, "Content-Type", "text/html", ""},
      {"", 200, "Content-Type", "text/html", ""},
      {"Connection: keep-alive\n\nstill closes", 200, "Connection", "close", "still closes"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "out" + std::to_string(n++) + ".txt";
    WriteCgiFile(name, c.output);
    Response r = Get(GetRequest(ProbeUrl("file+" + name)));
    EXPECT_EQ(r.code, c.code) << c.output;
    EXPECT_EQ(r.Header(c.header), c.value) << c.output;
    EXPECT_EQ(r.body, c.body) << c.output;
    EXPECT_FALSE(r.HasHeader("Status")) << c.output;
  }

  // Several lines of one name all reach the client.
  WriteCgiFile("cookies.txt", "Set-Cookie: a=1\nSet-Cookie: b=2\n\n");
  Response r = Get(GetRequest(ProbeUrl("file+cookies.txt")));
  EXPECT_NE(r.head.find("Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n"), std::string::npos) << r.head;

  // A line of 10000 bytes keeps its first 8191.
  WriteCgiFile("long.txt", "X-Long: " + std::string(10000, 'l') + "\n\n");
  r = Get(GetRequest(ProbeUrl("file+long.txt")));
  EXPECT_EQ(r.code, 200);
  EXPECT_NE(r.head.find("X-Long: ll"), std::string::npos);

  // Output that begins with "HTTP" is the whole response, byte for byte.
  const std::string raw = "HTTP/1.0 299 Raw\r\nX-Raw: 1\r\n\r\nraw body";
  WriteCgiFile("raw.txt", raw);
  Client client(port());
  ASSERT_TRUE(client.Send(GetRequest(ProbeUrl("file+raw.txt"))));
  EXPECT_EQ(client.ReadToClose(), raw);
}

TEST_F(StandardCgiTest, LaunchRefusalsAnswer500WithTheirErrorLines) {
  WriteCgiFile("plain.txt", "not a program");
  WriteCgiFile("a&&b", "never run", true);
  StartServer();
  struct Case {
    std::string url;
    const char* log;
  } cases[] = {
      {"/cgi-bin/a&&b", "Standard CGI Launch: Possible Security Hazard, Access Denied"},
      {ProbeUrl(std::string(2100, 'a')), "Launched failed; error code = 206"},
      {"/cgi-bin/plain.txt", "Launched failed; error code = "},
  };
  for (const Case& c : cases) {
    Response r = Get(GetRequest(c.url));
    EXPECT_EQ(r.code, 500) << c.url.substr(0, 40);
    EXPECT_EQ(r.status_line, "HTTP/1.1 500 Standard CGI Launch Error");
    bool logged = false;
    for (const std::string& line : HookLines()) logged |= line.find(c.log) != std::string::npos;
    EXPECT_TRUE(logged) << c.log;
  }
  // Just under the limit still runs.
  std::string args = "env+" + std::string(1200, 'a');
  EXPECT_EQ(Get(GetRequest(ProbeUrl(args))).code, 200);
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; }));
}

TEST_F(StandardCgiTest, TimeOutEndsTheProgramAndWhatItStartedAndSendsWhatItWrote) {
  settings().cgi_timeout = 1000;
  StartServer();
  for (const char* mode : {"loop", "grandchild"}) {
    const auto start = Clock::now();
    Response r = Get(GetRequest(ProbeUrl(mode)));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(r.code, 200) << mode;
    EXPECT_GE(ms, 900) << mode;
    EXPECT_LT(ms, 5000) << mode;
    if (std::string(mode) == "loop") {
      EXPECT_EQ(r.body, "before loop\n");
    }
    size_t at = r.body.find("child ");
    if (std::string(mode) == "grandchild") {
      ASSERT_NE(at, std::string::npos) << r.body;
      const long pid = std::atol(r.body.c_str() + at + 6);
      // SIGKILL reaches the whole group at once; the kernel may take a moment.
      bool gone = false;
      for (int i = 0; i < 100 && !gone; ++i) {
        gone = !ProcessAlive(pid);
        if (!gone) platform::sleep_ms(20);
      }
      EXPECT_TRUE(gone) << "grandchild " << pid << " still runs";
    }
  }
  EXPECT_LE(ChildProcesses(), 0);
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; }));
  // Each end is logged, naming the program and the time-out.
  int logged = 0;
  for (const std::string& line : HookLines())
    logged += line.rfind("Standard CGI: ", 0) == 0 && line.find(CGI_PROBE) != std::string::npos &&
              line.find(" - Ended after CGITimeOut of 1000 ms; error code = 1460") != std::string::npos;
  EXPECT_EQ(logged, 2);
}

// Without a time-out a program may run for ever; stopping the engine must
// still end it and let the stop return.
TEST_F(StandardCgiTest, StopEndsAProgramThatHasNoTimeOut) {
  settings().cgi_timeout = 0;
  StartServer();
  Client client(port());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Send(GetRequest(ProbeUrl("grandchild"))));
  if (ChildProcesses() >= 0)
    ASSERT_TRUE(Eventually([] { return ChildProcesses() > 0; })) << "the program never started";
  else
    platform::sleep_ms(1000);
  const auto start = Clock::now();
  EXPECT_TRUE(engine().Stop());
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_LT(ms, 3000);
  EXPECT_TRUE(Eventually([] { return ChildProcesses() <= 0; }));
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; }));
}

TEST_F(StandardCgiTest, ChildHoldsOnlyItsStandardDescriptors) {
  if (OpenDescriptors() < 0) GTEST_SKIP() << "descriptors cannot be listed here";
  StartServer();
  Client idle1(port()), idle2(port());  // other connections open meanwhile
  ASSERT_TRUE(idle1.connected() && idle2.connected());
  Response r = Get(GetRequest(ProbeUrl("fds")));
  EXPECT_EQ(r.body, "0\n1\n2\n");
}

TEST_F(StandardCgiTest, LargeOutputIsStreamedWithoutGrowingMemory) {
  StartServer();
  Client client(port());
  ASSERT_TRUE(client.Send(GetRequest(ProbeUrl("big+200"))));
  std::string head;
  char buf[65536];
  uint64_t total = 0, next_look = 0;
  long before = -1, peak = 0;
  for (;;) {
    int64_t n = client.socket().Receive(buf, sizeof buf);
    if (n <= 0) break;
    total += static_cast<uint64_t>(n);
    if (total < next_look) continue;
    // Seldom: each look allocates, and freed memory is not reused at once
    // under the address sanitizer.
    next_look = total + (16 << 20);
    if (before < 0) before = ResidentKib();
    peak = std::max(peak, ResidentKib());
  }
  const uint64_t expected_body = 200ull << 20;
  EXPECT_GT(total, expected_body);
  EXPECT_LT(total, expected_body + 1024);
  if (before >= 0) {
    EXPECT_LT(peak - before, 8 * 1024) << "KiB grown while streaming";
  }
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; }));
}

TEST_F(StandardCgiTest, ConcurrentRunsKeepTheirOwnStreamsAndLeaveNothing) {
  StartServer();
  Get(GetRequest(ProbeUrl("echo")));  // the engine's own one-time resources
  ASSERT_TRUE(Eventually([this] { return TempFiles() == 0; }));
  platform::sleep_ms(200);  // its connection closes just after its file
  const int fds_before = OpenDescriptors();
  constexpr int kRequests = 50;
  std::atomic<int> good{0}, not_started{0};
  std::mutex bad_mu;
  std::string bad;
  std::vector<std::thread> threads;
  for (int i = 0; i < kRequests; ++i) {
    threads.emplace_back([&, i] {
      // Each program reads its input to the end: a write end leaked into
      // another child would keep that read from ever ending.
      const std::string body = "request " + std::to_string(i) + std::string(static_cast<size_t>(i) * 100, 'z');
      Response r = Get("POST " + ProbeUrl("echo") + " HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body);
      if (r.code == 200 && r.body == "LEN=" + std::to_string(body.size()) + "\n" + body) {
        ++good;
        return;
      }
      if (r.status_line.find("Standard CGI Launch Error") != std::string::npos) ++not_started;
      std::lock_guard<std::mutex> lock(bad_mu);
      bad += r.status_line + " | " + r.body.substr(0, 80) + "\n";
    });
  }
  for (auto& t : threads) t.join();
#ifdef _WIN32
  // Under Wine, process creation now and then fails under this load; such a
  // launch is refused cleanly, which is not what this test looks for.
  if (not_started > 0) std::printf("%d launches refused by the system:\n%s", not_started.load(), bad.c_str());
  EXPECT_EQ(good.load() + not_started.load(), kRequests) << bad;
#else
  EXPECT_EQ(good.load(), kRequests) << bad;
#endif

  // A client that leaves while its program runs.
  ASSERT_TRUE(Eventually([&] { return OpenDescriptors() == fds_before && TempFiles() == 0; }))
      << OpenDescriptors() << " descriptors, " << fds_before << " before; " << TempFileNames();
  {
    Client gone(port());
    ASSERT_TRUE(gone.Send(GetRequest(ProbeUrl("sleep+300"))));
    // It runs (where children can be counted; elsewhere after a moment).
    ASSERT_TRUE(Eventually([] { return ChildProcesses() != 0; }));
    if (ChildProcesses() < 0) platform::sleep_ms(100);
  }
  // The server notices only when it writes, after the program.
  EXPECT_TRUE(Eventually([&] { return OpenDescriptors() == fds_before && TempFiles() == 0; }))
      << OpenDescriptors() << " descriptors, " << fds_before << " before";
  EXPECT_TRUE(Eventually([] { return ChildProcesses() <= 0; }));
}

}  // namespace
}  // namespace brisvane::testing
