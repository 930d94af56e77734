#include "service/service_tool.h"


#include "platform/error.h"
#include "platform/registry.h"

namespace brisvane {
namespace {

// The longest command line a path buffer of the system holds.
constexpr size_t kMaxCommandLine = 259;
// The most a consumer-line query reads back.
constexpr uint32_t kMaxValueBytes = 1024;

constexpr const char* kUsage[] = {
    "Brisvane Professional Service Control v0.2",
    "",
    "Usage:  SERVICE  a | d | q  \"[command line]\"",
    "",
    " a   Add Brisvane service",
    " d   Delete Brisvane service",
    " q   Query Brisvane service installation",
    "",
    "- The default command line is \"C:\\HTTPD\\VANEHOST -s\"",
    "- You must enclose the command line with double quotes.",
    "- To ensure proper operaton, you must use the -s (service) option.",
    "",
    "Example: SERVICE a \"D:\\MYDIR\\VANEHOST.EXE -p MyProfile -s\"",
    "",
    "Adds the Brisvane service using the profile MyProfile",
    "with the executable installed in D:\\MYDIR\\",
};

class Printer {
 public:
  explicit Printer(const ToolOutput& out) : out_(out) {}
  void Line(const std::string& text) { out_(text + "\n"); }
  // The system's message for the calling thread's last error.
  void SystemError() { Line(platform::error_message(platform::last_error())); }
  void Usage() {
    for (const char* line : kUsage) Line(line);
  }

 private:
  const ToolOutput& out_;
};

std::string Installed(const std::string& command_line) {
  return std::string(kToolDisplayName) + " service installed\nCommand Line: [" + command_line + "]";
}

void NtAdd(ServiceManager& m, const std::string& command_line, Printer& p) {
  if (!m.Create(command_line)) return p.SystemError();
  p.Line(Installed(command_line));
  p.Line(std::string("You must either reboot or use the control panel to start ") + kToolDisplayName + ".");
  if (!m.Close()) p.SystemError();
}

void NtDelete(ServiceManager& m, Printer& p) {
  if (!m.Open(true)) return p.SystemError();
  uint32_t state = 0;
  if (!m.QueryState(&state)) {
    // The state is unknown: remove nothing.
    p.SystemError();
  } else if (state == kServiceStopped) {
    if (m.Remove())
      p.Line(std::string(kToolDisplayName) + " service removed");
    else
      p.SystemError();
  } else {
    // A running service stays registered; the user deletes it again once
    // it has stopped.
    p.Line("Service is still running.  Sending stop request...");
    if (!m.SendStop()) p.SystemError();
  }
  if (!m.Close()) p.SystemError();
}

void NtQuery(ServiceManager& m, Printer& p) {
  if (!m.Open(false)) return p.Line(std::string(kToolDisplayName) + " service is not installed");
  uint32_t state = 0;
  std::string command_line;
  if (m.QueryState(&state) && m.QueryCommandLine(&command_line)) {
    p.Line(std::string(kToolDisplayName) + " service installed\nState: " + std::to_string(state));
    p.Line("Command Line: [" + command_line + "]");
  } else {
    p.SystemError();
  }
  if (!m.Close()) p.SystemError();
}

void ConsumerAction(char action, const std::string& command_line, Printer& p) {
  platform::RegHandle key = 0;
  if (platform::reg_open_key(platform::kHkeyLocalMachine, kRunServicesKey, true, &key, nullptr) !=
      platform::err::kSuccess) {
    return p.Line("Error opening system key");
  }
  const std::string reboot = "You must reboot the system for changes to take effect.";
  if (action == 'a') {
    // The stored length includes the terminating NUL, as the system expects.
    if (platform::reg_set_value(key, kToolServiceName, platform::kRegSz, command_line.c_str(),
                                static_cast<uint32_t>(command_line.size() + 1)) == platform::err::kSuccess) {
      p.Line(Installed(command_line));
      p.Line(reboot);
    } else {
      p.Line("Error installing service");
    }
  } else if (action == 'd') {
    if (platform::reg_delete_value(key, kToolServiceName) == platform::err::kSuccess) {
      p.Line(std::string(kToolDisplayName) + " service removed");
      p.Line(reboot);
    } else {
      p.Line("Error removing service");
    }
  } else {
    char data[kMaxValueBytes] = {};
    uint32_t type = 0, size = sizeof data - 1;
    if (platform::reg_query_value(key, kToolServiceName, &type, data, &size) == platform::err::kSuccess) {
      p.Line(std::string(kToolDisplayName) + " service installed");
      p.Line(std::string("Command Line: [") + data + "]");
    } else {
      p.Line(std::string(kToolDisplayName) + " service not installed");
    }
  }
  platform::reg_close_key(key);
}

}  // namespace

int RunServiceTool(const std::vector<std::string>& args, int platform_id, ServiceManager* manager,
                   const ToolOutput& out) {
  Printer p(out);
  if (platform_id != 1 && platform_id != 2) {
    p.Line("Unsupported operating system");
    return 0;
  }
  if (args.empty()) {
    p.Usage();
    return 0;
  }
  if (args.size() > 2) {
    p.Line("Too many arguments.  Make sure the command line is enclosed with double quotes.");
    return 0;
  }
  std::string command_line = args.size() == 2 ? args[1].substr(0, kMaxCommandLine) : kDefaultHostCommandLine;
  bool nt = platform_id == 2;
  if (nt && !manager->OpenManager()) {
    p.Line("Error opening service control manager: " + platform::error_message(platform::last_error()));
    return 1;
  }
  // Only the first letter counts: "delete" acts as d.
  char action = args[0].empty() ? '\0' : args[0][0];
  if (action != 'a' && action != 'd' && action != 'q') {
    p.Usage();
  } else if (!nt) {
    ConsumerAction(action, command_line, p);
  } else if (action == 'a') {
    NtAdd(*manager, command_line, p);
  } else if (action == 'd') {
    NtDelete(*manager, p);
  } else {
    NtQuery(*manager, p);
  }
  if (nt && !manager->CloseManager()) p.SystemError();
  return 0;
}

}  // namespace brisvane
