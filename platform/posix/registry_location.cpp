#include "platform/posix/registry_location.h"

#include "platform/system.h"

namespace platform::posix {

std::string registry_file_path() {
  if (auto env = get_env("BRISVANE_REGISTRY"); env && !env->empty()) return *env;
  return executable_directory() + "/registry.reg";
}

}  // namespace platform::posix
