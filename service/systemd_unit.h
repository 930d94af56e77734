// The systemd unit that runs the host as a service: one text for the
// service tool and for the system package.
#pragma once

#include <string>
#include <vector>

namespace brisvane {

// The system user and group a package runs the server as.
inline constexpr char kServiceUser[] = "brisvane";

// The folders a packaged server writes: its logs, the document root (PUT
// and DELETE) and the registry folder (saves replace the file by rename).
inline const std::vector<std::string>& PackagedWritablePaths() {
  static const std::vector<std::string> paths = {"/var/log/brisvane", "/var/www/brisvane",
                                                 "/etc/brisvane"};
  return paths;
}

struct UnitOptions {
  std::string command_line;  // the host's command line, as the user gave it
  std::string user;          // runs as this user and its group; empty: as root
  std::vector<std::string> writable_paths;  // all else of the system is read-only
};

std::string SystemdUnitText(const UnitOptions& options);

// systemd reads "%" as a specifier, "$" as a variable and "\" as an escape
// in command lines; doubling each keeps the text as given, and undoing it
// gives the text back.
std::string EscapeForUnit(const std::string& text);
std::string UnescapeFromUnit(const std::string& text);

// The folders a service started by `command_line` writes: the packaged
// ones for a host in the system's program folders, else its install
// directory (logs, documents and registry.reg all live there).
std::vector<std::string> WritablePathsFor(const std::string& command_line);

}  // namespace brisvane
