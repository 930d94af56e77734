// The service tool on Linux: the service is a systemd unit, brisvane.service,
// in /etc/systemd/system; BRISVANE_UNIT_DIR names another folder, for tests.
// When systemd runs, the unit is enabled, queried and stopped through
// systemctl (BRISVANE_SYSTEMCTL names another program, for tests, and means
// systemd runs); otherwise the tool says so and only writes or removes the
// unit. The unit runs the host as the user "brisvane" when it exists, with
// the system read-only but for the folders the server writes. The host's
// command line keeps its meaning: the first word is the program, quoted
// words hold blanks.
#include <pwd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/system.h"
#include "service/service_tool.h"
#include "service/systemd_unit.h"

namespace brisvane {
namespace {

constexpr char kUnitName[] = "brisvane.service";
// systemctl ends at once unless something is badly wrong; never hang on it.
constexpr uint32_t kSystemctlTimeoutMs = 30000;

bool ReadWholeFile(const std::string& path, std::string* text) {
  platform::FileHandle f = platform::file_open(path, platform::kGenericRead, platform::kShareRead,
                                               platform::kOpenExisting, 0);
  if (f == platform::kInvalidFile) return false;
  char buf[4096];
  int64_t n;
  while ((n = platform::file_read(f, buf, sizeof buf)) > 0) text->append(buf, static_cast<size_t>(n));
  platform::file_close(f);
  return n == 0;
}

struct CommandResult {
  bool ran = false;
  uint32_t exit_code = 0;
  std::string output;
};

// Runs systemctl with `args` directly (no shell) and collects what it
// writes, errors included, so a failure can be shown in systemctl's words.
CommandResult RunSystemctl(const std::string& program, const std::string& args) {
  CommandResult r;
  platform::PipeHandle read_end, write_end;
  if (!platform::pipe_create(&read_end, &write_end, false, true)) return r;
  platform::ProcessStart start;
  start.command_line = "\"" + program + "\" " + args;
  start.output = platform::ChildStdio::pipe(write_end);
  start.error = platform::ChildStdio::pipe(write_end);
  platform::ProcessHandle p = platform::process_spawn(start);
  platform::pipe_close(write_end);
  if (p == platform::kInvalidProcess) {
    platform::pipe_close(read_end);
    return r;
  }
  uint32_t begin = platform::tick_count();
  char buf[512];
  while (platform::tick_count() - begin < kSystemctlTimeoutMs) {
    int ready = platform::pipe_wait(read_end, 500);
    if (ready < 0) break;
    if (ready == 0) continue;
    int64_t n = platform::pipe_read(read_end, buf, sizeof buf);
    if (n <= 0) break;
    r.output.append(buf, static_cast<size_t>(n));
  }
  platform::pipe_close(read_end);
  uint32_t left = kSystemctlTimeoutMs - std::min(kSystemctlTimeoutMs, platform::tick_count() - begin);
  r.ran = platform::process_wait(p, left, &r.exit_code) == platform::WaitResult::kEnded;
  platform::process_close(p);  // terminates a systemctl that outlived its time
  return r;
}

class SystemdServiceManager final : public ServiceManager {
 public:
  explicit SystemdServiceManager(const ToolOutput& out) : out_(out) {
    unit_dir_ = platform::get_env("BRISVANE_UNIT_DIR").value_or("/etc/systemd/system");
    if (auto program = platform::get_env("BRISVANE_SYSTEMCTL")) {
      systemctl_ = *program;
    } else if (platform::file_attributes("/run/systemd/system") != platform::kInvalidAttributes) {
      // The directory systemd creates at boot, as sd_booted() checks.
      systemctl_ = "systemctl";
    }
    unit_path_ = unit_dir_ + "/" + kUnitName;
  }

  bool OpenManager() override {
    uint32_t attrs = platform::file_attributes(unit_dir_);
    if (attrs == platform::kInvalidAttributes) return false;
    if (!(attrs & platform::kAttrDirectory)) {
      platform::set_last_error(platform::err::kDirectory);
      return false;
    }
    if (systemctl_.empty())
      out_("systemd is not running: the unit file is written or removed, but not enabled, started or stopped.\n");
    return true;
  }
  bool CloseManager() override { return true; }

  // The package's system user when there is one; else the service runs as
  // root, and the user hears so.
  std::string ServiceUser() {
    if (::getpwnam(kServiceUser)) return kServiceUser;
    out_(std::string("There is no user ") + kServiceUser + ": the service will run as root.\n");
    return {};
  }

  bool Create(const std::string& command_line) override {
    platform::FileHandle f = platform::file_open(unit_path_, platform::kGenericWrite, 0, platform::kCreateNew, 0);
    if (f == platform::kInvalidFile) {
      if (platform::last_error() == platform::err::kFileExists) platform::set_last_error(platform::err::kServiceExists);
      return false;
    }
    UnitOptions unit{command_line, ServiceUser(), WritablePathsFor(command_line)};
    std::string text = SystemdUnitText(unit);
    bool written = platform::file_write(f, text.data(), text.size()) == static_cast<int64_t>(text.size());
    platform::os_error error = platform::last_error();
    platform::file_close(f);
    if (!written) {
      platform::file_delete(unit_path_);
      platform::set_last_error(error);
      return false;
    }
    open_ = true;
    Systemctl("daemon-reload");
    Systemctl(std::string("enable ") + kUnitName);
    return true;
  }

  bool Open(bool) override {
    if (platform::file_attributes(unit_path_) == platform::kInvalidAttributes) {
      platform::set_last_error(platform::err::kServiceDoesNotExist);
      return false;
    }
    open_ = true;
    return true;
  }
  bool Close() override {
    if (!open_) platform::set_last_error(platform::err::kInvalidHandle);
    return std::exchange(open_, false);
  }

  bool QueryState(uint32_t* state) override {
    *state = kServiceStopped;
    if (systemctl_.empty()) return true;  // nothing runs a unit without systemd
    CommandResult r = RunSystemctl(systemctl_, std::string("is-active ") + kUnitName);
    if (!r.ran) return false;
    std::string word = r.output.substr(0, r.output.find_first_of("\r\n"));
    if (word == "active" || word == "reloading") *state = kServiceRunning;
    if (word == "activating") *state = kServiceStartPending;
    if (word == "deactivating") *state = kServiceStopPending;
    return true;
  }

  bool QueryCommandLine(std::string* command_line) override {
    std::string text;
    if (!ReadWholeFile(unit_path_, &text)) return false;
    size_t at = text.find("\nExecStart=");
    if (at == std::string::npos) {
      platform::set_last_error(platform::err::kInvalidData);
      return false;
    }
    at += 11;
    *command_line = UnescapeFromUnit(text.substr(at, text.find('\n', at) - at));
    return true;
  }

  bool Remove() override {
    Systemctl(std::string("disable ") + kUnitName);
    if (!platform::file_delete(unit_path_)) return false;
    Systemctl("daemon-reload");
    return true;
  }

  bool SendStop() override {
    if (systemctl_.empty() || !Systemctl(std::string("stop --no-block ") + kUnitName)) {
      platform::set_last_error(platform::err::kServiceCannotAcceptCtrl);
      return false;
    }
    return true;
  }

 private:
  // Runs systemctl when systemd runs; a failure is told in one line and
  // leaves the unit file as it is.
  bool Systemctl(const std::string& args) {
    if (systemctl_.empty()) return true;
    CommandResult r = RunSystemctl(systemctl_, args);
    if (r.ran && r.exit_code == 0) return true;
    out_(r.output);
    out_("systemctl " + args + " failed" + (r.ran ? " with exit code " + std::to_string(r.exit_code) : "") + ".\n");
    return false;
  }

  const ToolOutput& out_;
  std::string unit_dir_, unit_path_, systemctl_;
  bool open_ = false;
};

}  // namespace
}  // namespace brisvane

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  brisvane::ToolOutput out = [](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  };
  brisvane::SystemdServiceManager manager(out);
  return brisvane::RunServiceTool(args, platform::platform_id(), &manager, out);
}
