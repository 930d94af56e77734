// Names every program of the product agrees on.
#pragma once

namespace brisvane {

// What the server calls itself, with and without its version.
inline constexpr char kProductName[] = "Brisvane";
inline constexpr char kProductNameVersion[] = "Brisvane/2.10";
constexpr const char* ServerSoftware(bool with_version) {
  return with_version ? kProductNameVersion : kProductName;
}

// The named event by which the configuration module tells a running
// engine to reload its settings.
inline constexpr char kFlushEventName[] = "BrisvaneServerFlushEvent";

// Said at start by a server running with the system's full rights.
inline constexpr char kRunningAsRootWarning[] =
    "running as root: programs started by the server run as root too";

// The name the host registers under with the service manager.
inline constexpr char kServiceName[] = "SimpleService";

}  // namespace brisvane
