// The service tool on Windows: the NT line works through the service
// control manager; the consumer line needs no manager.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"
#include "service/service_tool.h"

namespace brisvane {
namespace {

static_assert(kServiceStopped == SERVICE_STOPPED && kServiceStartPending == SERVICE_START_PENDING &&
              kServiceStopPending == SERVICE_STOP_PENDING && kServiceRunning == SERVICE_RUNNING);

// The configuration read back by a query fits this buffer.
constexpr DWORD kConfigBufferBytes = 1024;

class ScmServiceManager final : public ServiceManager {
 public:
  ~ScmServiceManager() override {
    if (service_) CloseServiceHandle(service_);
    if (manager_) CloseServiceHandle(manager_);
  }

  bool OpenManager() override {
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    return manager_ != nullptr;
  }
  bool CloseManager() override { return Release(&manager_); }

  bool Create(const std::string& command_line) override {
    service_ = CreateServiceA(manager_, kToolServiceName, kToolDisplayName, SERVICE_ALL_ACCESS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              command_line.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    return service_ != nullptr;
  }
  bool Open(bool full_access) override {
    service_ = OpenServiceA(manager_, kToolServiceName, full_access ? SERVICE_ALL_ACCESS : GENERIC_READ);
    return service_ != nullptr;
  }
  bool Close() override { return Release(&service_); }

  bool QueryState(uint32_t* state) override {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service_, &status)) return false;
    *state = status.dwCurrentState;
    return true;
  }
  bool QueryCommandLine(std::string* command_line) override {
    // QUERY_SERVICE_CONFIGA holds pointers, so the buffer is aligned for them.
    alignas(QUERY_SERVICE_CONFIGA) char buffer[kConfigBufferBytes];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfigA(service_, config, sizeof buffer, &needed)) return false;
    *command_line = config->lpBinaryPathName ? config->lpBinaryPathName : "";
    return true;
  }
  bool Remove() override { return DeleteService(service_) != 0; }
  bool SendStop() override {
    SERVICE_STATUS status{};
    return ControlService(service_, SERVICE_CONTROL_STOP, &status) != 0;
  }

 private:
  static bool Release(SC_HANDLE* handle) {
    SC_HANDLE h = *handle;
    *handle = nullptr;
    return h != nullptr && CloseServiceHandle(h) != 0;
  }

  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

}  // namespace
}  // namespace brisvane

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  brisvane::ScmServiceManager manager;
  return brisvane::RunServiceTool(args, platform::platform_id(), &manager, [](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  });
}
