// The host's command line: "-p profile", "-s", "-c" and the help switches.
#pragma once

#include <string>

namespace brisvane {

enum class HostMode { kApplication, kService, kOldSwitch, kHelp };

struct HostCommandLine {
  HostMode mode = HostMode::kApplication;
  std::string profile = "Default";
  // "-p" came without a name; the host tells the user and uses "Default".
  bool missing_profile = false;
};

// Parses the whole command line as the system reports it, program path
// first. Tokens end at single blanks; an empty token (two blanks in a row,
// or the end) ends the parsing. Comparisons are exact.
HostCommandLine ParseHostCommandLine(const std::string& command_line);

inline constexpr char kHostCaption[] = "Brisvane Professional";
inline constexpr char kHostUsage[] =
    "vanehost [-?] [-s] [-p profile]\n-?    Help screen\n-s    Service mode\n-p    Specifiy a profile";
inline constexpr char kOldSwitchText[] = "The new configuration module is now VANECONF.EXE";
inline constexpr char kNoProfileText[] = "No profile specified, using default";
// Shown when the engine would not start; the engine's logs say why.
inline constexpr char kCouldNotStartText[] = "Could not start server";

}  // namespace brisvane
