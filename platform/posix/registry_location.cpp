#include "platform/posix/registry_location.h"

#include "platform/error.h"
#include "platform/file.h"
#include "platform/system.h"

namespace platform::posix {

namespace {
// Where a system package keeps the registry: programs installed in the
// system's own program folders have no install directory of their own.
constexpr char kSystemRegistryFile[] = "/etc/brisvane/registry.reg";
bool InSystemProgramFolder(const std::string& dir) {
  return dir == "/usr/bin" || dir == "/usr/sbin";
}
}  // namespace

std::string registry_file_path() {
  if (auto env = get_env("BRISVANE_REGISTRY"); env && !env->empty()) return *env;
  std::string dir = executable_directory();
  if (InSystemProgramFolder(dir)) {
    os_error saved = last_error();  // a missing file is no failure of the caller's
    bool installed = file_attributes(kSystemRegistryFile) != kInvalidAttributes;
    set_last_error(saved);
    if (installed) return kSystemRegistryFile;
  }
  return dir + "/registry.reg";
}

}  // namespace platform::posix
