// The tool's arguments, its printed lines and exit codes, the NT-line flows
// against a service manager that keeps one service in memory, and the
// consumer-line flows against the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/error.h"
#include "platform/registry.h"
#include "platform/tests/registry_fixture.h"
#include "service/service_tool.h"

namespace brisvane {
namespace {

using platform::err::kServiceDoesNotExist;
using platform::err::kServiceExists;

// One service, as a service manager would hold it.
class MemoryManager final : public ServiceManager {
 public:
  bool can_open = true;
  std::optional<std::string> command_line;
  uint32_t state = kServiceStopped;
  int stops_sent = 0;
  bool manager_open = false, service_open = false;

  bool OpenManager() override {
    if (!can_open) platform::set_last_error(platform::err::kAccessDenied);
    return manager_open = can_open;
  }
  bool CloseManager() override { return !std::exchange(manager_open, false) ? Fail(6) : true; }
  bool Create(const std::string& cmd) override {
    if (command_line) return Fail(kServiceExists);
    command_line = cmd;
    return service_open = true;
  }
  bool Open(bool) override { return command_line ? (service_open = true) : Fail(kServiceDoesNotExist); }
  bool Close() override { return std::exchange(service_open, false) ? true : Fail(6); }
  bool QueryState(uint32_t* s) override {
    *s = state;
    return true;
  }
  bool QueryCommandLine(std::string* cmd) override {
    *cmd = *command_line;
    return true;
  }
  bool Remove() override {
    command_line.reset();
    return true;
  }
  bool SendStop() override {
    ++stops_sent;
    return true;
  }

 private:
  static bool Fail(platform::os_error e) {
    platform::set_last_error(e);
    return false;
  }
};

struct ToolRun {
  int exit_code;
  std::string out;
};

ToolRun Tool(std::vector<std::string> args, ServiceManager* m, int platform_id = 2) {
  ToolRun r;
  r.exit_code = RunServiceTool(args, platform_id, m, [&](std::string_view t) { r.out += t; });
  return r;
}

const std::string kUsageFirst = "Brisvane Professional Service Control v0.2\n\nUsage:  SERVICE  a | d | q  \"[command line]\"\n";

TEST(ServiceTool, ArgumentsDecideBeforeAnyServiceIsTouched) {
  MemoryManager m;
  ToolRun usage = Tool({}, &m);
  EXPECT_EQ(usage.exit_code, 0);
  EXPECT_EQ(usage.out.rfind(kUsageFirst, 0), 0u) << usage.out;
  EXPECT_NE(usage.out.find("\n- The default command line is \"C:\\HTTPD\\VANEHOST -s\"\n"), std::string::npos);
  EXPECT_NE(usage.out.find("\nwith the executable installed in D:\\MYDIR\\\n"), std::string::npos);
  EXPECT_EQ(std::count(usage.out.begin(), usage.out.end(), '\n'), 16);

  EXPECT_EQ(Tool({"x"}, &m).out, usage.out);
  EXPECT_EQ(Tool({"D:\\A\\VANEHOST.EXE", "-s", "q"}, &m).out,
            "Too many arguments.  Make sure the command line is enclosed with double quotes.\n");
  EXPECT_EQ(Tool({"q"}, &m, 3).out, "Unsupported operating system\n");
  EXPECT_FALSE(m.command_line);
  EXPECT_FALSE(m.manager_open);

  m.can_open = false;
  ToolRun refused = Tool({"q"}, &m);
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.out, "Error opening service control manager: " +
                             platform::error_message(platform::err::kAccessDenied) + "\n");
}

TEST(ServiceTool, NtLineAddQueryAndDeleteOfARunningThenStoppedService) {
  MemoryManager m;
  EXPECT_EQ(Tool({"q"}, &m).out, "Brisvane Professional service is not installed\n");

  ToolRun add = Tool({"a"}, &m);
  EXPECT_EQ(add.out,
            "Brisvane Professional service installed\nCommand Line: [C:\\HTTPD\\VANEHOST.EXE -s]\n"
            "You must either reboot or use the control panel to start Brisvane Professional.\n");
  EXPECT_EQ(Tool({"a", "D:\\X\\VANEHOST.EXE -s"}, &m).out,
            platform::error_message(kServiceExists) + "\n");

  m.state = kServiceRunning;
  EXPECT_EQ(Tool({"query"}, &m).out,
            "Brisvane Professional service installed\nState: 4\nCommand Line: [C:\\HTTPD\\VANEHOST.EXE -s]\n");

  ToolRun running = Tool({"delete"}, &m);
  EXPECT_EQ(running.out, "Service is still running.  Sending stop request...\n");
  EXPECT_EQ(m.stops_sent, 1);
  EXPECT_TRUE(m.command_line);

  m.state = kServiceStopped;
  EXPECT_EQ(Tool({"d"}, &m).out, "Brisvane Professional service removed\n");
  EXPECT_FALSE(m.command_line);
  EXPECT_EQ(Tool({"d"}, &m).out, platform::error_message(kServiceDoesNotExist) + "\n");
  // Every handle the tool opened it closed again.
  EXPECT_FALSE(m.manager_open);
  EXPECT_FALSE(m.service_open);
}

TEST(ServiceTool, LongCommandLinesAreCutToThePathLimit) {
  MemoryManager m;
  std::string line = "D:\\" + std::string(300, 'x');
  Tool({"a", line}, &m);
  ASSERT_TRUE(m.command_line);
  EXPECT_EQ(*m.command_line, line.substr(0, 259));
}

class ConsumerLine : public platform::testing::RegistryTest {
 protected:
  void TearDown() override {
    platform::RegHandle key = 0;
    if (platform::reg_open_key(platform::kHkeyLocalMachine, kRunServicesKey, false, &key, nullptr) == 0) {
      platform::reg_delete_value(key, kToolServiceName);
      platform::reg_close_key(key);
    }
    RegistryTest::TearDown();
  }
};

TEST_F(ConsumerLine, AddQueryDeleteKeepTheRunServicesValue) {
  ToolRun missing = Tool({"q"}, nullptr, 1);
  EXPECT_EQ(missing.out, "Brisvane Professional service not installed\n");

  const std::string cmd = "D:\\MYDIR\\VANEHOST.EXE -p MyProfile -s";
  EXPECT_EQ(Tool({"a", cmd}, nullptr, 1).out,
            "Brisvane Professional service installed\nCommand Line: [" + cmd +
                "]\nYou must reboot the system for changes to take effect.\n");

  platform::RegHandle key = 0;
  ASSERT_EQ(platform::reg_open_key(platform::kHkeyLocalMachine, kRunServicesKey, false, &key, nullptr), 0u);
  uint32_t type = 0, size = 0;
  ASSERT_EQ(platform::reg_query_value(key, kToolServiceName, &type, nullptr, &size), 0u);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(size, cmd.size() + 1);  // the terminating NUL is stored

  EXPECT_EQ(Tool({"q"}, nullptr, 1).out,
            "Brisvane Professional service installed\nCommand Line: [" + cmd + "]\n");
  EXPECT_EQ(Tool({"d"}, nullptr, 1).out,
            "Brisvane Professional service removed\nYou must reboot the system for changes to take effect.\n");
  EXPECT_NE(platform::reg_query_value(key, kToolServiceName, &type, nullptr, &size), 0u);
  platform::reg_close_key(key);
  EXPECT_EQ(Tool({"d"}, nullptr, 1).out, "Error removing service\n");
}

}  // namespace
}  // namespace brisvane
