// The run-time form of the configuration: one immutable snapshot of the
// settings and the virtual servers built from them. Start and Flush build a
// new snapshot; requests hold the one they started with.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/server_settings.h"

namespace brisvane {

class EngineLogs;

class VirtualServerRuntime {
 public:
  // Loads the error template when the configuration asks for one; a file
  // that cannot be opened switches this server to the built-in page.
  VirtualServerRuntime(const VirtualServerConfig& config, EngineLogs* logs);

  const VirtualServerConfig& config() const { return config_; }
  const std::string& error_template() const { return error_template_; }
  bool use_error_template() const { return use_error_template_; }

 private:
  const VirtualServerConfig& config_;
  std::string error_template_;
  bool use_error_template_ = false;
};

struct EngineSnapshot {
  ServerSettings settings;
  std::vector<std::unique_ptr<VirtualServerRuntime>> servers;
};

}  // namespace brisvane
