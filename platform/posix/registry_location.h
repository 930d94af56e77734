// Where the registry file of this process lives. The registry store and the
// named events both depend on it, so that everything one installation
// shares is found through the same file.
#pragma once

#include <string>

namespace platform::posix {

// BRISVANE_REGISTRY when set and non-empty; else /etc/brisvane/registry.reg
// for a program in /usr/bin or /usr/sbin when that file exists (a system
// package); else registry.reg beside the executable.
std::string registry_file_path();

}  // namespace platform::posix
