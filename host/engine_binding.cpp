#include "host/engine_binding.h"

#include "platform/error.h"
#include "platform/file.h"
#include "platform/system.h"

namespace brisvane {

namespace {
// Beside the host (an install directory, the build's stage), else where a
// system package keeps private libraries: ../lib/brisvane from the program
// folder, as for /usr/sbin/vanehost and /usr/lib/brisvane.
std::string EngineLibraryPath() {
  const std::string dir = platform::executable_directory();
  const std::string beside = dir + platform::kPathSeparator + platform::engine_library_name();
  if (platform::file_attributes(beside) != platform::kInvalidAttributes) return beside;
  const std::string packaged = dir + platform::kPathSeparator + ".." + platform::kPathSeparator +
                               "lib" + platform::kPathSeparator + "brisvane" +
                               platform::kPathSeparator + platform::engine_library_name();
  if (platform::file_attributes(packaged) != platform::kInvalidAttributes) return packaged;
  return beside;  // its load failure names the usual place
}
}  // namespace

EngineBinding::EngineBinding() {
  std::string path = EngineLibraryPath();
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
