// Writes the essentials of a configuration into the registry layout of
// another vendor's web server (below SOFTWARE\Tamsel\WebServer), so that a
// site can move there.
#pragma once

#include "config/server_settings.h"

namespace brisvane {

inline constexpr char kForeignRoot[] = "SOFTWARE\\Tamsel\\WebServer\\CurrentVersion";
inline constexpr char kForeignServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\WebServer";

// The first virtual server's site values, the global type map and
// associations, and the running executable as the foreign service's
// ImagePath (`image_path` when given: a program that is not the host
// names the host that way). Existing values are overwritten, nothing is deleted; single
// write failures are not reported. False only when there is no virtual
// server.
bool ExportForeignConfiguration(const ServerSettings& settings,
                                const std::string& image_path = {});

}  // namespace brisvane
