// Starting and stopping the engine as a host sees it: a start that cannot
// serve says so, a stop keeps what running requests log, and the engine's
// housekeeping does not wait for a host's idle calls.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/core/tests/test_server.h"
#include "engine/pages/tests/pages_test_util.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/message_box.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

bool AnyContains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& l : lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

class LifecycleTest : public TestServer {
 protected:
  void SetUp() override {
    TestServer::SetUp();
    // As under a service or on POSIX: notices go to the error log.
    platform::set_notice_policy(platform::NoticePolicy::kNoDesktop);
  }
  void TearDown() override {
    TestServer::TearDown();
    platform::set_notice_policy(platform::NoticePolicy::kAutomatic);
  }

  // A fresh engine on the saved settings, its lines heard by `heard`.
  std::unique_ptr<Engine> NewEngine(HeardLines* heard) {
    EXPECT_TRUE(SaveSettings(settings(), profile()));
    auto e = std::make_unique<Engine>();
    e->SetProfile(profile().c_str());
    e->SetHousekeepingInterval(0);
    e->SetLogHook(HeardLines::Hook, 30, reinterpret_cast<uintptr_t>(heard));
    return e;
  }
  std::string PortText(Engine& e) {
    char buf[80] = "PORT";
    EXPECT_TRUE(e.QueryValue(buf, sizeof buf));
    return buf;
  }
};

TEST_F(LifecycleTest, StartOnATakenPortFailsAndSaysWhy) {
  // Another program listens on the port.
  Socket holder;
  ASSERT_TRUE(holder.CreateStream());
  platform::SockAddrV4 any;
  ASSERT_TRUE(platform::socket_bind(holder.handle(), any));
  ASSERT_TRUE(holder.Listen(5));
  platform::SockAddrV4 held;
  ASSERT_TRUE(holder.LocalAddress(&held));
  settings().port = platform::host_to_net16(held.port);

  HeardLines heard;
  auto e = NewEngine(&heard);
  EXPECT_FALSE(e->Start());
  EXPECT_EQ(e->state(), kStateStopped);
  EXPECT_FALSE(e->Stop()) << "nothing is left running";

  // The address is in use; Windows may call that access denied.
  std::string reason;
  for (platform::os_error code : {platform::err::kWsaAddrInUse, platform::err::kWsaAccess}) {
    std::string text = "Windows Socket error " + std::to_string(code) + ": Unable to bind socket - " +
                       platform::error_message(code);
    if (AnyContains(heard.Copy(), text)) reason = text;
  }
  ASSERT_FALSE(reason.empty()) << "the host's console hears it with the system's text:\n" << Joined(heard.Copy());
  EXPECT_TRUE(AnyContains(LogLines(settings().error_log_file_name), reason)) << "the error log keeps it";

  // Once the port is free the same engine starts.
  holder.Close();
  EXPECT_TRUE(e->Start());
  EXPECT_EQ(e->state(), kStateRunning);
  EXPECT_TRUE(e->Stop());
}

#ifndef _WIN32
TEST_F(LifecycleTest, StartWithAnUnreadableRegistryFails) {
  HeardLines heard;
  auto e = NewEngine(&heard);
  // The registry file is damaged beyond reading.
  std::ofstream(file(), std::ios::binary | std::ios::trunc) << std::string(4096, '\x07') << "\n}{garbage\n";
  EXPECT_FALSE(e->Start());
  EXPECT_EQ(e->state(), kStateStopped);
  EXPECT_TRUE(AnyContains(heard.Copy(), "Fatal error reading from registry"));
}
#endif

TEST_F(LifecycleTest, StopKeepsTheAccessLinesOfRunningRequests) {
  // A document larger than any socket buffer, asked for by a client that
  // does not read: its request is still being answered when Stop comes.
  const size_t kSize = 48u << 20;
  WriteFile("big.bin", std::string(kSize, 'b'));
  StartServer();
  HeardLines heard;
  engine().SetLogHook(HeardLines::Hook, 20, reinterpret_cast<uintptr_t>(&heard));
  Client c(port());
  ASSERT_TRUE(c.connected());
  ASSERT_TRUE(c.Send("GET /big.bin HTTP/1.0\r\nUser-Agent: still-running\r\n\r\n"));
  char buf[4096];
  ASSERT_GT(c.socket().Receive(buf, sizeof buf), 0) << "the answer has begun";
  platform::sleep_ms(200);
  ASSERT_FALSE(AnyContains(heard.Copy(), "still-running")) << "the request ended before the stop";

  ASSERT_TRUE(engine().Stop());
  engine().SetLogHook(nullptr, 0, 0);
  EXPECT_TRUE(AnyContains(LogLines(settings().access_log_file_name), "still-running"));
}

TEST_F(LifecycleTest, HousekeepingRunsWithoutIdle) {
  SetHousekeepingInterval(20);
  StartServer();
  engine().logs().SetAccessWriteDelay(0);  // lines wait for housekeeping alone
  platform::EventHandle event = platform::event_create(kFlushEventName);
  ASSERT_NE(event, 0u);

  Get("GET /missing HTTP/1.0\r\nUser-Agent: unprompted\r\n\r\n");
  EXPECT_TRUE(WaitUntil([&] { return AnyContains(LogLines(settings().access_log_file_name), "unprompted"); }))
      << "buffered access lines reach the file";

  const uint32_t old_port = settings().port;
  settings().port = old_port + 1;
  ASSERT_TRUE(SaveSettings(settings(), profile()));
  ASSERT_TRUE(platform::event_set(event));
  EXPECT_TRUE(WaitUntil([&] { return PortText(engine()) == std::to_string(old_port + 1); }))
      << "the flush event reloads the settings";
  EXPECT_TRUE(WaitUntil([&] { return !platform::event_is_set(event); }));
  EXPECT_EQ(engine().state(), kStateRunning);
  // The idle command still does the same work.
  EXPECT_TRUE(engine().Command(kCommandIdle, 0, 0));
  platform::event_close(event);
  ASSERT_TRUE(engine().Stop());
}

// Names are used whole: a name the system cannot hold is refused, and a
// shortened one, which would be some other file, is never touched.
class LongNameTest : public TestServer {
 protected:
  // `length` characters: the site's folder, then nested folders, then a file.
  std::string LongPath(size_t length, const std::string& under) {
    std::filesystem::path p = root() / under;
    std::string s = p.string();
    while (s.size() + 60 < length) {
      p /= std::string(50, 'd');
      s = p.string();
    }
    std::filesystem::create_directories(p, ignored_);
    const size_t name = length - s.size() - 1;
    return (p / std::string(name, 'n')).string();
  }
  std::error_code ignored_;
};

TEST_F(LongNameTest, LogNameLongerThan259IsNotCut) {
  const std::string path = LongPath(300, "Logs");
  ASSERT_EQ(path.size(), 300u);
  const std::string cut = path.substr(0, 259);
  settings().error_log_file_name = path;
  HeardLines heard;
  platform::set_message_box_hook([&](const std::string& text, const std::string&, unsigned) {
    std::lock_guard<std::mutex> lock(heard.mu);
    heard.lines.push_back(text);
  });
  StartServer();
  engine().logs().Error("long name", nullptr);
  engine().Stop();
  platform::set_message_box_hook(nullptr);
  EXPECT_FALSE(std::filesystem::exists(cut)) << "the shortened name was opened";
  if (std::filesystem::exists(path)) {
    EXPECT_TRUE(AnyContains(LogLines(path), "long name"));
  } else {
    // Where the system's limit is shorter, the open fails as any other.
    EXPECT_TRUE(AnyContains(heard.Copy(), "Error opening error log")) << "refused without a word";
  }
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::exists(path)) << "the system's own limit is far above 259";
#endif
}

TEST_F(LongNameTest, DocumentPathLongerThan259IsNotCut) {
  const std::string path = LongPath(300, "HTDOCS");
  const std::string cut = path.substr(0, 259);
  {
    std::ofstream(path, std::ios::binary) << "the whole name";
    std::ofstream(cut, std::ios::binary) << "some other file";
  }
  StartServer();
  const std::string url = path.substr((root() / "HTDOCS").string().size());
  std::string slashed = url;
  for (char& ch : slashed)
    if (ch == '\\') ch = '/';
  Response r = Get("GET " + slashed + " HTTP/1.0\r\n\r\n");
  EXPECT_NE(r.body, "some other file");
#ifndef _WIN32
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.body, "the whole name");
#endif
}

}  // namespace
}  // namespace brisvane::testing
