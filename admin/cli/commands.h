// The command-line front end of the configuration module: parses one
// command, applies it through the editing rules and saves the profile.
// The terminal (password prompts, questions) is the caller's.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace brisvane::admin {

struct CliTerminal {
  std::ostream& out;
  std::ostream& err;
  // A new password, or nothing when none could be read.
  std::function<std::optional<std::string>()> read_password;
  // The user's yes to `question`; false when nobody can answer.
  std::function<bool(const std::string& question)> confirm;
};

// Runs `args` (without the program name). Returns the exit status: 0 on
// success, 1 when the command failed, 2 for a usage error.
int RunVaneconf(const std::vector<std::string>& args, CliTerminal& term);

}  // namespace brisvane::admin
