// The three log line layouts, the zone offset of the time stamp, and many
// writers on one file while it is reopened.
#include "engine/core/log_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "config/server_settings.h"
#include "engine/core/request_context.h"
#include "engine/core/virtual_server.h"
#include "platform/error.h"
#include "platform/system.h"

namespace brisvane {
namespace {

namespace fs = std::filesystem;

const char kStamp[] = "08/Dec/2026:15:04:05 +0000";

TEST(LogLinesTest, AccessLine) {
  VirtualServerConfig config;
  config.site_address = "www";
  VirtualServerRuntime vs(config, nullptr);
  RequestContext ctx;
  ctx.request.remote_address = "10.0.0.5";
  ctx.request.request_line = "GET / HTTP/1.0";
  ctx.response.status_code = 200;
  ctx.virtual_server = &vs;
  ctx.bytes_sent = 1043;
  EXPECT_EQ(EngineLogs::ComposeAccessLine(ctx, kStamp),
            "10.0.0.5 www - [08/Dec/2026:15:04:05 +0000] \"GET / HTTP/1.0\" 200 1043 \"\" \"\"");

  ctx.request.remote_host = "client.example";
  ctx.auth.user = "alice";
  ctx.auth.authenticated = true;
  ctx.request.Set(kHdrReferer, "http://r.example/from");
  ctx.request.Set(kHdrUserAgent, "Agent/1.0 (x)");
  EXPECT_EQ(EngineLogs::ComposeAccessLine(ctx, kStamp),
            "client.example www alice [08/Dec/2026:15:04:05 +0000] \"GET / HTTP/1.0\" 200 1043 "
            "\"http://r.example/from\" \"Agent/1.0 (x)\"");

  // No virtual server and no body; quoted fields cannot forge the layout.
  ctx.virtual_server = nullptr;
  ctx.bytes_sent = 0;
  ctx.response.status_code = 304;
  ctx.request.remote_host.clear();
  ctx.auth.user = "alice";
  ctx.auth.authenticated = false;  // a name sent, not proved
  ctx.request.request_line = "GET /a\"b\\c\x01\x7f\xe9 HTTP/1.0";
  ctx.request.Set(kHdrReferer, "x\" 200 99 \"");
  ctx.request.Set(kHdrUserAgent, "two\nlines\t");
  EXPECT_EQ(EngineLogs::ComposeAccessLine(ctx, kStamp),
            "10.0.0.5 localhost - [08/Dec/2026:15:04:05 +0000] "
            "\"GET /a\\\"b\\\\c\\x01\\x7f\\xe9 HTTP/1.0\" 304 - "
            "\"x\\\" 200 99 \\\"\" \"two\\x0alines\\x09\"");

  // A proved name still cannot add a field.
  ctx.auth.user = "ann lee\"";
  ctx.auth.authenticated = true;
  EXPECT_EQ(EngineLogs::ComposeAccessLine(ctx, kStamp).rfind("10.0.0.5 localhost ann\\x20lee\\\" [", 0), 0u);
}

TEST(LogLinesTest, ErrorAndTraceLines) {
  RequestContext ctx;
  ctx.request.remote_address = "10.0.0.5";
  EXPECT_EQ(EngineLogs::ComposeErrorLine("Bad URL in request", &ctx, kStamp),
            "10.0.0.5 [08/Dec/2026:15:04:05 +0000] Bad URL in request");
  EXPECT_EQ(EngineLogs::ComposeErrorLine("No Virtual Servers", nullptr, kStamp),
            "LOCAL SYSTEM ERROR  [08/Dec/2026:15:04:05 +0000] No Virtual Servers");
  ctx.request.remote_host = "client.example";
  EXPECT_EQ(EngineLogs::ComposeTraceLine("step", &ctx, kStamp, 4711),
            "client.example [08/Dec/2026:15:04:05 +0000] (4711) step");
  EXPECT_EQ(EngineLogs::ComposeTraceLine("Logs Initalized", nullptr, kStamp, 12),
            "No Request Data [08/Dec/2026:15:04:05 +0000] (12) Logs Initalized");
  // Client text inside a message cannot end the line.
  EXPECT_EQ(EngineLogs::ComposeErrorLine("Error reading \"C:\\a\r\nb\xe9\"", &ctx, kStamp),
            "client.example [08/Dec/2026:15:04:05 +0000] Error reading \"C:\\a\\x0d\\x0ab\\xe9\"");
}

TEST(LogTimeStampTest, ZoneOffsetFromTheBias) {
  struct Case {
    int32_t bias;
    const char* offset;
  } cases[] = {{60, "-0100"}, {0, "+0000"}, {-330, "+0530"}, {210, "-0330"}, {-30, "+0030"}};
  for (const Case& c : cases)
    EXPECT_EQ(FormatLogTimeStamp(2026, 12, 8, 15, 4, 5, c.bias),
              std::string("08/Dec/2026:15:04:05 ") + c.offset)
        << c.bias;
  EXPECT_EQ(FormatLogTimeStamp(2001, 1, 2, 3, 4, 5, 0), "02/Jan/2001:03:04:05 +0000");
}

class LogFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() / ("brisvane-logs-" + std::to_string(platform::current_process_id()) +
                                        "_" + std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  fs::path dir_;
};

// A name is used whole: one the system cannot hold is refused with the
// system's own error, never shortened into the name of some other file.
TEST_F(LogFilesTest, NameTooLongIsRefusedNotCut) {
  std::string base = (dir_ / "").string();
  ASSERT_LT(base.size() + 10, 259u);
  std::string path = base + std::string(300 - base.size(), 'n');  // one name of 256 or more
  LogFile log;
  EXPECT_FALSE(log.Open(path));
#ifndef _WIN32
  EXPECT_EQ(platform::last_error(), platform::err::kFilenameExcedRange);
#endif
  log.Write("x");
  log.Close();
  EXPECT_FALSE(std::filesystem::exists(path.substr(0, 259)));
}

// Buffered access lines reach the file by WriteBuffered, Flush and Close,
// when 64 KiB have gathered, and on their own a moment after they were
// written; always in the order of the writes.
TEST_F(LogFilesTest, BufferedAccessLinesAreWrittenInOrder) {
  ServerSettings settings(dir_.string(), SettingsFlavor::kEngine);
  settings.access_log_file_name = (dir_ / "access.txt").string();
  settings.error_log_file_name = (dir_ / "error.txt").string();
  int sent = 0;
  std::vector<std::string> want;
  EngineLogs logs;
  auto access = [&] {
    RequestContext ctx;
    ctx.request.remote_address = "10.0.0.1";
    ctx.request.request_line = "GET /" + std::to_string(sent++) + " HTTP/1.0";
    ctx.response.status_code = 200;
    logs.Access(ctx);
    // The stamp may turn a second between the two: compare from the quote.
    std::string line = EngineLogs::ComposeAccessLine(ctx, LogTimeStampNow());
    want.push_back(line.substr(line.find('"')));
  };
  auto written = [&] {
    std::vector<std::string> lines;
    std::string text = ReadAll(settings.access_log_file_name);
    for (size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
      std::string line = text.substr(pos, end - pos);
      lines.push_back(line.substr(line.find('"')));
    }
    return lines;
  };
  logs.Open(settings);
  logs.SetAccessWriteDelay(0);  // only the explicit writes
  access();
  ASSERT_TRUE(written().empty()) << "written at once: nothing here is tested";
  logs.WriteBuffered();
  EXPECT_EQ(written(), want) << "by WriteBuffered";
  access();
  logs.Flush();
  EXPECT_EQ(written(), want) << "by Flush";
  for (int i = 0; i < 20000 && fs::file_size(settings.access_log_file_name) < 3 * 65536; ++i) access();
  ASSERT_GE(fs::file_size(settings.access_log_file_name), 3u * 65536) << "a full buffer waits";
  access();
  logs.Close();
  EXPECT_EQ(written(), want) << "by a full buffer and Close";

  logs.Open(settings);
  logs.SetAccessWriteDelay(20);
  access();
  for (int i = 0; i < 1000 && written().size() < want.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(written(), want) << "on its own";
}

// Writers log request lines of many lengths while, in the second round, the
// control thread reopens the logs as every Flush does. Each line must come
// out whole: a piece of another writer's line breaks its own.
TEST_F(LogFilesTest, ConcurrentWritersNeverInterleave) {
  constexpr int kThreads = 8, kLines = 250;
  auto request_line = [](int thread, int i) {
    return "GET /t" + std::to_string(thread) + "/" + std::to_string(i) + "/" +
           std::string(static_cast<size_t>(1 + (i * 37 + thread * 101) % 1500), 'x') + " HTTP/1.0";
  };
  ServerSettings settings(dir_.string(), SettingsFlavor::kEngine);
  settings.access_log_file_name = (dir_ / "access.txt").string();
  settings.error_log_file_name = (dir_ / "error.txt").string();
  for (bool reopen : {false, true}) {
    fs::remove(settings.access_log_file_name);
    EngineLogs logs;
    logs.Open(settings);
    std::atomic<bool> done{false};
    std::thread control([&] {
      while (reopen && !done.load()) logs.Open(settings);
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
      writers.emplace_back([&, t] {
        for (int i = 0; i < kLines; ++i) {
          RequestContext ctx;
          ctx.request.remote_address = "10.0.0." + std::to_string(t);
          ctx.request.request_line = request_line(t, i);
          ctx.response.status_code = 200;
          ctx.bytes_sent = static_cast<uint64_t>(i + 1);
          logs.Access(ctx);
        }
      });
    for (auto& w : writers) w.join();
    done = true;
    control.join();
    logs.Close();

    std::string text = ReadAll(settings.access_log_file_name);
    ASSERT_TRUE(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) << reopen;
    size_t lines = 0, whole = 0;
    for (size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
      std::string line = text.substr(pos, end - pos);
      ++lines;
      int t = -1, i = -1;
      size_t quote = line.find("\"GET /t");
      if (quote == std::string::npos || std::sscanf(line.c_str() + quote, "\"GET /t%d/%d/", &t, &i) != 2) continue;
      RequestContext ctx;
      ctx.request.remote_address = "10.0.0." + std::to_string(t);
      ctx.request.request_line = request_line(t, i);
      ctx.response.status_code = 200;
      ctx.bytes_sent = static_cast<uint64_t>(i + 1);
      whole += line.size() > 28 && line == EngineLogs::ComposeAccessLine(ctx, line.substr(line.find('[') + 1, 26));
    }
    EXPECT_EQ(whole, lines) << "torn lines, reopen " << reopen;
    if (!reopen) {
      EXPECT_EQ(lines, size_t{kThreads * kLines}) << "lost lines";
    }
  }
}

}  // namespace
}  // namespace brisvane
