// Loads the engine library from the host's own directory and creates the
// one engine instance through its export.
#pragma once

#include <string>

#include "engine/core/server_instance.h"
#include "platform/scoped_handle.h"

namespace brisvane {

class EngineBinding {
 public:
  EngineBinding();
  // Destroys the instance, then unloads the library.
  ~EngineBinding();
  EngineBinding(const EngineBinding&) = delete;
  EngineBinding& operator=(const EngineBinding&) = delete;

  bool loaded() const { return instance_ != nullptr; }
  ServerInstance* instance() const { return instance_; }
  // "Module loaded", "Could not instantiate server" or the system's text.
  const std::string& status() const { return status_; }

 private:
  platform::ScopedLibrary library_;
  ServerInstance* instance_ = nullptr;
  std::string status_;
};

}  // namespace brisvane
