#include "engine/core/virtual_server.h"

#include "engine/core/log_writer.h"
#include "platform/file.h"
#include "platform/scoped_handle.h"

namespace brisvane {

VirtualServerRuntime::VirtualServerRuntime(const VirtualServerConfig& config, EngineLogs* logs)
    : config_(config) {
  if (!config.use_error_template || config.error_template_file_name.empty()) return;
  platform::ScopedFile f(platform::file_open(config.error_template_file_name, platform::kGenericRead,
                                             platform::kShareRead, platform::kOpenExisting, 0));
  if (!f) {
    if (logs) logs->Error("Could not open error template, using default", nullptr);
    return;
  }
  char buf[8192];
  while (true) {
    int64_t n = platform::file_read(f.get(), buf, sizeof buf);
    if (n <= 0) break;
    error_template_.append(buf, static_cast<size_t>(n));
  }
  use_error_template_ = true;
}

}  // namespace brisvane
