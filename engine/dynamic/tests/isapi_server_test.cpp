// ISAPI extensions through a real connection: what an extension's output
// becomes, what its callbacks answer, the request body in the control block
// and through ReadClient, the module cache and its unloading at Flush, and
// the bounds on an extension that ends early or never ends.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/core/tests/test_server.h"
#include "engine/dynamic/tests/process_watch.h"
#include "engine/dynamic/isapi/brisvane_isapi.h"
#include "platform/file.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

long Milliseconds(Clock::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class IsapiTest : public TestServer {
 protected:
  void SetUp() override {
    TestServer::SetUp();
    std::filesystem::create_directories(isapi_dir());
    suffix_ = std::filesystem::path(ISAPI_PROBE).extension().string();
    const std::filesystem::path tests(platform::executable_directory());
    Install(tests / ISAPI_PROBE, "probe");
    Install(tests / ISAPI_NO_ENTRY, "noentry");
    marker_ = root() / "terminated.txt";
    platform::set_env("ISAPI_PROBE_MARKER", marker_.string());
    settings().cgi_timeout = 20000;
    settings().num_threads = 256;
  }
  void TearDown() override {
    // An extension left waiting for its release gets it before the stop.
    WriteFile("release", "");
    TestServer::TearDown();
    platform::unset_env("ISAPI_PROBE_MARKER");
  }
  void Configure(ServerSettings& s) override {
    s.virtual_servers[0].isapi_ext = {{"/isapi", isapi_dir().string()}};
  }

  std::filesystem::path isapi_dir() const { return root() / "ISAPI"; }
  void Install(const std::filesystem::path& from, const std::string& name) {
    std::filesystem::copy_file(from, isapi_dir() / (name + suffix_),
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::string Url(const std::string& name, const std::string& query = "") const {
    return "/isapi/" + name + suffix_ + (query.empty() ? "" : "?" + query);
  }

  // One request; the answer is read until the server closes, as a client
  // must for a body of unknown length.
  Response Fetch(const std::string& url, const std::string& method = "GET", const std::string& body = "") {
    Client c(port());
    EXPECT_TRUE(c.connected());
    std::string request = method + " " + url + " HTTP/1.1\r\nHost: localhost\r\n";
    if (!body.empty()) request += "Content-Type: application/x-probe\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    EXPECT_TRUE(c.Send(request + "\r\n" + body));
    Response r;
    const std::string all = c.ReadToClose();
    const size_t end = all.find("\r\n\r\n");
    r.head = all.substr(0, end == std::string::npos ? all.size() : end + 2);
    r.body = end == std::string::npos ? "" : all.substr(end + 4);
    r.status_line = r.head.substr(0, r.head.find("\r\n"));
    const size_t sp = r.status_line.find(' ');
    if (sp != std::string::npos) r.code = std::atoi(r.status_line.c_str() + sp + 1);
    return r;
  }
  std::map<std::string, std::string> Report(const std::string& name) { return ParseLines(Fetch(Url(name, "report")).body); }
  std::string Marker() const { return Slurp(marker_); }

  std::string suffix_;
  std::filesystem::path marker_;
};

TEST_F(IsapiTest, ParsedOutputRawOutputAndAsyncWritesRefused) {
  StartServer();
  Response r = Fetch(Url("probe", "parsed"));
  EXPECT_EQ(r.code, 200) << r.head;
  EXPECT_EQ(r.Header("Content-Type"), "text/x-probe");
  EXPECT_EQ(r.Header("Connection"), "close");
  EXPECT_EQ(r.body, "parsed body");

  // A response the extension sends whole reaches the client untouched.
  Client c(port());
  ASSERT_TRUE(c.Send("GET " + Url("probe", "raw") + " HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  EXPECT_EQ(c.ReadToClose(), "HTTP/1.0 201 Made\r\nContent-Type: text/plain\r\nX-Probe: raw\r\n\r\nraw body");

  r = Fetch(Url("probe", "async"));
  EXPECT_EQ(ParseLines(r.body)["async"], "0 " + std::to_string(platform::err::kInvalidParameter));

  // HEAD gets the headers alone, and the extension's writes go nowhere.
  r = Fetch(Url("probe", "parsed"), "HEAD");
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(engine().statistics().cgi_execs(), 4u);
}

TEST_F(IsapiTest, ServerVariablesAndControlBlockFields) {
  StartServer();
  const Response r = Fetch("/isapi/probe" + suffix_ + "/extra/path?vars");
  ASSERT_EQ(r.code, 200) << r.head;
  auto v = ParseLines(r.body);
  // "result error size value" for each call.
  const std::string invalid_index = std::to_string(platform::err::kInvalidIndex);
  EXPECT_EQ(v["SERVER_PORT_SECURE"], "1 0 2 0");
  EXPECT_EQ(v["REMOTE_IDENT"], "0 " + invalid_index + " 4096 -");
  EXPECT_EQ(v["server_name"], "0 " + invalid_index + " 4096 -");
  EXPECT_EQ(v["HTTP_REFERER"], "1 " + std::to_string(platform::err::kNoData) + " 1 ");
  const std::string software = "Brisvane/2.10";
  const std::string needed = std::to_string(software.size() + 1);
  EXPECT_EQ(v["SERVER_SOFTWARE"], "1 0 " + needed + " " + software);
  EXPECT_EQ(v["SERVER_SOFTWARE_SHORT"], "0 " + std::to_string(platform::err::kInsufficientBuffer) + " " + needed + " -");
  EXPECT_EQ(v["SERVER_SOFTWARE_EXACT"], "1 0 " + needed + " " + software);
  EXPECT_EQ(v["STRANGER"], "0 " + std::to_string(platform::err::kInvalidParameter) + " 4096 -");
  EXPECT_EQ(v["unknown_request"], "0 " + std::to_string(platform::err::kInvalidParameter));

  const std::filesystem::path docs = settings().virtual_servers[0].doc_root;
  EXPECT_EQ(v["method"], "GET");
  EXPECT_EQ(v["query"], "vars");
  EXPECT_EQ(v["path_info"], "/extra/path");
  EXPECT_EQ(std::filesystem::path(v["path_translated"]), docs / "extra" / "path");
  EXPECT_EQ(v["content_type"], "");
  EXPECT_EQ(v["cbSize"], std::to_string(sizeof(EXTENSION_CONTROL_BLOCK)));
  EXPECT_EQ(v["status"], "200");
  EXPECT_EQ(v["mapped"], "1 " + (docs / "elsewhere" / "file.txt").string());
}

TEST_F(IsapiTest, BodyComesInTheControlBlockThenThroughReadClient) {
  StartServer();
  std::string body(100000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i % 251);
  auto v = ParseLines(Fetch(Url("probe", "post"), "POST", body).body);
  EXPECT_EQ(v["total"], "100000");
  EXPECT_EQ(v["available"], "49152");
  EXPECT_EQ(v["read"], "50848");
  EXPECT_EQ(v["wrong"], "0");

  v = ParseLines(Fetch(Url("probe", "post"), "POST", body.substr(0, 300)).body);
  EXPECT_EQ(v["available"], "300");
  EXPECT_EQ(v["read"], "0");
  EXPECT_EQ(v["wrong"], "0");

  v = ParseLines(Fetch(Url("probe", "post")).body);
  EXPECT_EQ(v["total"], "0");
  EXPECT_EQ(v["available"], "0");
  EXPECT_EQ(v["read"], "0");
}

TEST_F(IsapiTest, RequestsForOneLibraryShareOneModule) {
  StartServer();
  EXPECT_EQ(Report("probe")["calls"], "1");
  EXPECT_EQ(Report("probe")["calls"], "2");
  // Another file is another module, even with the same content.
  Install(std::filesystem::path(platform::executable_directory()) / ISAPI_PROBE, "other");
  EXPECT_EQ(Report("other")["calls"], "1");
  if (platform::same_path_text("A", "a")) {
    // Where names are compared without regard to case, so are the
    // libraries: the same file by another spelling is the same module.
    EXPECT_EQ(Report("PROBE")["calls"], "3");
  } else {
    // Where case tells two files apart, a differently spelt name is
    // another file.
    Install(std::filesystem::path(platform::executable_directory()) / ISAPI_PROBE, "PROBE");
    EXPECT_EQ(Report("PROBE")["calls"], "1");
    EXPECT_EQ(Report("probe")["calls"], "3");
  }
}

TEST_F(IsapiTest, FlushUnloadsIdleModulesAndKeepsBusyOnes) {
  StartServer();
  Install(std::filesystem::path(platform::executable_directory()) / ISAPI_PROBE, "busy");
  EXPECT_EQ(Report("probe")["calls"], "1");
  Response busy;
  std::thread hanging([&] { busy = Fetch(Url("busy", "hang")); });
  // The busy module is in use once its first bytes have come.
  ASSERT_TRUE(Eventually([&] { return engine().statistics().cgi_execs() == 2u; }));
  platform::sleep_ms(100);
  engine().Flush();
  EXPECT_NE(Marker().find("terminated /isapi/probe" + suffix_ + " 2"), std::string::npos) << Marker();
  EXPECT_EQ(Marker().find("busy"), std::string::npos) << Marker();
  // The unloaded module starts afresh.
  EXPECT_EQ(Report("probe")["calls"], "1");

  WriteFile("release", "");
  hanging.join();
  EXPECT_EQ(busy.body, "partiallate");
  // Once its run has ended, the next flush unloads it too.
  EXPECT_TRUE(Eventually([&] {
    engine().Flush();
    return Marker().find("terminated /isapi/busy" + suffix_) != std::string::npos;
  })) << Marker();
}

TEST_F(IsapiTest, LibraryWithoutRequestEntryIsAnExtensionError) {
  StartServer();
  const Response r = Fetch(Url("noentry"));
  EXPECT_EQ(r.code, 500);
  EXPECT_NE(r.body.find("ISAPI Extension Error"), std::string::npos) << r.body;
  bool logged = false;
  for (const std::string& line : HookLines())
    logged |= line.find("noentry" + suffix_ + " - Launched failed; error code = 127") != std::string::npos;
  EXPECT_TRUE(logged);
  // A refused library is not kept: the next request tries again, and
  // answers alike.
  EXPECT_EQ(Fetch(Url("noentry")).code, 500);
  EXPECT_EQ(engine().statistics().cgi_execs(), 0u);
}

TEST_F(IsapiTest, DoneWithSessionEndsTheResponseBeforeTheReturn) {
  StartServer();
  Fetch(Url("probe", "parsed"));  // the module loaded
  // Connections close just after their clients have the answer.
  int descriptors = -2;
  Eventually([&] {
    const int before = descriptors;
    descriptors = OpenDescriptors();
    return descriptors == before;
  });
  const Clock::time_point start = Clock::now();
  const Response r = Fetch(Url("probe", "done"));
  // The extension goes on for 1.5 s after saying it was done.
  EXPECT_LT(Milliseconds(Clock::now() - start), 1200);
  EXPECT_EQ(r.body, "done early");
  // Its write after that failed; its return closed nothing a second time
  // (a second close would take a descriptor the server has opened since).
  EXPECT_TRUE(Eventually([&] { return Report("probe")["late_write"] == "0"; }));
  EXPECT_TRUE(Eventually([&] { return OpenDescriptors() == descriptors; })) << OpenDescriptors() << " " << descriptors;
  EXPECT_EQ(Fetch(Url("probe", "parsed")).body, "parsed body");
}

TEST_F(IsapiTest, SilentExtensionIsBoundedByCgiTimeOutAndWritesLaterInVain) {
  settings().cgi_timeout = 1000;
  StartServer();
  const Clock::time_point start = Clock::now();
  const Response r = Fetch(Url("probe", "hang"));
  const long took = Milliseconds(Clock::now() - start);
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 5000);
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.body, "partial");
  WriteFile("release", "");
  EXPECT_TRUE(Eventually([&] { return Report("probe")["late_write"] == "0"; })) << Fetch(Url("probe", "report")).head << Fetch(Url("probe", "report")).body;
}

TEST_F(IsapiTest, StopWaitsBoundedAndKeepsAStuckExtensionLoaded) {
  // No time-out: only the stop can end the worker's wait for the output.
  settings().cgi_timeout = 0;
  StartServer();
  Client waiting(port());
  ASSERT_TRUE(waiting.Send("GET " + Url("probe", "hang") + " HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  Install(std::filesystem::path(platform::executable_directory()) / ISAPI_PROBE, "idle");
  Fetch(Url("idle"));
  const Clock::time_point start = Clock::now();
  engine().Stop();
  const long took = Milliseconds(Clock::now() - start);
  EXPECT_GE(took, 4500);
  EXPECT_LT(took, 9000);
  EXPECT_TRUE(waiting.ClosedWithin(2000));
  // The idle library was unloaded; the one still running was not.
  EXPECT_NE(Marker().find("terminated /isapi/idle" + suffix_), std::string::npos) << Marker();
  EXPECT_EQ(Marker().find("terminated /isapi/probe"), std::string::npos) << Marker();
  // Released, it returns into a library and a context that are still there.
  WriteFile("release", "");
  platform::sleep_ms(300);
}

TEST_F(IsapiTest, RunsStuckPastTheTimeOutAreBoundedAndShown) {
  settings().cgi_timeout = 300;
  StartServer();
  const auto stats_row = [this] {
    const std::string page = Get("GET /~stats HTTP/1.1\r\nHost: localhost\r\n\r\n").body;
    const size_t at = page.find("Stuck ISAPI runs:");
    return at == std::string::npos ? std::string() : page.substr(at, page.find('\n', at) - at);
  };
  // Each run is answered with what it wrote once the time-out passes, and
  // goes on waiting for its release.
  const auto hang = [this](int runs) {
    std::vector<std::thread> clients;
    for (int i = 0; i < runs; ++i)
      clients.emplace_back([this] { EXPECT_EQ(Fetch(Url("probe", "hang")).body, "partial"); });
    for (std::thread& t : clients) t.join();
  };
  hang(15);
  ASSERT_TRUE(Eventually([this] { return engine().statistics().stuck_extension_runs() == 15u; }));
  EXPECT_EQ(Fetch(Url("probe", "parsed")).body, "parsed body") << "below the bound runs start";
  hang(1);
  ASSERT_TRUE(Eventually([this] { return engine().statistics().stuck_extension_runs() == 16u; }));
  const Response refused = Fetch(Url("probe", "parsed"));
  EXPECT_EQ(refused.code, 503);
  EXPECT_NE(refused.body.find("ISAPI Extension Busy"), std::string::npos) << refused.body;
  int logged = 0;
  for (const std::string& line : HookLines())
    logged += line == "ISAPI Extension: 16 runs past CGITimeOut have not returned; request refused";
  EXPECT_EQ(logged, 1);
  EXPECT_EQ(stats_row(), "Stuck ISAPI runs:                       16");

  WriteFile("release", "");
  EXPECT_TRUE(Eventually([this] { return engine().statistics().stuck_extension_runs() == 0u; }));
  EXPECT_EQ(Fetch(Url("probe", "parsed")).body, "parsed body");
  EXPECT_EQ(stats_row(), "Stuck ISAPI runs:                        0");
}

TEST_F(IsapiTest, ExtensionThreadsServeRunAfterRunAndEndAtStop) {
  // A sanitizer's runtime starts a thread of its own with the first one
  // made: that happens before the count.
  std::thread([] {}).join();
  const int baseline = LiveThreads();
  StartServer();
  // Runs at once need threads of their own.
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i)
    clients.emplace_back([this] { EXPECT_EQ(Fetch(Url("probe", "late")).body, "late body"); });
  for (std::thread& t : clients) t.join();
  // One after another, they find a thread that has served before. A run
  // may come before the last one's thread is parked again, so not all do.
  int reused = 0, highest = 0;
  for (int i = 0; i < 20; ++i) {
    const int runs_here = std::atoi(ParseLines(Fetch(Url("probe", "thread")).body)["runs_here"].c_str());
    ASSERT_GE(runs_here, 1);
    reused += runs_here > 1;
    highest = std::max(highest, runs_here);
  }
  EXPECT_GE(reused, 15);
  EXPECT_GE(highest, 5);
  // Between the stop of this engine and the start of the next, the
  // parked threads are gone with the rest.
  RestartWith([&](ServerSettings&) {
    if (baseline >= 0) {
      EXPECT_TRUE(Eventually([&] { return LiveThreads() == baseline; })) << LiveThreads() << " " << baseline;
    }
  });
}

TEST_F(IsapiTest, OutputIsWaitedForOnThePipe) {
  StartServer();
  Fetch(Url("probe", "late"));
  // The extension writes 30 ms after it starts: looking again every half
  // second would make five requests take seconds.
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Fetch(Url("probe", "late")).body, "late body");
  EXPECT_LT(Milliseconds(Clock::now() - start), 1500);
}

TEST_F(IsapiTest, ConcurrentRequestsWhileFlushing) {
  StartServer();
  constexpr int kClients = 32;
  constexpr int kAnswers = 4;
  std::atomic<int> served{0};
  std::atomic<bool> running{true};
  std::mutex mu;
  std::string wrong;
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&] {
      // A request that comes while a flush pauses the server is refused
      // with 503; each client asks until it has had its answers.
      int mine = 0;
      const Clock::time_point until = Clock::now() + std::chrono::seconds(60);
      while (mine < kAnswers && Clock::now() < until) {
        const Response r = Fetch(Url("probe", "parsed"));
        if (r.code == 200 && r.body == "parsed body") {
          ++mine;
        } else if (r.code == 503) {
          platform::sleep_ms(10);
        } else {
          std::lock_guard<std::mutex> lock(mu);
          wrong += r.head + r.body + "\n";
        }
      }
      served.fetch_add(mine);
    });
  std::thread flusher([&] {
    while (running.load()) {
      engine().Flush();
      platform::sleep_ms(20);
    }
  });
  for (std::thread& t : clients) t.join();
  running = false;
  flusher.join();
  EXPECT_EQ(wrong, "");
  EXPECT_EQ(served.load(), kClients * kAnswers);
}

TEST_F(IsapiTest, SampleExtensionsAnswer) {
  const std::filesystem::path stage = std::filesystem::path(platform::executable_directory()) / ".." / "stage" / "ISAPI";
  std::filesystem::copy_file(stage / ISAPI_HELLO, isapi_dir() / ISAPI_HELLO);
  std::filesystem::copy_file(stage / ISAPI_ECHO, isapi_dir() / ISAPI_ECHO);
  StartServer();
  Response r = Fetch(std::string("/isapi/") + ISAPI_HELLO);
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_NE(r.body.find("Hello from an ISAPI extension"), std::string::npos) << r.body;

  const std::string body = std::string(60000, 'e') + "the end";
  r = Fetch(std::string("/isapi/") + ISAPI_ECHO + "?q=1", "POST", body);
  EXPECT_EQ(r.code, 200);
  EXPECT_NE(r.body.find("REQUEST_METHOD: POST\n"), std::string::npos) << r.body.substr(0, 2000);
  EXPECT_NE(r.body.find("QUERY_STRING: q=1\n"), std::string::npos);
  EXPECT_NE(r.body.find("SERVER_PORT_SECURE: 0\n"), std::string::npos);
  EXPECT_EQ(r.body.substr(r.body.size() - body.size() - 1), "\n" + body);
}

}  // namespace
}  // namespace brisvane::testing
