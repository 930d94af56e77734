#include "host/command_line.h"

namespace brisvane {
namespace {

// The next token up to a single blank, which is consumed.
std::string NextToken(std::string* rest) {
  size_t blank = rest->find(' ');
  std::string token;
  if (blank == std::string::npos) {
    token = *rest;
    rest->clear();
  } else {
    token = rest->substr(0, blank);
    rest->erase(0, blank + 1);
  }
  return token;
}

}  // namespace

HostCommandLine ParseHostCommandLine(const std::string& command_line) {
  HostCommandLine result;
  std::string rest = command_line;
  NextToken(&rest);  // the program path
  while (true) {
    std::string token = NextToken(&rest);
    if (token.empty()) break;
    if (token == "-p") {
      std::string name = NextToken(&rest);
      if (name.empty()) {
        result.missing_profile = true;
        result.profile = "Default";
        break;
      }
      result.profile = name;
    } else if (token == "-s") {
      result.mode = HostMode::kService;
    } else if (token == "-c") {
      result.mode = HostMode::kOldSwitch;
    } else if (token == "-?" || token == "/?" || token == "?") {
      result.mode = HostMode::kHelp;
    }
  }
  return result;
}

}  // namespace brisvane
