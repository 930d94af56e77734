// vaneconf on POSIX: the command-line front end, with the terminal's
// password prompt and questions.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "admin/cli/commands.h"

namespace {

std::optional<std::string> ReadLine(std::istream& in) {
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Reads one line from the terminal with echo off; the echo comes back
// whatever happens.
std::optional<std::string> ReadHidden(const char* prompt) {
  std::cerr << prompt << std::flush;
  termios old {};
  bool restore = tcgetattr(STDIN_FILENO, &old) == 0;
  if (restore) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::optional<std::string> line = ReadLine(std::cin);
  if (restore) tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
  std::cerr << "\n";
  return line;
}

// From a terminal: asked twice, without echo. Otherwise the first line of
// standard input, so that scripts can pipe it in.
std::optional<std::string> ReadPassword() {
  if (!isatty(STDIN_FILENO)) return ReadLine(std::cin);
  std::optional<std::string> first = ReadHidden("New password: ");
  if (!first) return std::nullopt;
  std::optional<std::string> again = ReadHidden("Re-type new password: ");
  if (!again || *again != *first) {
    std::cerr << "vaneconf: the passwords do not match\n";
    return std::nullopt;
  }
  return first;
}

// Only a person at a terminal can say yes.
bool Confirm(const std::string& question) {
  if (!isatty(STDIN_FILENO)) return false;
  std::cerr << question << " [y/N] " << std::flush;
  std::optional<std::string> answer = ReadLine(std::cin);
  return answer && (*answer == "y" || *answer == "Y" || *answer == "yes");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  brisvane::admin::CliTerminal term{std::cout, std::cerr, ReadPassword, Confirm};
  int rc = brisvane::admin::RunVaneconf(args, term);
  std::cout.flush();
  return rc;
}
