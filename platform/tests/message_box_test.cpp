// Failure notices met on connection threads: without a desktop they never
// wait for a user and reach the log; a test hook still sees every one.
#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

class NoticeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    set_message_box_hook(nullptr);
    set_notice_log_sink(this, nullptr);
    set_notice_policy(NoticePolicy::kAutomatic);
  }
  std::vector<std::string> Logged() {
    std::lock_guard<std::mutex> lock(mu_);
    return logged_;
  }
  void InstallSink() {
    set_notice_log_sink(this, [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(mu_);
      logged_.push_back(text);
    });
  }

  std::mutex mu_;
  std::vector<std::string> logged_;
};

TEST_F(NoticeTest, WithoutADesktopAWorkerThreadGoesOnAndTheLogHasTheText) {
  set_notice_policy(NoticePolicy::kNoDesktop);
  InstallSink();
  auto done = std::async(std::launch::async, [] {
    notify_failure("Unable to open temporary file", "Critical Error", kMbIconError);
  });
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the thread was held";
  EXPECT_EQ(Logged(), std::vector<std::string>{"Unable to open temporary file"});

  // A second owner (another engine) serves while it is there; removing it
  // leaves the first one serving, removing that leaves none.
  std::vector<std::string> other_logged;
  int other = 0;
  set_notice_log_sink(&other, [&](const std::string& text) { other_logged.push_back(text); });
  notify_failure("second", "Error", kMbOk);
  set_notice_log_sink(&other, nullptr);
  notify_failure("third", "Error", kMbOk);
  set_notice_log_sink(this, nullptr);
  notify_failure("fourth", "Error", kMbOk);
  EXPECT_EQ(other_logged, std::vector<std::string>{"second"});
  EXPECT_EQ(Logged(), (std::vector<std::string>{"Unable to open temporary file", "third"}));
}

TEST_F(NoticeTest, TheTestHookSeesNoticesInsteadOfTheLog) {
  set_notice_policy(NoticePolicy::kNoDesktop);
  InstallSink();
  std::vector<std::string> seen;
  set_message_box_hook([&](const std::string& text, const std::string& caption, unsigned style) {
    seen.push_back(caption + "|" + text + "|" + std::to_string(style));
  });
  std::thread([] { notify_failure("Error opening error log.", "Error", kMbIconError); }).join();
  EXPECT_EQ(seen, std::vector<std::string>{"Error|Error opening error log.|16"});
  EXPECT_TRUE(Logged().empty());
}

}  // namespace
}  // namespace platform
