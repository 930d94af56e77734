// Windows command lines into argument vectors, the Microsoft C runtime's
// way, so that a POSIX child sees the arguments a Windows one would.
#include "platform/process.h"

namespace platform {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The program name: quotes only group, backslashes are plain characters.
size_t take_program(std::string_view line, size_t i, std::string* out) {
  bool quoted = false;
  for (; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && is_blank(c)) {
      break;
    } else {
      out->push_back(c);
    }
  }
  return i;
}

size_t take_argument(std::string_view line, size_t i, std::string* out) {
  bool quoted = false;
  while (i < line.size()) {
    size_t backslashes = 0;
    while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
    if (i < line.size() && line[i] == '"') {
      out->append(backslashes / 2, '\\');
      if (backslashes % 2 == 1) {
        out->push_back('"');
      } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        out->push_back('"');
        ++i;
      } else {
        quoted = !quoted;
      }
      ++i;
      continue;
    }
    out->append(backslashes, '\\');
    if (i >= line.size() || (!quoted && is_blank(line[i]))) break;
    out->push_back(line[i++]);
  }
  return i;
}

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string arg;
    i = args.empty() ? take_program(line, i, &arg) : take_argument(line, i, &arg);
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace platform
