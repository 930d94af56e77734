// The logs of a running engine: the lines real requests leave, switched-off
// logs, a second server on the same files, and restarts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <regex>

#include "engine/core/tests/test_server.h"
#include "engine/pages/tests/pages_test_util.h"
#include "platform/message_box.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

const std::string kStamp = R"(\[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\])";

class LogsServerTest : public TestServer {
 protected:
  void SetUp() override {
    TestServer::SetUp();
    WriteFile("page.html", "<html>hello</html>");
  }
  void Configure(ServerSettings& s) override { s.virtual_servers[0].site_address = "www.example"; }
  std::string AccessLog() { return settings().access_log_file_name; }
  uint32_t Query(const char* name) {
    char buf[80];
    std::strcpy(buf, name);
    EXPECT_TRUE(engine().QueryValue(buf, sizeof buf));
    return static_cast<uint32_t>(std::stoul(buf));
  }
};

TEST_F(LogsServerTest, LinesOfRealRequests) {
  StartServer();
  // The line is written after the answer, so each request waits for its
  // line to keep the order of the file.
  size_t logged = 0;
  auto request = [&](const std::string& raw, bool head_only = false) {
    Response r = Get(raw, head_only);
    ++logged;
    EXPECT_TRUE(WaitUntil([&] { return LogLines(AccessLog()).size() >= logged; })) << raw;
    return r;
  };
  Response first = request("GET /page.html HTTP/1.1\r\nHost: www.example\r\nReferer: http://from.example/a\r\n"
                           "User-Agent: Tester \"quoted\"\r\n\r\n");
  ASSERT_EQ(first.code, 200);
  Response cached = request("GET /page.html HTTP/1.0\r\nIf-Modified-Since: " + first.Header("Last-Modified") +
                                "\r\n\r\n",
                            true);
  ASSERT_EQ(cached.code, 304);
  Response missing = request("GET /missing HTTP/1.0\r\n\r\n");
  ASSERT_EQ(missing.code, 404);
  Response refused = request("FOO /page.html HTTP/1.0\r\n\r\n");
  ASSERT_EQ(refused.code, 501);

  std::vector<std::string> lines = LogLines(AccessLog());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(127\.0\.0\.1 www\.example - )" + kStamp +
                                                    R"( "GET /page\.html HTTP/1\.1" 200 18 )"
                                                    R"("http://from\.example/a" "Tester \\"quoted\\"")")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(127\.0\.0\.1 www\.example - )" + kStamp +
                                                    R"( "GET /page\.html HTTP/1\.0" 304 - "" "")")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(127\.0\.0\.1 www\.example - )" + kStamp +
                                                    R"( "GET /missing HTTP/1\.0" 404 )" +
                                                    std::to_string(missing.body.size()) + R"( "" "")")))
      << lines[2];
  // Refused before a virtual server was chosen: no name, and no page.
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(127\.0\.0\.1 localhost - )" + kStamp +
                                                    R"( "FOO /page\.html HTTP/1\.0" 501 - "" "")")))
      << lines[3];

  std::vector<std::string> errors = LogLines(settings().error_log_file_name);
  bool reading = false;
  for (const auto& l : errors)
    reading |= std::regex_match(l, std::regex(R"(127\.0\.0\.1 )" + kStamp + R"( Error reading ".*missing" - .+)"));
  EXPECT_TRUE(reading);
  std::vector<std::string> traces = LogLines(settings().trace_log_file_name);
  ASSERT_FALSE(traces.empty());
  EXPECT_TRUE(std::regex_match(traces[0], std::regex("No Request Data " + kStamp + R"( \(\d+\) Logs Initalized)")))
      << traces[0];
}

// With the timed writes off, the idle command, a Flush and a Stop each
// bring the buffered access lines to the file.
TEST_F(LogsServerTest, BufferedAccessLinesReachTheFileByIdleFlushAndStop) {
  StartServer();
  HeardLines heard;
  engine().SetLogHook(HeardLines::Hook, 20, reinterpret_cast<uintptr_t>(&heard));
  auto contains = [](const std::vector<std::string>& lines, const std::string& agent) {
    for (const auto& l : lines)
      if (l.find("\"" + agent + "\"") != std::string::npos) return true;
    return false;
  };
  // The hook hears the line once it has been handed to the log.
  auto logged = [&](const std::string& agent) {
    Get("GET /page.html HTTP/1.0\r\nUser-Agent: " + agent + "\r\n\r\n");
    return WaitUntil([&] { return contains(heard.Copy(), agent); });
  };
  engine().logs().SetAccessWriteDelay(0);
  ASSERT_TRUE(logged("idle"));
  ASSERT_FALSE(contains(LogLines(AccessLog()), "idle")) << "written at once: nothing here is tested";
  ASSERT_TRUE(engine().Command("IDLE", 0, 0));
  EXPECT_TRUE(contains(LogLines(AccessLog()), "idle"));

  ASSERT_TRUE(logged("flush"));
  engine().Flush();
  EXPECT_TRUE(contains(LogLines(AccessLog()), "flush"));

  ASSERT_TRUE(logged("stop"));
  engine().Stop();
  engine().SetLogHook(nullptr, 0, 0);
  std::vector<std::string> lines = LogLines(AccessLog());
  EXPECT_TRUE(contains(lines, "stop"));
  ASSERT_EQ(lines.size(), 3u) << "each line once";
  EXPECT_TRUE(contains({lines[0]}, "idle") && contains({lines[2]}, "stop")) << "in order";
}

class SilentLogsTest : public LogsServerTest {
 protected:
  void Configure(ServerSettings& s) override {
    s.access_log_mask = 0;
    s.error_log_mask = 0;
    s.trace_log_mask = 0;
  }
};

TEST_F(SilentLogsTest, NoFilesYetCountedAndHeard) {
  StartServer();
  for (int level : {30, 20, 19}) {
    HeardLines heard;
    engine().SetLogHook(HeardLines::Hook, level, reinterpret_cast<uintptr_t>(&heard));
    uint32_t before = Query("NUM_REQUESTS");
    Get("GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n");
    Get("GET /missing HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(WaitUntil([&] { return Query("NUM_REQUESTS") == before + 2; })) << "counted with logs off";
    engine().Flush();
    // Counting comes before the access line: let both lines reach the hook
    // before it is taken away.
    if (level >= 20) {
      EXPECT_TRUE(WaitUntil([&] {
        int access = 0;
        for (const auto& l : heard.Copy())
          access += l.find("\" 404 ") != std::string::npos || l.find("\" 200 ") != std::string::npos;
        return access == 2;
      }));
    }
    engine().SetLogHook(nullptr, 0, 0);
    bool access = false, error = false, trace = false;
    for (const auto& l : heard.Copy()) {
      access |= l.find("\"GET /page.html HTTP/1.1\" 200 18") != std::string::npos;
      error |= l.rfind("Error reading", 0) == 0;
      trace |= l.rfind("Flushing server configuration", 0) == 0;
    }
    EXPECT_EQ(access, level >= 20) << level;
    EXPECT_EQ(error, level >= 20) << level;
    EXPECT_EQ(trace, level >= 30) << level;
  }
  EXPECT_FALSE(std::filesystem::exists(settings().access_log_file_name));
  EXPECT_FALSE(std::filesystem::exists(settings().error_log_file_name));
  EXPECT_FALSE(std::filesystem::exists(settings().trace_log_file_name));
}

TEST_F(LogsServerTest, SecondServerOnTheSameLogsIsToldAndServes) {
  StartServer();
  std::mutex mu;
  std::vector<std::string> boxes;
  platform::set_message_box_hook([&](const std::string& text, const std::string& caption, unsigned style) {
    std::lock_guard<std::mutex> lock(mu);
    boxes.push_back(caption + "|" + std::to_string(style & 0xF0) + "|" + text);
  });
  ServerSettings other_settings = settings();
  other_settings.port = FreePort();
  std::string other_profile = profile() + "_second";
  ASSERT_TRUE(SaveSettings(other_settings, other_profile));
  Response served;
  {
    Engine other;
    other.SetProfile(other_profile.c_str());
    ASSERT_TRUE(other.Start());
    EXPECT_EQ(other.state(), kStateRunning);
    Client c(other.bound_port());
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.Send("GET /page.html HTTP/1.0\r\nUser-Agent: second\r\n\r\n"));
    ASSERT_TRUE(c.Read(&served));
    other.Stop();
  }
  platform::set_message_box_hook(nullptr);
  ClearProfile(other_profile);
  EXPECT_EQ(served.body, "<html>hello</html>") << "the second server keeps serving";
  const std::string tail =
      " Check log file path in server properties. You may be running two instances of Brisvane "
      "on the same configuration.";
  std::vector<std::string> want = {"Error|16|Error opening access log." + tail,
                                   "Error|16|Error opening error log." + tail,
                                   "Error|16|Error opening trace log." + tail};
  EXPECT_EQ(boxes, want);

  // The first server still owns its logs, and nothing of the second's got in.
  Get("GET /page.html HTTP/1.0\r\nUser-Agent: first\r\n\r\n");
  ASSERT_TRUE(WaitUntil([&] { return !LogLines(AccessLog()).empty(); }));
  std::vector<std::string> lines = LogLines(AccessLog());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"first\""), std::string::npos);
}

TEST_F(LogsServerTest, RestartAppends) {
  StartServer();
  Get("GET /page.html HTTP/1.0\r\nUser-Agent: run1\r\n\r\n");
  ASSERT_TRUE(WaitUntil([&] { return LogLines(AccessLog()).size() == 1; }));
  RestartWith([](ServerSettings&) {});
  Get("GET /page.html HTTP/1.0\r\nUser-Agent: run2\r\n\r\n");
  ASSERT_TRUE(WaitUntil([&] { return LogLines(AccessLog()).size() == 2; }));
  std::vector<std::string> lines = LogLines(AccessLog());
  EXPECT_NE(lines[0].find("\"run1\""), std::string::npos);
  EXPECT_NE(lines[1].find("\"run2\""), std::string::npos);
  int starts = 0;
  for (const auto& l : LogLines(settings().trace_log_file_name))
    starts += l.find(") Logs Initalized") != std::string::npos;
  EXPECT_EQ(starts, 2);
}

}  // namespace
}  // namespace brisvane::testing
