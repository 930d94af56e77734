// The `service` tool: registers the host to start with the system, removes
// that registration or reports it. The argument handling and every printed
// line live here; the system's service manager is reached through
// ServiceManager (the Windows service control manager, or systemd on Linux),
// and the consumer line of Windows keeps its registration in the registry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brisvane {

inline constexpr char kToolServiceName[] = "Brisvane";
inline constexpr char kToolDisplayName[] = "Brisvane Professional";
inline constexpr char kDefaultHostCommandLine[] = "C:\\HTTPD\\VANEHOST.EXE -s";
// The consumer line starts the values of this local-machine key at boot.
inline constexpr char kRunServicesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";

// Service states as the service control manager numbers them.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;

// One service manager session for the service named kToolServiceName. Every
// call that fails returns false with platform::last_error() set, so the
// tool can print the system's message for it. At most one service is open
// at a time.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual bool OpenManager() = 0;
  virtual bool CloseManager() = 0;
  // Registers an own-process, automatically started service that runs
  // `command_line`; the new service is left open.
  virtual bool Create(const std::string& command_line) = 0;
  // Opens the existing service, for reading only or for every change.
  virtual bool Open(bool full_access) = 0;
  virtual bool Close() = 0;
  virtual bool QueryState(uint32_t* state) = 0;
  virtual bool QueryCommandLine(std::string* command_line) = 0;
  virtual bool Remove() = 0;
  // Asks the running service to stop and returns without waiting.
  virtual bool SendStop() = 0;
};

using ToolOutput = std::function<void(std::string_view)>;

// Runs the tool with its arguments (the program name excluded) on the given
// platform (1 consumer line, 2 NT line; others are refused). `manager` is
// used on the NT line only. Returns the exit code: 1 when the manager cannot
// be opened, 0 otherwise.
int RunServiceTool(const std::vector<std::string>& args, int platform_id,
                   ServiceManager* manager, const ToolOutput& out);

}  // namespace brisvane
