// service.exe against the system's service manager, with the real vanehost
// as the service: install with a Windows path, query, start through the
// manager, delete of the running service (stop sent, still installed), and
// delete once it stopped.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace {

struct Result {
  uint32_t exit_code = 0xFFFFFFFFu;
  std::string out;
};

// Runs a program and collects its standard output; at most `timeout_ms`.
Result RunProgram(const std::string& command_line, uint32_t timeout_ms = 60000) {
  Result r;
  platform::PipeHandle rd, wr;
  if (!platform::pipe_create(&rd, &wr, false, true)) return r;
  platform::ProcessStart start;
  start.command_line = command_line;
  start.output = platform::ChildStdio::pipe(wr);
  platform::ProcessHandle p = platform::process_spawn(start);
  platform::pipe_close(wr);
  if (p != platform::kInvalidProcess) {
    uint32_t begin = platform::tick_count();
    char buf[512];
    while (platform::tick_count() - begin < timeout_ms && platform::pipe_wait(rd, 500) >= 0) {
      uint32_t avail = 0;
      if (!platform::pipe_peek(rd, &avail)) break;
      if (avail == 0) continue;
      int64_t n = platform::pipe_read(rd, buf, sizeof buf);
      if (n <= 0) break;
      r.out.append(buf, static_cast<size_t>(n));
    }
    platform::process_wait(p, 10000, &r.exit_code);
    platform::process_close(p);
  }
  platform::pipe_close(rd);
  // Line ends as a console program on Windows writes them.
  std::string plain;
  for (char c : r.out)
    if (c != '\r') plain += c;
  r.out = plain;
  return r;
}

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stage_ = platform::executable_directory() + "\\..\\stage\\";
    for (const char* file : {"service.exe", "vanehost.exe", "vanecore.dll"})
      if (platform::file_attributes(stage_ + file) == platform::kInvalidAttributes)
        GTEST_SKIP() << file << " is not staged";
    tool_ = "\"" + stage_ + "service.exe\" ";
    // A profile of its own that listens on a port the system picks.
    platform::RegHandle key = 0;
    ASSERT_EQ(platform::reg_open_key(platform::kHkeyLocalMachine,
                                     "SOFTWARE\\Halvex\\Brisvane\\2.0\\ServiceTest\\Network", true, &key, nullptr),
              0u);
    uint32_t port = 0;
    platform::reg_set_value(key, "Port", platform::kRegDword, &port, sizeof port);
    platform::reg_close_key(key);
    RunProgram(tool_ + "d");  // what an earlier, interrupted run left
  }
  void TearDown() override {
    if (!tool_.empty() && RunProgram(tool_ + "d").out.find("still running") != std::string::npos) {
      WaitForState(1);
      RunProgram(tool_ + "d");
    }
  }

  // Queries until the tool reports `state`, for up to 20 s.
  bool WaitForState(int state) {
    for (int i = 0; i < 80; ++i) {
      if (RunProgram(tool_ + "q").out.find("State: " + std::to_string(state) + "\n") != std::string::npos) return true;
      platform::sleep_ms(250);
    }
    return false;
  }

  std::string stage_, tool_;
};

TEST_F(ServiceManagerTest, InstallStartDeleteWhileRunningThenAfterStop) {
  EXPECT_EQ(RunProgram(tool_ + "q").out, "Brisvane Professional service is not installed\n");
  std::string cmd = stage_ + "vanehost.exe -p ServiceTest -s";
  Result add = RunProgram(tool_ + "a \"" + cmd + "\"");
  EXPECT_EQ(add.exit_code, 0u);
  EXPECT_EQ(add.out, "Brisvane Professional service installed\nCommand Line: [" + cmd +
                         "]\nYou must either reboot or use the control panel to start Brisvane Professional.\n");
  EXPECT_EQ(RunProgram(tool_ + "q").out,
            "Brisvane Professional service installed\nState: 1\nCommand Line: [" + cmd + "]\n");

  Result start = RunProgram(platform::get_env("WINDIR").value_or("C:\\windows") + "\\system32\\net.exe start Brisvane");
  ASSERT_TRUE(WaitForState(4)) << start.out;

  EXPECT_EQ(RunProgram(tool_ + "delete").out, "Service is still running.  Sending stop request...\n");
  // The host acts on a stop after its idle sleep: within about 7 s.
  ASSERT_TRUE(WaitForState(1));
  EXPECT_NE(RunProgram(tool_ + "q").out.find("Command Line: [" + cmd + "]"), std::string::npos);

  EXPECT_EQ(RunProgram(tool_ + "d").out, "Brisvane Professional service removed\n");
  EXPECT_EQ(RunProgram(tool_ + "q").out, "Brisvane Professional service is not installed\n");
}

}  // namespace
