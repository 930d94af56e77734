#include "host/engine_binding.h"

#include "platform/error.h"
#include "platform/system.h"

namespace brisvane {

EngineBinding::EngineBinding() {
  std::string path = platform::executable_directory() + platform::kPathSeparator +
                     platform::engine_library_name();
  library_.reset(platform::library_load(path));
  if (!library_) {
    status_ = platform::error_message(platform::last_error());
    return;
  }
  auto create = reinterpret_cast<CreateServerInstanceFunction>(
      platform::library_symbol(library_.get(), "CreateServerInstance"));
  if (!create) {
    status_ = platform::error_message(platform::last_error());
    return;
  }
  if (create(&instance_) && instance_) {
    status_ = "Module loaded";
  } else {
    instance_ = nullptr;
    status_ = "Could not instantiate server";
  }
}

EngineBinding::~EngineBinding() {
  delete instance_;  // the engine's own deleting destructor frees it
  instance_ = nullptr;
  // The library goes after the instance, with the members.
}

}  // namespace brisvane
